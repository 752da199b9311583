#!/usr/bin/env bash
# Prepares a fresh Debian 12 machine to build and test orvo_Action:
# the mingw cross compilers (i686 and x86_64), 64-bit Wine (and 32-bit Wine
# where the machine executes 32-bit programs), the installer and cabinet
# tools, and a static Xerces-C++ for each mingw target built from Debian's
# source package.
# Safe to run again: installed packages and a finished Xerces build are kept.
set -euo pipefail

top=$(cd "$(dirname "$0")/.." && pwd)
deps=${ORVO_DEPS:-$top/.deps}
say() { printf '[bootstrap] %s\n' "$*"; }

# One line per step here; what the tools print goes to the log, which is
# shown only when a step fails.
log_dir=${ORVO_BUILD:-$top/build}
mkdir -p "$log_dir"
log=$log_dir/bootstrap.log
: > "$log"
quietly() { printf '\n$ %s\n' "$*" >> "$log"; "$@" >> "$log" 2>&1; }
fail() {
  say "FAILED: $*; the end of $log:"
  tail -n 40 "$log" >&2
  exit 1
}

sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi
export DEBIAN_FRONTEND=noninteractive

packages=(
  build-essential cmake ninja-build pkg-config dpkg-dev googletest python3
  g++-mingw-w64-i686 g++-mingw-w64-x86-64 mingw-w64-tools libz-mingw-w64-dev
  wine wine64
  msitools wixl gcab cabextract
  nginx-light
  clang libclang-rt-14-dev zlib1g-dev
)

# 32-bit Wine only where it can start: on a machine that cannot execute
# 32-bit programs its packages would install and never run.
if "$top/tools/runs-x86.sh"; then
  packages+=(wine32:i386)
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    say "adding the i386 architecture"
    quietly "${sudo_cmd[@]}" dpkg --add-architecture i386 || fail "dpkg --add-architecture i386"
  fi
else
  say "this machine does not execute 32-bit programs: 64-bit Wine only (the x86 build is checked, not run)"
fi

# A mirror in the middle of a sync fails an update now and then: try again,
# then go on with whatever lists were fetched (the install says if any lack).
apt_update() {
  local try
  for try in 1 2 3 4 5; do
    quietly "$@" update -q && return 0
    say "apt-get update failed (try $try), retrying"
    sleep $((try * 10))
  done
  say "apt-get update kept failing; going on with the lists at hand"
}

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
if [ ${#missing[@]} -gt 0 ]; then
  say "installing: ${missing[*]}"
  apt_update "${sudo_cmd[@]}" apt-get
  if ! quietly "${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"; then
    # A suite whose index for one architecture failed to download leaves
    # the two architectures at different versions, which multiarch refuses.
    # Install from the release and its updates alone, with lists of our own.
    say "install failed; trying again from the release and its updates only"
    fallback=$deps/apt-fallback
    mkdir -p "$fallback/lists/partial" "$fallback/parts"
    cat > "$fallback/sources.list" <<SRC
deb [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] http://deb.debian.org/debian bookworm main
deb [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] http://deb.debian.org/debian bookworm-updates main
SRC
    fallback_opts=(-o Dir::Etc::SourceList="$fallback/sources.list"
                   -o Dir::Etc::SourceParts="$fallback/parts"
                   -o Dir::State::Lists="$fallback/lists")
    apt_update "${sudo_cmd[@]}" apt-get "${fallback_opts[@]}"
    quietly "${sudo_cmd[@]}" apt-get "${fallback_opts[@]}" install -y -q --no-install-recommends "${missing[@]}" ||
      fail "installing the packages"
  fi
else
  say "all packages present"
fi

# Xerces-C++ 3.2, static, for each mingw target, from one source download.
fetched_source=
xerces_source() {
  [ -n "$fetched_source" ] && return 0
  say "fetching Debian's xerces-c source package (private apt state in $deps/apt)"
  apt_dir=$deps/apt
  mkdir -p "$apt_dir/lists/partial" "$apt_dir/parts" "$apt_dir/cache/archives/partial" "$deps/src"
  cat > "$apt_dir/sources.list" <<SRC
deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] http://deb.debian.org/debian bookworm main
SRC
  apt_opts=(-o Dir::Etc::SourceList="$apt_dir/sources.list"
            -o Dir::Etc::SourceParts="$apt_dir/parts"
            -o Dir::State::Lists="$apt_dir/lists"
            -o Dir::Cache="$apt_dir/cache"
            -o APT::Sandbox::User=root)
  apt_update apt-get "${apt_opts[@]}"
  rm -rf "$deps/src"/xerces-c*
  (cd "$deps/src" && quietly apt-get "${apt_opts[@]}" source -q xerces-c) || fail "fetching the xerces-c source"
  fetched_source=$(find "$deps/src" -maxdepth 1 -type d -name 'xerces-c-*' | head -n1)
  [ -n "$fetched_source" ] || fail "xerces-c source not found"
}

for target in i686 x86_64; do
  toolchain=$top/cmake/mingw-$target.cmake
  xerces_prefix=$deps/xerces-$target
  xerces_stamp=$xerces_prefix/.built-with-$(sha1sum "$toolchain" | cut -c1-12)
  if [ -f "$xerces_prefix/lib/libxerces-c.a" ] && [ -f "$xerces_stamp" ]; then
    say "xerces-c for $target already built in $xerces_prefix"
    continue
  fi
  xerces_source
  say "building xerces-c for $target from $fetched_source"
  rm -rf "$deps/build/xerces-$target" "$xerces_prefix"
  quietly cmake -S "$fetched_source" -B "$deps/build/xerces-$target" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_INSTALL_PREFIX="$xerces_prefix" \
    -DBUILD_SHARED_LIBS=OFF \
    -Dtranscoder=windows -Dnetwork-accessor=winsock \
    -Dmessage-loader=inmemory -Dxmlch-type=wchar_t \
    -Dthreads=ON || fail "configuring xerces-c for $target"
  quietly cmake --build "$deps/build/xerces-$target" --target xerces-c || fail "building xerces-c for $target"
  for component in development runtime; do
    quietly cmake --install "$deps/build/xerces-$target/src" --component "$component" || fail "installing xerces-c for $target"
  done
  [ -f "$xerces_prefix/lib/libxerces-c.a" ] || fail "xerces-c for $target did not produce libxerces-c.a"
  touch "$xerces_stamp"
  say "xerces-c for $target installed in $xerces_prefix"
done
say "done"
