# Sourced by the fuzz scripts: builds the fuzz targets and runs them from a copy of their
# seeds, with their dictionaries where there are any.

# mirte_fuzz_build [fast]: the targets under AddressSanitizer + UndefinedBehaviorSanitizer in
# build-fuzz/, or with "fast" without them in build-fuzz-fast/. The fast targets run two to
# three times as many inputs a second and still catch every crash, hang and failed check of
# their own (the standard library checks its indices there); the sanitized ones run every
# input the fast ones kept, so that no memory fault in them goes unseen.
mirte_fuzz_build() {
  local folder=build-fuzz sanitize=address,undefined
  [ "${1:-}" = fast ] && folder=build-fuzz-fast sanitize=
  CXX=clang++ cmake -S . -B "$folder" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMIRTE_WITH_QT=OFF \
    -DMIRTE_BENCH=OFF -DMIRTE_FUZZ=ON -DMIRTE_FUZZ_SANITIZE="$sanitize" >/dev/null
  cmake --build "$folder"
}

# mirte_fuzz_replay BINARY CORPUS CRASHES: runs every input in CORPUS once through BINARY.
# An input that fails is saved in CRASHES by the fuzzer and taken out of CORPUS, and the
# replay goes on with the rest. Fails when an input failed or the replay could not run.
mirte_fuzz_replay() {
  local binary=$1 corpus=$2 crashes=$3 log failed=0 before newest input
  log=$(mktemp)
  mkdir -p "$crashes"
  for _ in $(seq 1 100); do
    before=$(ls "$crashes" | wc -l)
    if "$binary" -runs=0 -artifact_prefix="$crashes/" "$corpus" >"$log" 2>&1; then
      rm -f "$log"
      return "$failed"
    fi
    newest=$(ls -t "$crashes" | head -n 1)
    if [ "$(ls "$crashes" | wc -l)" = "$before" ] || [ -z "$newest" ]; then
      tail -n 20 "$log" >&2
      rm -f "$log"
      return 1
    fi
    grep -m 1 "ERROR\|==ERROR\|deadly signal\|abort" "$log" >&2 || true
    echo "failing input: $crashes/$newest" >&2
    failed=1
    for input in "$corpus"/*; do cmp -s "$input" "$crashes/$newest" && rm -f "$input"; done
  done
  rm -f "$log"
  return 1
}

# mirte_fuzz_dict TARGET: the -dict= option, or nothing.
mirte_fuzz_dict() {
  [ -f "fuzz/$1.dict" ] && echo "-dict=fuzz/$1.dict"
  return 0
}

# mirte_fuzz_work_folder: a new folder for a corpus the fuzzer keeps writing, in memory when
# /dev/shm can be written. The fuzzer makes and removes files there all the time, and a disk
# file system looks through every inode removed in the last seconds before it hands out a
# new one.
mirte_fuzz_work_folder() {
  if [ -w /dev/shm ]; then mktemp -d /dev/shm/mirte-fuzz-XXXXXX; else mktemp -d; fi
}

# mirte_fuzz_seed_copy TARGET FOLDER: the committed seeds into FOLDER (made if missing).
mirte_fuzz_seed_copy() {
  mkdir -p "$2"
  [ -d "fuzz/corpus/$1" ] && cp -n "fuzz/corpus/$1/"* "$2/" 2>/dev/null
  return 0
}
