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
#include <cstdint>
#include <functional>
#include <thread>
#include <vector>

#include "support/pty_pair.h"

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

// The board's side of an exchange with a window, which answers from its event loop: up to
// `count` reply bytes, read while the loop serves the window; fewer when `limit` passes.
inline std::vector<std::uint8_t> ReadBesideEventLoop(PtyPair& board, std::size_t count, std::chrono::milliseconds limit) {
  std::vector<std::uint8_t> got;
  QElapsedTimer clock;
  clock.start();
  while (got.size() < count && clock.elapsed() < limit.count()) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    const std::vector<std::uint8_t> chunk = board.read(count - got.size(), std::chrono::milliseconds(2));
    got.insert(got.end(), chunk.begin(), chunk.end());
  }
  return got;
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
