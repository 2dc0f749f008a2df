#pragma once
// The fuzz targets' invariant check: a broken invariant aborts with the line it was
// checked at, so libFuzzer keeps the input that broke it.
#include <cstdio>
#include <cstdlib>

namespace mirte::fuzzing {

[[noreturn]] inline void Fail(int line) {
  std::fprintf(stderr, "broken invariant at line %d\n", line);
  std::abort();
}

}  // namespace mirte::fuzzing

// For a target's own code, its checks and the loop that feeds an input: its coverage tells
// the fuzzer nothing about the code under test, and its comparison tracing cost a tenth of a
// step. Code of ours inlined into it goes uncounted too, so it should call the code under
// test, not contain it.
#if defined(__clang__)
#define FUZZ_TARGET_CODE __attribute__((no_sanitize("coverage")))
#else
#define FUZZ_TARGET_CODE
#endif

#define FUZZ_CHECK(condition)                          \
  do {                                                 \
    if (!(condition)) ::mirte::fuzzing::Fail(__LINE__); \
  } while (false)
