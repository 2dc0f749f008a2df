// Gives a pseudo-terminal modem lines that cost time to change, as a USB adapter's do.
// Preloaded (LD_PRELOAD) or linked ahead of the C library, it answers TIOCMGET from its own
// record of the lines and makes TIOCMSET, TIOCMBIS and TIOCMBIC wait
// MIRTE_MODEM_CHANGE_US microseconds (default 1000) before recording the change; every
// other request goes to the C library. The record is one for the whole process.
//
// When MIRTE_MODEM_TALLY names a file, the shim creates it as it loads and keeps its tally
// there (a TModemLineTally, shared memory): a process that runs another program under the
// shim learns from it that the shim really loaded and what the lines cost, even when the
// program was killed.
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cstdarg>
#include <cstdlib>
#include <new>

#include "support/modem_line_tally.h"

namespace {

using mirte::testing::TModemLineTally;

std::atomic<int> lines{TIOCM_DTR | TIOCM_RTS | TIOCM_CTS | TIOCM_DSR | TIOCM_CD};
TModemLineTally ownTally;
TModemLineTally* tally = &ownTally;

// Runs as the shim loads, before the program's own code, so a tally file exists as soon as
// the program does.
__attribute__((constructor)) void mapTallyFile() {
  const char* path = std::getenv("MIRTE_MODEM_TALLY");
  if (!path || !*path) return;
  const int fd = ::open(path, O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) return;
  if (::ftruncate(fd, sizeof(TModemLineTally)) == 0) {
    void* shared = ::mmap(nullptr, sizeof(TModemLineTally), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (shared != MAP_FAILED) {
      tally = new (shared) TModemLineTally;
      tally->Magic = TModemLineTally::Loaded;
    }
  }
  ::close(fd);
}

long changeCostUs() {
  static const long cost = [] {
    const char* text = std::getenv("MIRTE_MODEM_CHANGE_US");
    return text ? std::atol(text) : 1000L;
  }();
  return cost;
}

long long nowNs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return now.tv_sec * 1'000'000'000LL + now.tv_nsec;
}

void waitForChange() {
  const long us = changeCostUs();
  // A free change must not even pay for a sleep's timer slack.
  if (us <= 0) return;
  const long long start = nowNs();
  timespec pause{us / 1000000, (us % 1000000) * 1000};
  while (nanosleep(&pause, &pause) != 0) {
  }
  tally->BusyNs += nowNs() - start;
}

using TIoctl = int (*)(int, unsigned long, ...);

}  // namespace

extern "C" {

// The number of modem-line changes made so far, for the tests that count them.
long mirte_modem_line_changes() { return static_cast<long>(tally->Changes.load()); }

int ioctl(int fd, unsigned long request, ...) {
  va_list args;
  va_start(args, request);
  void* argument = va_arg(args, void*);
  va_end(args);
  switch (request) {
    case TIOCMGET:
      ++tally->StatusReads;
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
      ++tally->Changes;
      return 0;
    }
    default: {
      static const auto next = reinterpret_cast<TIoctl>(dlsym(RTLD_NEXT, "ioctl"));
      return next(fd, request, argument);
    }
  }
}
}
