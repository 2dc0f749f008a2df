#pragma once
// The main-thread queue without a toolkit: the thread that creates it is the main thread,
// and that thread handles messages by calling ProcessMessages (or one of the waits below)
// in a plain loop. Used by tests, benchmarks and anything else without an event loop.
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "serial/main_thread_queue.h"

namespace mirte {

class TPlainMainThreadQueue : public IMainThreadQueue {
public:
  TPlainMainThreadQueue();
  ~TPlainMainThreadQueue() override;

  bool IsMainThread() const override;
  void PostMessage(std::weak_ptr<IMessageTarget> Target, std::uint32_t Msg, std::uintptr_t WParam,
                   std::intptr_t LParam) override;
  bool SendMessage(std::weak_ptr<IMessageTarget> Target, std::uint32_t Msg, std::uintptr_t WParam,
                   std::intptr_t LParam, std::chrono::milliseconds Timeout) override;
  // Handles the messages waiting when it is called; messages posted meanwhile wait for the
  // next call.
  void ProcessMessages() override;
  bool HandleOneMessage() override;
  void WaitForMessages(std::chrono::milliseconds MaxWait) override;
  void Wake() override;

  // Handles messages until `Done` holds or `Limit` passes; true when `Done` held.
  bool PumpUntil(const std::function<bool()>& Done, std::chrono::milliseconds Limit);
  // Handles messages for the given time.
  void PumpFor(std::chrono::milliseconds Time);

private:
  struct TEntry;
  std::shared_ptr<TEntry> TakeNext();
  void Run(TEntry& Entry);

  std::thread::id MainThread;
  // Guards the list of waiting messages; paired with `Arrived` for waits of the main
  // thread and with each sent message's completion.
  mutable std::mutex Lock;
  std::condition_variable Arrived;
  std::deque<std::shared_ptr<TEntry>> Pending;
  bool WakePending = false;
};

}  // namespace mirte
