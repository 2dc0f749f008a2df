#include "serial/event_signal.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
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
  // poll() before read(): a worker mostly waits for a signal not yet given, and a read
  // that finds nothing would cost one more system call on every wait.
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    int wait = -1;
    if (timeout.count() >= 0) {
      auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      wait = static_cast<int>(std::max<std::chrono::milliseconds::rep>(left.count(), 0));
    }
    pollfd p{fd, POLLIN, 0};
    int r = ::poll(&p, 1, wait);
    if (r > 0) {
      if (p.revents & POLLNVAL) return false;
      std::uint64_t value;
      if (::read(fd, &value, sizeof value) == sizeof value) return true;
      if (wait == 0) return false;
    } else if (r == 0 || errno != EINTR) {
      return false;
    }
  }
}

}  // namespace mirte
