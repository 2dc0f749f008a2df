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

#define FUZZ_CHECK(condition)                          \
  do {                                                 \
    if (!(condition)) ::mirte::fuzzing::Fail(__LINE__); \
  } while (false)
