#pragma once
// Holds this process's file size limit at `bytes` while it lives, so that writes past it
// fail with EFBIG the way they fail on a full disk, without mounting anything. SIGXFSZ is
// ignored meanwhile, or the first such write would end the test program. Both come back
// as they were with the object. Header-only.
#include <sys/resource.h>

#include <csignal>

namespace mirte::testing {

class ScopedFileSizeLimit {
public:
  explicit ScopedFileSizeLimit(rlim_t bytes) {
    ::getrlimit(RLIMIT_FSIZE, &before);
    previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = before;
    small.rlim_cur = bytes;
    set = ::setrlimit(RLIMIT_FSIZE, &small) == 0;
  }
  ~ScopedFileSizeLimit() {
    ::setrlimit(RLIMIT_FSIZE, &before);
    std::signal(SIGXFSZ, previousHandler);
  }
  ScopedFileSizeLimit(const ScopedFileSizeLimit&) = delete;
  ScopedFileSizeLimit& operator=(const ScopedFileSizeLimit&) = delete;

  bool Set() const { return set; }

private:
  rlimit before{};
  void (*previousHandler)(int) = SIG_DFL;
  bool set = false;
};

}  // namespace mirte::testing
