# Sourced by the scripts that run orvo_Action under Wine. Debian's
# /usr/bin/wine takes the 32-bit loader whenever wine32 is installed, even
# where the machine cannot run it, so each build names its own loader.
orvo_tools=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

# Whether this machine runs the x86 build: 32-bit Wine installed and 32-bit
# programs executable.
orvo_runs_x86() { [ -x /usr/lib/wine/wine ] && "$orvo_tools/runs-x86.sh"; }

# The build a demonstration or benchmark uses: ORVO_ARCH if set, else x86
# where it runs (the product as shipped for 32-bit packages), else x64.
orvo_pick_arch() {
  if [ -n "${ORVO_ARCH:-}" ]; then echo "$ORVO_ARCH"
  elif orvo_runs_x86; then echo x86
  else echo x64
  fi
}

# wine_setup ARCH PREFIX: Wine for that build (x64 or x86) in a private
# prefix; wine and wineserver then mean that build's loader and server.
wine_setup() {
  case $1 in
    x64) export WINELOADER=/usr/lib/wine/wine64 WINESERVER=/usr/lib/wine/wineserver64 WINEARCH=win64 ;;
    x86) export WINELOADER=/usr/lib/wine/wine WINESERVER=/usr/lib/wine/wineserver32 WINEARCH=win32 ;;
    *) echo "unknown build '$1' (x64 or x86)" >&2; return 2 ;;
  esac
  export WINEPREFIX=$2 WINEDEBUG=${WINEDEBUG:--all} WINEDLLOVERRIDES="mscoree,mshtml="
}
wine() { "$WINELOADER" "$@"; }
wineserver() { "$WINESERVER" "$@"; }

# Starts the prefix's server and boots the prefix (made on first use).
# Wine's services hold the standard streams; nothing may wait on them.
wine_up() {
  mkdir -p "$WINEPREFIX"
  wineserver -p </dev/null >/dev/null 2>&1 || true  # one may be running for this prefix already
  wine wineboot </dev/null >/dev/null 2>&1 || true
}
wine_down() { wineserver -k </dev/null >/dev/null 2>&1 || true; }

# The toolchain file of a build.
orvo_toolchain() { case $1 in x64) echo "$orvo_tools/../cmake/mingw-x86_64.cmake" ;; x86) echo "$orvo_tools/../cmake/mingw-i686.cmake" ;; esac; }
