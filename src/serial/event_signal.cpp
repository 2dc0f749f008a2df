#include "serial/event_signal.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>

namespace mirte {

namespace {

// Polls until something is ready or the deadline passes, going on after a signal
// interrupts the call. Returns poll()'s result.
int PollUntil(pollfd* fds, nfds_t count, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    int wait = -1;
    if (timeout.count() >= 0) {
      auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      wait = static_cast<int>(std::max<std::chrono::milliseconds::rep>(left.count(), 0));
    }
    for (nfds_t i = 0; i < count; ++i) fds[i].revents = 0;
    const int ready = ::poll(fds, count, wait);
    if (ready >= 0 || errno != EINTR) return ready;
  }
}

}  // namespace

TEventSignal::TEventSignal() : fd_(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

TEventSignal::~TEventSignal() {
  if (fd_ >= 0) ::close(fd_);
}

void TEventSignal::Set() {
  std::uint64_t one = 1;
  while (::write(fd_, &one, sizeof one) < 0 && errno == EINTR) {
  }
}

void TEventSignal::Reset() { Consume(); }

bool TEventSignal::Consume() {
  std::uint64_t value;
  for (;;) {
    if (::read(fd_, &value, sizeof value) == sizeof value) return true;
    if (errno != EINTR) return false;
  }
}

bool TEventSignal::Wait(std::chrono::milliseconds timeout) {
  // poll() before read(): a worker mostly waits for a signal not yet given, and a read
  // that finds nothing would cost one more system call on every wait. Another waiter may
  // take the signal between the two; then the wait goes on for the time that is left.
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    auto left = timeout;
    if (timeout.count() >= 0)
      left = std::max(std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()),
                      std::chrono::milliseconds(0));
    pollfd p{fd_, POLLIN, 0};
    if (PollUntil(&p, 1, left) <= 0 || (p.revents & POLLNVAL)) return false;
    if (Consume()) return true;
    if (left.count() == 0) return false;
  }
}

TEventSignal::TEitherSet TEventSignal::WaitEither(TEventSignal& first, TEventSignal& second) {
  pollfd fds[2] = {{first.fd_, POLLIN, 0}, {second.fd_, POLLIN, 0}};
  TEitherSet set;
  if (PollUntil(fds, 2, std::chrono::milliseconds(-1)) <= 0) return set;
  if (fds[0].revents & POLLIN) set.First = first.Consume();
  if (fds[1].revents & POLLIN) set.Second = second.Consume();
  return set;
}

TEventSignal::TDeviceWait TEventSignal::WaitWithDevice(int deviceFd, short events, std::chrono::milliseconds timeout) {
  pollfd fds[2] = {{fd_, POLLIN, 0}, {deviceFd, events, 0}};
  TDeviceWait result;
  if (PollUntil(fds, deviceFd >= 0 ? 2 : 1, timeout) <= 0) return result;
  if (fds[0].revents) {
    result.Signalled = true;
    Consume();
    return result;
  }
  if (deviceFd >= 0) result.DeviceEvents = fds[1].revents;
  return result;
}

}  // namespace mirte
