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

TPlainMainThreadQueue::TPlainMainThreadQueue() : mainThread_(std::this_thread::get_id()) {}

TPlainMainThreadQueue::~TPlainMainThreadQueue() {
  // Senders still waiting are released as if their time had run out.
  std::lock_guard guard(lock_);
  for (auto& entry : pending_) {
    entry->State = Withdrawn;
    entry->Handled.notify_all();
  }
  pending_.clear();
}

bool TPlainMainThreadQueue::IsMainThread() const { return std::this_thread::get_id() == mainThread_; }

void TPlainMainThreadQueue::PostMessage(std::weak_ptr<IMessageTarget> target, std::uint32_t msg,
                                        std::uintptr_t wParam, std::intptr_t lParam) {
  auto entry = TEntry::Make({std::move(target), msg, wParam, lParam});
  std::lock_guard guard(lock_);
  pending_.push_back(std::move(entry));
  arrived_.notify_all();
}

bool TPlainMainThreadQueue::SendMessage(std::weak_ptr<IMessageTarget> target, std::uint32_t msg,
                                        std::uintptr_t wParam, std::intptr_t lParam,
                                        std::chrono::milliseconds timeout) {
  if (IsMainThread()) {
    TQueuedMessage{std::move(target), msg, wParam, lParam}.Deliver();
    return true;
  }
  auto entry = TEntry::Make({std::move(target), msg, wParam, lParam});
  std::unique_lock guard(lock_);
  pending_.push_back(entry);
  arrived_.notify_all();
  if (entry->Handled.wait_for(guard, timeout, [&] { return entry->State == Done || entry->State == Withdrawn; }))
    return entry->State == Done;
  if (entry->State == Waiting) entry->State = Withdrawn;
  return false;
}

std::shared_ptr<TPlainMainThreadQueue::TEntry> TPlainMainThreadQueue::TakeNext() {
  std::lock_guard guard(lock_);
  while (!pending_.empty()) {
    auto entry = pending_.front();
    pending_.pop_front();
    if (entry->State == Withdrawn) continue;
    entry->State = Running;
    return entry;
  }
  return nullptr;
}

void TPlainMainThreadQueue::Run(TEntry& entry) {
  entry.Deliver();
  std::lock_guard guard(lock_);
  entry.State = Done;
  entry.Handled.notify_all();
}

void TPlainMainThreadQueue::ProcessMessages() {
  std::size_t count;
  {
    std::lock_guard guard(lock_);
    count = pending_.size();
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

void TPlainMainThreadQueue::WaitForMessages(std::chrono::milliseconds maxWait) {
  std::unique_lock guard(lock_);
  arrived_.wait_for(guard, maxWait, [this] { return !pending_.empty() || wakePending_; });
  wakePending_ = false;
}

void TPlainMainThreadQueue::Wake() {
  std::lock_guard guard(lock_);
  wakePending_ = true;
  arrived_.notify_all();
}

bool TPlainMainThreadQueue::PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
  auto deadline = std::chrono::steady_clock::now() + limit;
  for (;;) {
    ProcessMessages();
    if (done()) return true;
    auto now = std::chrono::steady_clock::now();
    if (now >= deadline) return false;
    WaitForMessages(std::min<std::chrono::milliseconds>(
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now) + std::chrono::milliseconds(1),
        std::chrono::milliseconds(5)));
  }
}

void TPlainMainThreadQueue::PumpFor(std::chrono::milliseconds time) {
  PumpUntil([] { return false; }, time);
}

}  // namespace mirte
