#pragma once
// An auto-reset event on an eventfd, so that a worker can wait for it and for the serial
// device in one poll(). Set() from any thread; a wait consumes the signal. Several Set()
// calls before a wait count as one.
#include <chrono>

namespace mirte {

class TEventSignal {
public:
  TEventSignal();
  ~TEventSignal();
  TEventSignal(const TEventSignal&) = delete;
  TEventSignal& operator=(const TEventSignal&) = delete;

  bool Valid() const { return fd >= 0; }
  int Fd() const { return fd; }
  void Set();
  void Reset();
  // Waits until set (and consumes it) or the time passes; a negative time waits without
  // limit. Returns true when the event was set.
  bool Wait(std::chrono::milliseconds timeout);
  bool Wait() { return Wait(std::chrono::milliseconds(-1)); }

private:
  int fd = -1;
};

}  // namespace mirte
