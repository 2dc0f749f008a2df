#!/usr/bin/env bash
# Line and branch coverage of the source files under src/board, src/terminal, src/common and
# src/platform reached by the fuzz targets: the targets are built with clang's source-based
# coverage in build-cov/, as the fast fuzz build without the sanitizers (which would only slow
# the run), each runs its seeds and then fuzzes for MIRTE_FUZZ_SECONDS (default 60) from a
# copy of them, and llvm-cov prints the table per file.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/fuzz_common.sh
if ! command -v llvm-profdata >/dev/null || ! command -v llvm-cov >/dev/null; then
  [ "$(id -u)" = 0 ] || { echo "needs llvm-profdata and llvm-cov: sudo apt-get install llvm-14" >&2; exit 1; }
  DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends llvm-14 >/dev/null
  export PATH=/usr/lib/llvm-14/bin:$PATH
fi
seconds=${MIRTE_FUZZ_SECONDS:-60}
coverage="-fprofile-instr-generate -fcoverage-mapping"
CXX=clang++ cmake -S . -B build-cov -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMIRTE_WITH_QT=OFF \
  -DMIRTE_BENCH=OFF -DMIRTE_FUZZ=ON -DMIRTE_FUZZ_SANITIZE= -DCMAKE_CXX_FLAGS="$coverage" -DCMAKE_EXE_LINKER_FLAGS="$coverage" >/dev/null
cmake --build build-cov >/dev/null
rm -rf build-cov/profiles
mkdir -p build-cov/profiles
objects=()
for binary in build-cov/fuzz/*_fuzz; do
  target=$(basename "$binary")
  corpus=$(mktemp -d)
  mirte_fuzz_seed_copy "$target" "$corpus"
  echo "--- $target for ${seconds}s"
  LLVM_PROFILE_FILE="build-cov/profiles/$target-%p.profraw" \
    "$binary" -max_total_time="$seconds" -print_final_stats=0 $(mirte_fuzz_dict "$target") "$corpus" 2>&1 | tail -n 1
  rm -rf "$corpus"
  objects+=(-object "$binary")
done
llvm-profdata merge -sparse build-cov/profiles/*.profraw -o build-cov/fuzz.profdata
sources=()
for layer in board terminal common platform; do sources+=("$PWD/src/$layer"); done
llvm-cov report "${objects[@]:1}" -instr-profile=build-cov/fuzz.profdata -show-region-summary=false \
  -show-functions=false "${sources[@]}"
