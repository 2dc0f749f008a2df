# Sourced by the fuzz scripts: configures and builds build-fuzz/ and runs one target from a
# copy of its seeds, with its dictionary when there is one.
mirte_fuzz_build() {
  CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMIRTE_WITH_QT=OFF \
    -DMIRTE_BENCH=OFF -DMIRTE_FUZZ=ON >/dev/null
  cmake --build build-fuzz
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
