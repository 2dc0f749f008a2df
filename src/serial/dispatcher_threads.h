#pragma once
// The three workers of an open port. TComThread waits for device events and hands each to
// the dispatcher worker; TDispThread runs the dispatcher's pass (receive, triggers) at
// least every 50 ms; TOutThread writes queued output without blocking. Each counts itself
// active on start, acknowledges, and ends with the dispatcher's bookkeeping.
#include <cstdint>

namespace mirte {

class TBaseDispatcher;

class TDispatcherThread {
public:
  explicit TDispatcherThread(TBaseDispatcher& disp, int index) : dispatcher_(disp), slot_(index) {}
  virtual ~TDispatcherThread() = default;
  // The thread body; catches everything that escapes it.
  void Run();
  int Index() const { return slot_; }

protected:
  virtual void Execute() = 0;
  TBaseDispatcher& dispatcher_;

private:
  int slot_;
};

class TComThread : public TDispatcherThread {
public:
  explicit TComThread(TBaseDispatcher& disp) : TDispatcherThread(disp, 0) {}

protected:
  void Execute() override;
};

class TDispThread : public TDispatcherThread {
public:
  explicit TDispThread(TBaseDispatcher& disp) : TDispatcherThread(disp, 1) {}

protected:
  void Execute() override;
};

class TOutThread : public TDispatcherThread {
public:
  explicit TOutThread(TBaseDispatcher& disp) : TDispatcherThread(disp, 2) {}

protected:
  void Execute() override;
};

}  // namespace mirte
