#!/bin/sh
# Checks the naming rule of .clang-tidy over src/ and lists how many names break it in
# each file. Needs a configured build (compile_commands.json, default ./build) and
# clang-tidy. Exit 0 when every name keeps the rule, 1 when some do not, 2 when it cannot
# run. Usage: scripts/check_naming.sh [build folder] [jobs]
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
jobs=${2:-$(nproc)}
if [ ! -f "$build/compile_commands.json" ]; then
  echo "check_naming: no $build/compile_commands.json (configure the build first)" >&2
  exit 2
fi
command -v clang-tidy >/dev/null || { echo "check_naming: clang-tidy is not installed" >&2; exit 2; }

out=$(mktemp)
trap 'rm -f "$out"' EXIT
# Every translation unit of src/ once; headers are checked through them (HeaderFilterRegex),
# and a header's finding is counted once however many units include it.
find "$root/src" -name '*.cpp' -print0 |
  xargs -0 -n 8 -P "$jobs" clang-tidy --quiet -p "$build" 2>/dev/null |
  grep -E '^/.*: warning: .*\[readability-identifier-naming\]' | sort -u >"$out" || true

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
