#!/usr/bin/env bash
# Installs what the build needs, then builds and runs every test:
#  build/       everything, Qt tests on the offscreen platform, then the Debian package
#  build-asan/  plain C++ libraries under AddressSanitizer + UndefinedBehaviorSanitizer
#  build-tsan/  the serial layer's tests under ThreadSanitizer
#  build-fuzz/  fuzz targets, each run for a bounded time (when clang is present), first from
#               build-fuzz-fast/, the same targets without the sanitizers
set -euo pipefail
cd "$(dirname "$0")"
. scripts/setup.sh
mirte_install_packages

werror=OFF
[ "${CI:-}" = true ] && werror=ON
jobs=$(nproc)

step() { echo; echo "=== $*"; }

step "layering"
scripts/check_layers.sh

step "build (RelWithDebInfo)"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMIRTE_WERROR=$werror >/dev/null
cmake --build build

# Over the built tree's compile commands, so generated headers exist for clang-tidy.
step "naming rule"
scripts/check_naming.sh build "$jobs"
step "tests (RelWithDebInfo)"
(cd build && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j "$jobs")

step "Debian package"
(cd build && cpack -G DEB >/dev/null && dpkg-deb --info mirte_*.deb | grep -E "^ (Package|Version|Depends):")
if command -v lintian >/dev/null; then
  lintian --pedantic --fail-on error,warning,info,pedantic build/mirte_*.deb
fi

step "AddressSanitizer + UndefinedBehaviorSanitizer (plain C++)"
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DMIRTE_WITH_QT=OFF -DMIRTE_BENCH=OFF \
  -DMIRTE_SANITIZE=address,undefined -DMIRTE_WERROR=$werror >/dev/null
cmake --build build-asan
(cd build-asan && ctest --output-on-failure -j "$jobs")

step "ThreadSanitizer (serial layer)"
cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DMIRTE_WITH_QT=OFF -DMIRTE_BENCH=OFF \
  -DMIRTE_SANITIZE=thread -DMIRTE_WERROR=$werror >/dev/null
cmake --build build-tsan
(cd build-tsan && TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" ctest --output-on-failure -L serial)

if command -v clang++ >/dev/null; then
  step "fuzzing (bounded, from the seeds)"
  . scripts/fuzz_common.sh
  mirte_fuzz_build
  mirte_fuzz_build fast
  # Three quarters of the time the fast build goes deep; then the sanitized build runs every
  # input it kept and fuzzes on from there.
  seconds=${MIRTE_FUZZ_SECONDS:-20}
  fast_seconds=$((seconds * 3 / 4))
  # A run prints where it started and how far it went, or the end of its log when it failed.
  fuzz_run() {
    local log
    log=$(mktemp)
    if "$@" >"$log" 2>&1; then awk '/INITED|^Done/' "$log"; rm -f "$log"; else tail -n 30 "$log"; rm -f "$log"; return 1; fi
  }
  for target in build-fuzz/fuzz/*_fuzz; do
    [ -x "$target" ] || continue
    name=$(basename "$target")
    echo "--- $name: ${fast_seconds}s fast, then $((seconds - fast_seconds))s under the sanitizers"
    corpus=$(mirte_fuzz_work_folder)
    mirte_fuzz_seed_copy "$name" "$corpus"
    fuzz_run "build-fuzz-fast/fuzz/$name" -max_total_time="$fast_seconds" $(mirte_fuzz_dict "$name") "$corpus"
    fuzz_run "$target" -max_total_time="$((seconds - fast_seconds))" $(mirte_fuzz_dict "$name") "$corpus"
    rm -rf "$corpus"
  done
fi

echo
echo "All tests passed."
