#include "serial/qt_main_thread_queue.h"

#include <QCoreApplication>
#include <QEvent>
#include <QSemaphore>
#include <QThread>

namespace mirte {

namespace {

QEvent::Type MessageEventType() {
  static const auto kType = static_cast<QEvent::Type>(QEvent::registerEventType());
  return kType;
}

enum : int { Pending, Running, Done, Withdrawn };

}  // namespace

struct TQtMainThreadQueue::TEntry : TQueuedMessage {
  bool Sent = false;
  std::mutex StateLock;  // guards State between the sender and the GUI thread
  int State = Pending;
  QSemaphore Finished;

  static std::shared_ptr<TEntry> Make(TQueuedMessage message) {
    auto entry = std::make_shared<TEntry>();
    static_cast<TQueuedMessage&>(*entry) = std::move(message);
    return entry;
  }
};

namespace {

class TMessageEvent : public QEvent {
public:
  explicit TMessageEvent(std::shared_ptr<void> entry) : QEvent(MessageEventType()), Entry(std::move(entry)) {}
  std::shared_ptr<void> Entry;
};

}  // namespace

TQtMainThreadQueue::TQtMainThreadQueue(QObject* parent) : QObject(parent) {}

TQtMainThreadQueue::~TQtMainThreadQueue() = default;

bool TQtMainThreadQueue::IsMainThread() const { return QThread::currentThread() == thread(); }

void TQtMainThreadQueue::Enqueue(const std::shared_ptr<TEntry>& entry) {
  {
    std::lock_guard guard(countLock_);
    ++waiting_;
    arrived_.notify_all();
  }
  QCoreApplication::postEvent(this, new TMessageEvent(entry));
}

void TQtMainThreadQueue::PostMessage(std::weak_ptr<IMessageTarget> target, std::uint32_t msg,
                                     std::uintptr_t wParam, std::intptr_t lParam) {
  auto entry = TEntry::Make({std::move(target), msg, wParam, lParam});
  Enqueue(entry);
}

bool TQtMainThreadQueue::SendMessage(std::weak_ptr<IMessageTarget> target, std::uint32_t msg,
                                     std::uintptr_t wParam, std::intptr_t lParam,
                                     std::chrono::milliseconds timeout) {
  if (IsMainThread()) {
    TQueuedMessage{std::move(target), msg, wParam, lParam}.Deliver();
    return true;
  }
  auto entry = TEntry::Make({std::move(target), msg, wParam, lParam});
  entry->Sent = true;
  Enqueue(entry);
  if (entry->Finished.tryAcquire(1, static_cast<int>(timeout.count()))) return true;
  std::lock_guard guard(entry->StateLock);
  if (entry->State == Pending) entry->State = Withdrawn;
  return false;
}

void TQtMainThreadQueue::customEvent(QEvent* event) {
  if (event->type() != MessageEventType()) return;
  auto entry = std::static_pointer_cast<TEntry>(static_cast<TMessageEvent*>(event)->Entry);
  {
    std::lock_guard guard(countLock_);
    --waiting_;
  }
  {
    std::lock_guard guard(entry->StateLock);
    if (entry->State == Withdrawn) return;
    entry->State = Running;
  }
  struct Finish {
    TEntry& Entry;
    ~Finish() {
      {
        std::lock_guard guard(Entry.StateLock);
        Entry.State = Done;
      }
      if (Entry.Sent) Entry.Finished.release();
    }
  } finish{*entry};
  entry->Deliver();
}

void TQtMainThreadQueue::ProcessMessages() { QCoreApplication::processEvents(QEventLoop::AllEvents); }

bool TQtMainThreadQueue::HandleOneMessage() {
  {
    std::lock_guard guard(countLock_);
    if (waiting_ == 0) return false;
  }
  QCoreApplication::sendPostedEvents(this, MessageEventType());
  return true;
}

void TQtMainThreadQueue::WaitForMessages(std::chrono::milliseconds maxWait) {
  std::unique_lock guard(countLock_);
  arrived_.wait_for(guard, maxWait, [this] { return waiting_ > 0 || wakePending_; });
  wakePending_ = false;
}

void TQtMainThreadQueue::Wake() {
  std::lock_guard guard(countLock_);
  wakePending_ = true;
  arrived_.notify_all();
}

}  // namespace mirte
