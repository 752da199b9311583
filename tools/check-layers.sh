#!/bin/sh
# Checks that no include in src/ runs from a lower subsystem up to a higher
# one. The floors, lowest first; the entry points stand above them all.
# Prints each offending include; exit 1 if there is any.
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
floors="action documents appindex media catalog registry deploy shortcuts entry"
floor() {
  n=0
  for f in $floors; do
    [ "$f" = "$1" ] && { echo $n; return; }
    n=$((n + 1))
  done
  echo -1
}
status=0
for room in $floors; do
  [ -d "$top/src/$room" ] || continue
  mine=$(floor "$room")
  # deploy/cabinet is the portable decoder and writer inside deploy.
  for line in $(grep -rHo '#include "[a-z_]*/' "$top/src/$room" | sed 's|#include "||; s|/$||' | sort -u); do
    file=${line%%:*}
    target=${line##*:}
    theirs=$(floor "$target")
    if [ "$theirs" -lt 0 ] || [ "$theirs" -gt "$mine" ]; then
      echo "${file#$top/}: includes $target/ from $room/"
      status=1
    fi
  done
done
[ $status -eq 0 ] && echo "no include runs up a floor"
exit $status
