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
  void PostMessage(std::weak_ptr<IMessageTarget> target, std::uint32_t msg, std::uintptr_t wParam,
                   std::intptr_t lParam) override;
  bool SendMessage(std::weak_ptr<IMessageTarget> target, std::uint32_t msg, std::uintptr_t wParam,
                   std::intptr_t lParam, std::chrono::milliseconds timeout) override;
  // Handles all pending events of the application, as a message loop step would.
  void ProcessMessages() override;
  // Handles the serial messages waiting for this queue (not other events).
  bool HandleOneMessage() override;
  void WaitForMessages(std::chrono::milliseconds maxWait) override;
  void Wake() override;

protected:
  void customEvent(QEvent* event) override;

private:
  struct TEntry;
  void Enqueue(const std::shared_ptr<TEntry>& entry);

  // Counts serial messages posted and not yet handled, and keeps a wake not yet taken, so
  // that a main-thread wait can sleep until either comes.
  std::mutex countLock_;
  std::condition_variable arrived_;
  int waiting_ = 0;
  bool wakePending_ = false;
};

}  // namespace mirte
