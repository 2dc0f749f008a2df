#pragma once
// An auto-reset event on an eventfd. Set() from any thread; a wait consumes the signal.
// Several Set() calls before a wait count as one. A worker that must also watch a device
// waits for both through WaitWithDevice; the descriptor itself never leaves this class, so
// nobody can read it behind the signal's back or poll it after it is closed.
#include <chrono>

namespace mirte {

class TEventSignal {
public:
  TEventSignal();
  ~TEventSignal();
  TEventSignal(const TEventSignal&) = delete;
  TEventSignal& operator=(const TEventSignal&) = delete;

  bool Valid() const { return fd_ >= 0; }
  void Set();
  void Reset();
  // Waits until set (and consumes it) or the time passes; a negative time waits without
  // limit. Returns true when the event was set.
  bool Wait(std::chrono::milliseconds timeout);
  bool Wait() { return Wait(std::chrono::milliseconds(-1)); }

  // Which of two signals ended a WaitEither; each one reported set has been consumed.
  struct TEitherSet {
    bool First = false;
    bool Second = false;
  };
  // Waits without limit until `first` or `second` is set. Both are reported (and
  // consumed) when both were set by the time the wait ended.
  static TEitherSet WaitEither(TEventSignal& first, TEventSignal& second);

  // How a WaitWithDevice ended: the signal was set (and consumed; the device is then not
  // looked at), or the device reported some of the events asked for, or hang-up, error or
  // a closed descriptor (DeviceEvents holds poll()'s bits), or neither before the time.
  struct TDeviceWait {
    bool Signalled = false;
    short DeviceEvents = 0;
  };
  // Waits for the signal or for `deviceFd` to report one of `events` (poll() bits). A
  // negative descriptor waits for the signal alone; a negative time waits without limit.
  TDeviceWait WaitWithDevice(int deviceFd, short events, std::chrono::milliseconds timeout);

private:
  bool Consume();
  int fd_ = -1;
};

}  // namespace mirte
