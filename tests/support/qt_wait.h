#pragma once
// Waits for a condition while the Qt event loop runs, as the program's own loop would: for
// a pty board's reply, a timer, a repaint. False when `limit` passes first; the limit is
// generous because a loaded machine only makes waits longer, never a failing one pass.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTest>
#include <QTimer>

#include <chrono>
#include <functional>
#include <thread>

namespace mirte::testing {

inline bool WaitFor(const std::function<bool()>& done,
                    std::chrono::milliseconds limit = std::chrono::milliseconds(5000)) {
  QElapsedTimer clock;
  clock.start();
  while (!done()) {
    if (clock.elapsed() > limit.count()) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    QTest::qSleep(2);
  }
  return true;
}

// The event loop runs for `time`, as the program's loop does when nothing comes.
inline void RunEventLoopFor(std::chrono::milliseconds time) {
  QEventLoop loop;
  QTimer::singleShot(time, &loop, &QEventLoop::quit);
  loop.exec();
}

// Runs `play` on a thread of its own while this thread runs the event loop, until `play`
// has ended: for a board that must go on while the program waits for its writes to leave.
inline void RunEventLoopBeside(const std::function<void()>& play) {
  QEventLoop loop;
  std::thread player([&] {
    play();
    QMetaObject::invokeMethod(&loop, [&loop] { loop.quit(); }, Qt::QueuedConnection);
  });
  loop.exec();
  player.join();
}

}  // namespace mirte::testing
