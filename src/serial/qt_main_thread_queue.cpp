#include "serial/qt_main_thread_queue.h"

#include <QCoreApplication>
#include <QEvent>
#include <QSemaphore>
#include <QThread>

namespace mirte {

namespace {

QEvent::Type messageEventType() {
  static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
  return type;
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
  explicit TMessageEvent(std::shared_ptr<void> entry) : QEvent(messageEventType()), Entry(std::move(entry)) {}
  std::shared_ptr<void> Entry;
};

}  // namespace

TQtMainThreadQueue::TQtMainThreadQueue(QObject* parent) : QObject(parent) {}

TQtMainThreadQueue::~TQtMainThreadQueue() = default;

bool TQtMainThreadQueue::IsMainThread() const { return QThread::currentThread() == thread(); }

void TQtMainThreadQueue::Enqueue(const std::shared_ptr<TEntry>& Entry) {
  {
    std::lock_guard guard(CountLock);
    ++Waiting;
    Arrived.notify_all();
  }
  QCoreApplication::postEvent(this, new TMessageEvent(Entry));
}

void TQtMainThreadQueue::PostMessage(std::weak_ptr<IMessageTarget> Target, std::uint32_t Msg,
                                     std::uintptr_t WParam, std::intptr_t LParam) {
  auto entry = TEntry::Make({std::move(Target), Msg, WParam, LParam});
  Enqueue(entry);
}

bool TQtMainThreadQueue::SendMessage(std::weak_ptr<IMessageTarget> Target, std::uint32_t Msg,
                                     std::uintptr_t WParam, std::intptr_t LParam,
                                     std::chrono::milliseconds Timeout) {
  if (IsMainThread()) {
    TQueuedMessage{std::move(Target), Msg, WParam, LParam}.Deliver();
    return true;
  }
  auto entry = TEntry::Make({std::move(Target), Msg, WParam, LParam});
  entry->Sent = true;
  Enqueue(entry);
  if (entry->Finished.tryAcquire(1, static_cast<int>(Timeout.count()))) return true;
  std::lock_guard guard(entry->StateLock);
  if (entry->State == Pending) entry->State = Withdrawn;
  return false;
}

void TQtMainThreadQueue::customEvent(QEvent* event) {
  if (event->type() != messageEventType()) return;
  auto entry = std::static_pointer_cast<TEntry>(static_cast<TMessageEvent*>(event)->Entry);
  {
    std::lock_guard guard(CountLock);
    --Waiting;
  }
  {
    std::lock_guard guard(entry->StateLock);
    if (entry->State == Withdrawn) return;
    entry->State = Running;
  }
  struct Finish {
    TEntry& entry;
    ~Finish() {
      {
        std::lock_guard guard(entry.StateLock);
        entry.State = Done;
      }
      if (entry.Sent) entry.Finished.release();
    }
  } finish{*entry};
  entry->Deliver();
}

void TQtMainThreadQueue::ProcessMessages() { QCoreApplication::processEvents(QEventLoop::AllEvents); }

bool TQtMainThreadQueue::HandleOneMessage() {
  {
    std::lock_guard guard(CountLock);
    if (Waiting == 0) return false;
  }
  QCoreApplication::sendPostedEvents(this, messageEventType());
  return true;
}

void TQtMainThreadQueue::WaitForMessages(std::chrono::milliseconds MaxWait) {
  std::unique_lock guard(CountLock);
  Arrived.wait_for(guard, MaxWait, [this] { return Waiting > 0 || WakePending; });
  WakePending = false;
}

void TQtMainThreadQueue::Wake() {
  std::lock_guard guard(CountLock);
  WakePending = true;
  Arrived.notify_all();
}

}  // namespace mirte
