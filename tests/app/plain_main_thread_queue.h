#pragma once
// The main-thread road of the serial layer as a plain loop, for tests that run a real port
// without the program's event adapter: workers queue messages here and the test thread
// handles them whenever it serves its events. Sent messages that have not started when
// their time limit passes are withdrawn.
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

#include "serial/main_thread_queue.h"

namespace mirte::testing {

class PlainMainThreadQueue : public IMainThreadQueue {
public:
  bool IsMainThread() const override { return std::this_thread::get_id() == mainThread; }

  void PostMessage(std::weak_ptr<IMessageTarget> Target, std::uint32_t Msg, std::uintptr_t WParam,
                   std::intptr_t LParam) override {
    std::lock_guard guard(lock);
    items.push_back({std::move(Target), Msg, WParam, LParam, nullptr});
    changed.notify_all();
  }

  bool SendMessage(std::weak_ptr<IMessageTarget> Target, std::uint32_t Msg, std::uintptr_t WParam,
                   std::intptr_t LParam, std::chrono::milliseconds Timeout) override {
    if (IsMainThread()) {
      if (auto target = Target.lock()) target->HandleMessage(Msg, WParam, LParam);
      return true;
    }
    auto state = std::make_shared<SendState>();
    std::unique_lock guard(lock);
    items.push_back({std::move(Target), Msg, WParam, LParam, state});
    changed.notify_all();
    if (changed.wait_for(guard, Timeout, [&] { return state->done; })) return true;
    if (!state->started) state->withdrawn = true;
    return false;
  }

  void ProcessMessages() override {
    std::size_t pending;
    {
      std::lock_guard guard(lock);
      pending = items.size();
    }
    while (pending-- > 0 && HandleOneMessage()) {
    }
  }

  bool HandleOneMessage() override {
    Item item;
    {
      std::lock_guard guard(lock);
      while (!items.empty() && items.front().state && items.front().state->withdrawn) items.pop_front();
      if (items.empty()) return false;
      item = std::move(items.front());
      items.pop_front();
      if (item.state) item.state->started = true;
    }
    if (auto target = item.target.lock()) target->HandleMessage(item.msg, item.wParam, item.lParam);
    if (item.state) {
      std::lock_guard guard(lock);
      item.state->done = true;
      changed.notify_all();
    }
    return true;
  }

  void WaitForMessages(std::chrono::milliseconds MaxWait) override {
    std::unique_lock guard(lock);
    changed.wait_for(guard, MaxWait, [&] { return !items.empty(); });
  }

private:
  struct SendState {
    bool started = false;
    bool done = false;
    bool withdrawn = false;
  };
  struct Item {
    std::weak_ptr<IMessageTarget> target;
    std::uint32_t msg = 0;
    std::uintptr_t wParam = 0;
    std::intptr_t lParam = 0;
    std::shared_ptr<SendState> state;
  };

  const std::thread::id mainThread = std::this_thread::get_id();
  // Guards the message list and the state of every sent message.
  std::mutex lock;
  std::condition_variable changed;
  std::deque<Item> items;
};

}  // namespace mirte::testing
