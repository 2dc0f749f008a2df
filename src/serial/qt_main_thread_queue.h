#pragma once
// The main-thread queue on Qt's event loop: every message becomes a custom QEvent posted to
// this object, which lives on the GUI thread. A sender waits on a semaphore for the
// handler's end, at most its time limit; a message that has not started by then is
// withdrawn and never runs. Create it on the GUI thread after the QApplication.
#include <QObject>

#include <condition_variable>
#include <mutex>

#include "serial/main_thread_queue.h"

namespace mirte {

class TQtMainThreadQueue : public QObject, public IMainThreadQueue {
public:
  explicit TQtMainThreadQueue(QObject* parent = nullptr);
  ~TQtMainThreadQueue() override;

  bool IsMainThread() const override;
  void PostMessage(std::weak_ptr<IMessageTarget> Target, std::uint32_t Msg, std::uintptr_t WParam,
                   std::intptr_t LParam) override;
  bool SendMessage(std::weak_ptr<IMessageTarget> Target, std::uint32_t Msg, std::uintptr_t WParam,
                   std::intptr_t LParam, std::chrono::milliseconds Timeout) override;
  // Handles all pending events of the application, as a message loop step would.
  void ProcessMessages() override;
  // Handles the serial messages waiting for this queue (not other events).
  bool HandleOneMessage() override;
  void WaitForMessages(std::chrono::milliseconds MaxWait) override;
  void Wake() override;

protected:
  void customEvent(QEvent* event) override;

private:
  struct TEntry;
  void Enqueue(const std::shared_ptr<TEntry>& Entry);

  // Counts serial messages posted and not yet handled, and keeps a wake not yet taken, so
  // that a main-thread wait can sleep until either comes.
  std::mutex CountLock;
  std::condition_variable Arrived;
  int Waiting = 0;
  bool WakePending = false;
};

}  // namespace mirte
