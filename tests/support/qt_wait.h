#pragma once
// Waits for a condition while the Qt event loop runs, as the program's own loop would: for
// a pty board's reply, a timer, a repaint. False when `limit` passes first; the limit is
// generous because a loaded machine only makes waits longer, never a failing one pass.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTest>

#include <chrono>
#include <functional>

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

}  // namespace mirte::testing
