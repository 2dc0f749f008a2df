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
  void PostMessage(std::weak_ptr<IMessageTarget> target, std::uint32_t msg, std::uintptr_t wParam,
                   std::intptr_t lParam) override;
  bool SendMessage(std::weak_ptr<IMessageTarget> target, std::uint32_t msg, std::uintptr_t wParam,
                   std::intptr_t lParam, std::chrono::milliseconds timeout) override;
  // Handles the messages waiting when it is called; messages posted meanwhile wait for the
  // next call.
  void ProcessMessages() override;
  bool HandleOneMessage() override;
  void WaitForMessages(std::chrono::milliseconds maxWait) override;
  void Wake() override;

  // Handles messages until `Done` holds or `Limit` passes; true when `Done` held.
  bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds limit);
  // Handles messages for the given time.
  void PumpFor(std::chrono::milliseconds time);

private:
  struct TEntry;
  std::shared_ptr<TEntry> TakeNext();
  void Run(TEntry& entry);

  std::thread::id mainThread_;
  // Guards the list of waiting messages; paired with `Arrived` for waits of the main
  // thread and with each sent message's completion.
  mutable std::mutex lock_;
  std::condition_variable arrived_;
  std::deque<std::shared_ptr<TEntry>> pending_;
  bool wakePending_ = false;
};

}  // namespace mirte
