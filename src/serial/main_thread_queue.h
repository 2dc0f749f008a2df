#pragma once
// The road from a port's worker threads to the main (GUI) thread. Workers either post a
// message and go on, or send one and wait until the main thread has handled it, at most
// for a time limit. A message goes to a message target (the port's notification object, a
// terminal's window); targets are held weakly, so a message whose target has gone away is
// dropped instead of reaching freed memory. A sent message that has not started when its
// time limit passes is withdrawn and never runs late.
#include <chrono>
#include <cstdint>
#include <memory>

namespace mirte {

// Something on the main thread that handles window-style messages: a message number and
// two parameters, as the notifications and trigger messages of the serial layer carry.
class IMessageTarget {
public:
  virtual ~IMessageTarget() = default;
  virtual std::intptr_t HandleMessage(std::uint32_t msg, std::uintptr_t wParam, std::intptr_t lParam) = 0;
};

// A message on its way to its target. Delivering it to a target that has gone away does
// nothing.
struct TQueuedMessage {
  std::weak_ptr<IMessageTarget> Target;
  std::uint32_t Msg = 0;
  std::uintptr_t WParam = 0;
  std::intptr_t LParam = 0;

  void Deliver() const {
    if (auto target = Target.lock()) target->HandleMessage(Msg, WParam, LParam);
  }
};

class IMainThreadQueue {
public:
  virtual ~IMainThreadQueue() = default;

  // True on the thread that handles the messages.
  virtual bool IsMainThread() const = 0;

  // Queues the message for the target and returns at once (any thread).
  virtual void PostMessage(std::weak_ptr<IMessageTarget> target, std::uint32_t msg, std::uintptr_t wParam,
                           std::intptr_t lParam) = 0;

  // Has the main thread handle the message and waits for it at most `Timeout`. Returns true
  // when the handler ran to its end within the limit. On the main thread itself the target
  // is called directly. A target that no longer exists counts as handled.
  virtual bool SendMessage(std::weak_ptr<IMessageTarget> target, std::uint32_t msg, std::uintptr_t wParam,
                           std::intptr_t lParam, std::chrono::milliseconds timeout) = 0;

  // Main thread only: handles every message pending now (for Qt, all pending events).
  virtual void ProcessMessages() = 0;

  // Main thread only: handles at most one pending message; false when none was waiting.
  virtual bool HandleOneMessage() = 0;

  // Main thread only: sleeps until a message arrives, Wake is called or `MaxWait` passes,
  // without handling anything. Lets a main-thread wait keep serving messages without
  // spinning.
  virtual void WaitForMessages(std::chrono::milliseconds maxWait) = 0;

  // Any thread: ends the main thread's WaitForMessages now, or its next one if none is in
  // progress, without a message. A worker calls it when something a main-thread wait
  // polls for has come true (the output ring has emptied), so the wait ends at once.
  virtual void Wake() = 0;
};

}  // namespace mirte
