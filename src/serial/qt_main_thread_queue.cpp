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

struct TQtMainThreadQueue::TEntry {
  std::weak_ptr<IMessageTarget> Target;
  std::uint32_t Msg = 0;
  std::uintptr_t WParam = 0;
  std::intptr_t LParam = 0;
  bool Sent = false;
  std::mutex StateLock;  // guards State between the sender and the GUI thread
  int State = Pending;
  QSemaphore Finished;

  static std::shared_ptr<TEntry> Make(std::weak_ptr<IMessageTarget> target, std::uint32_t msg,
                                      std::uintptr_t wParam, std::intptr_t lParam) {
    auto entry = std::make_shared<TEntry>();
    entry->Target = std::move(target);
    entry->Msg = msg;
    entry->WParam = wParam;
    entry->LParam = lParam;
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
  auto entry = TEntry::Make(std::move(Target), Msg, WParam, LParam);
  Enqueue(entry);
}

bool TQtMainThreadQueue::SendMessage(std::weak_ptr<IMessageTarget> Target, std::uint32_t Msg,
                                     std::uintptr_t WParam, std::intptr_t LParam,
                                     std::chrono::milliseconds Timeout) {
  if (IsMainThread()) {
    if (auto target = Target.lock()) target->HandleMessage(Msg, WParam, LParam);
    return true;
  }
  auto entry = TEntry::Make(std::move(Target), Msg, WParam, LParam);
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
  if (auto target = entry->Target.lock()) target->HandleMessage(entry->Msg, entry->WParam, entry->LParam);
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
  Arrived.wait_for(guard, MaxWait, [this] { return Waiting > 0; });
}

}  // namespace mirte
