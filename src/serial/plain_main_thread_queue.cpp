#include "serial/plain_main_thread_queue.h"

namespace mirte {

namespace {
enum : int { Waiting, Running, Done, Withdrawn };
}

struct TPlainMainThreadQueue::TEntry : TQueuedMessage {
  int State = Waiting;  // under Lock
  std::condition_variable Handled;

  static std::shared_ptr<TEntry> Make(TQueuedMessage message) {
    auto entry = std::make_shared<TEntry>();
    static_cast<TQueuedMessage&>(*entry) = std::move(message);
    return entry;
  }
};

TPlainMainThreadQueue::TPlainMainThreadQueue() : MainThread(std::this_thread::get_id()) {}

TPlainMainThreadQueue::~TPlainMainThreadQueue() {
  // Senders still waiting are released as if their time had run out.
  std::lock_guard guard(Lock);
  for (auto& entry : Pending) {
    entry->State = Withdrawn;
    entry->Handled.notify_all();
  }
  Pending.clear();
}

bool TPlainMainThreadQueue::IsMainThread() const { return std::this_thread::get_id() == MainThread; }

void TPlainMainThreadQueue::PostMessage(std::weak_ptr<IMessageTarget> Target, std::uint32_t Msg,
                                        std::uintptr_t WParam, std::intptr_t LParam) {
  auto entry = TEntry::Make({std::move(Target), Msg, WParam, LParam});
  std::lock_guard guard(Lock);
  Pending.push_back(std::move(entry));
  Arrived.notify_all();
}

bool TPlainMainThreadQueue::SendMessage(std::weak_ptr<IMessageTarget> Target, std::uint32_t Msg,
                                        std::uintptr_t WParam, std::intptr_t LParam,
                                        std::chrono::milliseconds Timeout) {
  if (IsMainThread()) {
    TQueuedMessage{std::move(Target), Msg, WParam, LParam}.Deliver();
    return true;
  }
  auto entry = TEntry::Make({std::move(Target), Msg, WParam, LParam});
  std::unique_lock guard(Lock);
  Pending.push_back(entry);
  Arrived.notify_all();
  if (entry->Handled.wait_for(guard, Timeout, [&] { return entry->State == Done || entry->State == Withdrawn; }))
    return entry->State == Done;
  if (entry->State == Waiting) entry->State = Withdrawn;
  return false;
}

std::shared_ptr<TPlainMainThreadQueue::TEntry> TPlainMainThreadQueue::TakeNext() {
  std::lock_guard guard(Lock);
  while (!Pending.empty()) {
    auto entry = Pending.front();
    Pending.pop_front();
    if (entry->State == Withdrawn) continue;
    entry->State = Running;
    return entry;
  }
  return nullptr;
}

void TPlainMainThreadQueue::Run(TEntry& Entry) {
  Entry.Deliver();
  std::lock_guard guard(Lock);
  Entry.State = Done;
  Entry.Handled.notify_all();
}

void TPlainMainThreadQueue::ProcessMessages() {
  std::size_t count;
  {
    std::lock_guard guard(Lock);
    count = Pending.size();
  }
  for (std::size_t i = 0; i < count; ++i)
    if (!HandleOneMessage()) break;
}

bool TPlainMainThreadQueue::HandleOneMessage() {
  auto entry = TakeNext();
  if (!entry) return false;
  Run(*entry);
  return true;
}

void TPlainMainThreadQueue::WaitForMessages(std::chrono::milliseconds MaxWait) {
  std::unique_lock guard(Lock);
  Arrived.wait_for(guard, MaxWait, [this] { return !Pending.empty() || WakePending; });
  WakePending = false;
}

void TPlainMainThreadQueue::Wake() {
  std::lock_guard guard(Lock);
  WakePending = true;
  Arrived.notify_all();
}

bool TPlainMainThreadQueue::PumpUntil(const std::function<bool()>& Done, std::chrono::milliseconds Limit) {
  auto deadline = std::chrono::steady_clock::now() + Limit;
  for (;;) {
    ProcessMessages();
    if (Done()) return true;
    auto now = std::chrono::steady_clock::now();
    if (now >= deadline) return false;
    WaitForMessages(std::min<std::chrono::milliseconds>(
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now) + std::chrono::milliseconds(1),
        std::chrono::milliseconds(5)));
  }
}

void TPlainMainThreadQueue::PumpFor(std::chrono::milliseconds Time) {
  PumpUntil([] { return false; }, Time);
}

}  // namespace mirte
