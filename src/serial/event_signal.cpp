#include "serial/event_signal.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

namespace mirte {

TEventSignal::TEventSignal() : fd(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

TEventSignal::~TEventSignal() {
  if (fd >= 0) ::close(fd);
}

void TEventSignal::Set() {
  std::uint64_t one = 1;
  while (::write(fd, &one, sizeof one) < 0 && errno == EINTR) {
  }
}

void TEventSignal::Reset() {
  std::uint64_t value;
  while (::read(fd, &value, sizeof value) < 0 && errno == EINTR) {
  }
}

bool TEventSignal::Wait(std::chrono::milliseconds timeout) {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    std::uint64_t value;
    if (::read(fd, &value, sizeof value) == sizeof value) return true;
    int wait = -1;
    if (timeout.count() >= 0) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (left.count() < 0) return false;
      wait = static_cast<int>(left.count());
    }
    pollfd p{fd, POLLIN, 0};
    int r = ::poll(&p, 1, wait);
    if (r == 0) {
      if (::read(fd, &value, sizeof value) == sizeof value) return true;
      return false;
    }
  }
}

}  // namespace mirte
