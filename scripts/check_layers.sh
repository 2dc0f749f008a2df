#!/usr/bin/env bash
# Fails when a file includes a header of a layer above its own, or of another layer on the
# same level. Sources in src/<layer>/ and their tests in tests/<layer>/ are checked; tests
# may also use tests/support/.
set -euo pipefail
cd "$(dirname "$0")/.."

# Each layer with its level, bottom first; a layer may include only layers of a lower level.
levels="platform:0 common:1 terminal:2 serial:2 board:3 eprom:3 session:4 app:5 serve:6"

level_of() {
  local entry
  for entry in $levels; do
    [ "${entry%%:*}" = "$1" ] && { echo "${entry##*:}"; return; }
  done
  echo ""
}

faults=0
for entry in $levels; do
  layer=${entry%%:*}
  own=${entry##*:}
  for dir in src/$layer tests/$layer; do
    [ -d "$dir" ] || continue
    while IFS=: read -r file line included; do
      target=${included%%/*}
      [ "$target" = "$layer" ] && continue
      [ "$dir" = "tests/$layer" ] && [ "$target" = support ] && continue
      theirs=$(level_of "$target")
      if [ -z "$theirs" ] || [ "$theirs" -ge "$own" ]; then
        echo "layering: $file:$line includes $included ($layer may not reach $target)"
        faults=$((faults + 1))
      fi
    done < <(grep -rnoE '^#include "[a-z_]+/[^"]+"' "$dir" | sed -E 's/#include "([^"]+)"/\1/')
  done
done

if [ "$faults" -gt 0 ]; then
  echo "layering: $faults include(s) run upward or sideways"
  exit 1
fi
echo "layering: every include runs downward"
