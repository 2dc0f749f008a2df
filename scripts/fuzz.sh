#!/usr/bin/env bash
# scripts/fuzz.sh TARGET HOURS: a long run of one fuzz target on every core (-fork), e.g.
# overnight: `nohup scripts/fuzz.sh board_fuzz 8 > fuzz-board.log 2>&1 &`.
# The fast build (no sanitizers) does the fuzzing; at the end the sanitized build runs every
# input it kept and minimises the corpus. The corpus grows in build-fuzz/corpus/TARGET/
# (started from the seeds, kept between runs). Every failing input is copied to
# tests/fuzz/regressions/TARGET/, where the ordinary test suite replays it: commit it with
# the fix, and the suite fails until the fault is mended.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/fuzz_common.sh
target=${1:?usage: scripts/fuzz.sh TARGET HOURS}
hours=${2:?usage: scripts/fuzz.sh TARGET HOURS}
mirte_fuzz_build
mirte_fuzz_build fast
binary=build-fuzz/fuzz/$target
fast=build-fuzz-fast/fuzz/$target
[ -x "$binary" ] && [ -x "$fast" ] || { echo "no fuzz target $target" >&2; exit 2; }

corpus=build-fuzz/corpus/$target
crashes=build-fuzz/crashes/$target
mirte_fuzz_seed_copy "$target" "$corpus"
mkdir -p "$crashes"
seconds=$(awk "BEGIN { printf \"%d\", $hours * 3600 }")
# The fork jobs' own corpus files come and go all the time; in memory where they can be.
[ -w /dev/shm ] && export TMPDIR=/dev/shm
# A crash ends one fork job only; the run goes on and keeps every crash input.
"$fast" -fork="$(nproc)" -ignore_crashes=1 -ignore_ooms=1 -ignore_timeouts=1 \
  -max_total_time="$seconds" -artifact_prefix="$crashes/" $(mirte_fuzz_dict "$target") "$corpus" || true

echo "--- every kept input under the sanitizers"
mirte_fuzz_replay "$binary" "$corpus" "$crashes" || true

echo "--- minimising the corpus"
minimised=$(mktemp -d build-fuzz/corpus/.min-XXXXXX)
"$binary" -merge=1 "$minimised" "$corpus" >/dev/null 2>&1 && rm -rf "$corpus" && mv "$minimised" "$corpus"
rm -rf "$minimised"
echo "corpus: $(ls "$corpus" | wc -l) inputs in $corpus"

found=0
for crash in "$crashes"/crash-* "$crashes"/leak-* "$crashes"/timeout-* "$crashes"/oom-*; do
  [ -f "$crash" ] || continue
  found=$((found + 1))
  cp "$crash" "tests/fuzz/regressions/$target/"
done
if [ "$found" -gt 0 ]; then
  echo "$found failing inputs copied to tests/fuzz/regressions/$target/ (the suite now replays them)"
  exit 1
fi
echo "no failing input"
