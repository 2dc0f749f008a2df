#!/usr/bin/env bash
# scripts/fuzz_rates.sh [RUNS] [FOLDER]: inputs a second of every fuzz target over a fixed
# corpus, so that two builds can be compared: each target runs RUNS inputs (default 20000)
# with -seed=1 from a fresh copy of its seeds and its dictionary. FOLDER holds the target
# binaries (default: both builds, sanitized build-fuzz/fuzz and build-fuzz-fast/fuzz, built
# first). Printed per target: the run's wall-clock seconds and inputs per second, and the
# inputs per second of CPU time the process used, which a busy
# machine disturbs far less than the wall clock; the load average is printed beside.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/fuzz_common.sh
runs=${1:-20000}
folders=("${2:-}")
if [ -z "${folders[0]}" ]; then
  mirte_fuzz_build >/dev/null
  mirte_fuzz_build fast >/dev/null
  folders=(build-fuzz/fuzz build-fuzz-fast/fuzz)
fi
echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
printf '%-20s %-22s %7s %8s %9s %9s %11s\n' build target runs seconds inputs/s cpu-s inputs/cpu-s
work=$(mirte_fuzz_work_folder)
trap 'rm -rf "$work"' EXIT
for binary in $(for folder in "${folders[@]}"; do ls "$folder"/*_fuzz; done); do
  build=$(dirname "$binary")
  target=$(basename "$binary")
  rm -rf "$work/corpus"
  mirte_fuzz_seed_copy "$target" "$work/corpus"
  TIMEFORMAT='%R %U %S'
  if ! { time "$binary" -runs="$runs" -seed=1 -print_final_stats=1 $(mirte_fuzz_dict "$target") \
           "$work/corpus" >"$work/log" 2>&1; } 2>"$work/time"; then
    tail -n 20 "$work/log" >&2
    exit 1
  fi
  # libFuzzer's own rate counts whole seconds, too coarse for a fast target's short run.
  read -r seconds user system <"$work/time"
  cpu=$(awk "BEGIN { printf \"%.2f\", $user + $system }")
  printf '%-20s %-22s %7s %8s %9.0f %9s %11.0f\n' "$build" "$target" "$runs" "$seconds" \
    "$(awk "BEGIN { print $runs / ($seconds > 0 ? $seconds : 0.01) }")" "$cpu" \
    "$(awk "BEGIN { print $runs / ($cpu > 0 ? $cpu : 0.01) }")"
done
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
