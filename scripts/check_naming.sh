#!/bin/sh
# Checks the naming rule of .clang-tidy over src/ and lists how many names break it in
# each file. Needs a configured build (compile_commands.json, default ./build) and
# clang-tidy. Exit 0 when every name keeps the rule, 1 when some do not, 2 when it cannot
# run or clang-tidy could not read a unit (a unit it cannot parse has no names to show, so
# it would pass unchecked). Usage: scripts/check_naming.sh [build folder] [jobs]
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
jobs=${2:-$(nproc)}
if [ ! -f "$build/compile_commands.json" ]; then
  echo "check_naming: no $build/compile_commands.json (configure the build first)" >&2
  exit 2
fi
command -v clang-tidy >/dev/null || { echo "check_naming: clang-tidy is not installed" >&2; exit 2; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# Every translation unit of src/ once; headers are checked through them (HeaderFilterRegex),
# and a header's finding is counted once however many units include it. Each batch of
# units writes its own output and exit status, so parallel batches never mix their lines.
find "$root/src" -name '*.cpp' -print0 |
  xargs -0 -n 8 -P "$jobs" sh -c '
    out=$(mktemp "$1/batch.XXXXXX")
    shift 2
    clang-tidy --quiet -p "$0" "$@" >"$out" 2>&1 && status=0 || status=$?
    echo "$status" >"$out.status"' "$build" "$work" _ || true

# A unit clang-tidy could not parse (a compiler error, a crash, a unit it was not run on)
# fails the check, whatever the other units found.
failed=""
for status in "$work"/batch.*.status; do
  [ -e "$status" ] || continue
  [ "$(cat "$status")" = 0 ] || failed="$failed ${status%.status}"
done
batches=$(find "$work" -name 'batch.*.status' | wc -l)
expected=$(( ($(find "$root/src" -name '*.cpp' | wc -l) + 7) / 8 ))
if [ -n "$failed" ] || [ "$batches" -ne "$expected" ]; then
  echo "check_naming: clang-tidy could not check every unit of src/ ($batches of $expected batches of units ran):" >&2
  for batch in $failed; do
    # The compiler's errors name the unit or header at fault; a batch without them (a crash)
    # shows how its output ended.
    if grep -qE ': (fatal )?error: ' "$batch"; then
      grep -E ': (fatal )?error: ' "$batch" | sed "s|$root/||" >&2
    else
      tail -n 5 "$batch" | sed "s|$root/||" >&2
    fi
  done
  echo "check_naming: fix the build or the unit, then check again" >&2
  exit 2
fi

out="$work/findings"
find "$work" -name 'batch.*' ! -name '*.status' -exec cat {} + | grep -E '^/.*: warning: .*\[readability-identifier-naming\]' | sort -u >"$out" || true
count=$(wc -l <"$out")
if [ "$count" -eq 0 ]; then
  echo "check_naming: every name keeps the rule"
  exit 0
fi
echo "check_naming: $count names break the rule, by file:"
sed -E "s|^$root/||; s|:[0-9]+:[0-9]+: .*||" "$out" | sort | uniq -c | sort -rn
echo "by kind of name:"
sed -E "s|.*invalid case style for ([a-z ]+) '.*|\1|" "$out" | sort | uniq -c | sort -rn
exit 1
