// Gives a pseudo-terminal modem lines that cost time to change, as a USB adapter's do.
// Preloaded (LD_PRELOAD) or linked ahead of the C library, it answers TIOCMGET from its own
// record of the lines and makes TIOCMSET, TIOCMBIS and TIOCMBIC wait
// MIRTE_MODEM_CHANGE_US microseconds (default 1000) before recording the change; every
// other request goes to the C library. The record is one for the whole process.
#include <dlfcn.h>
#include <sys/ioctl.h>
#include <time.h>

#include <atomic>
#include <cstdarg>
#include <cstdlib>

namespace {

std::atomic<int> lines{TIOCM_DTR | TIOCM_RTS | TIOCM_CTS | TIOCM_DSR | TIOCM_CD};
std::atomic<long> changes{0};

long changeCostUs() {
  static const long cost = [] {
    const char* text = std::getenv("MIRTE_MODEM_CHANGE_US");
    return text ? std::atol(text) : 1000L;
  }();
  return cost;
}

void waitForChange() {
  const long us = changeCostUs();
  timespec pause{us / 1000000, (us % 1000000) * 1000};
  while (nanosleep(&pause, &pause) != 0) {
  }
}

using TIoctl = int (*)(int, unsigned long, ...);

}  // namespace

extern "C" {

// The number of modem-line changes made so far, for the tests that count them.
long mirte_modem_line_changes() { return changes.load(); }

int ioctl(int fd, unsigned long request, ...) {
  va_list args;
  va_start(args, request);
  void* argument = va_arg(args, void*);
  va_end(args);
  switch (request) {
    case TIOCMGET:
      *static_cast<int*>(argument) = lines.load();
      return 0;
    case TIOCMSET:
    case TIOCMBIS:
    case TIOCMBIC: {
      waitForChange();
      const int bits = *static_cast<const int*>(argument);
      if (request == TIOCMSET)
        lines = bits;
      else if (request == TIOCMBIS)
        lines |= bits;
      else
        lines &= ~bits;
      ++changes;
      return 0;
    }
    default: {
      static const auto next = reinterpret_cast<TIoctl>(dlsym(RTLD_NEXT, "ioctl"));
      return next(fd, request, argument);
    }
  }
}
}
