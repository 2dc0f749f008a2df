#include <QApplication>
#include <QElapsedTimer>
#include <QThread>
#include <QTimer>
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/com_devices.h"
#include "serial/com_port.h"
#include "serial/port_list.h"
#include "serial/qt_main_thread_queue.h"
#include "support/qt_test_app.h"
#include "support/pty_pair.h"
#include "support/temp_folder.h"

namespace mirte {
namespace {

using namespace std::chrono_literals;

QApplication& app() { return mirte::testing::TestApp(); }

template <typename Done>
bool processEventsUntil(Done done, int limitMs = 3000) {
  QElapsedTimer timer;
  timer.start();
  while (!done()) {
    if (timer.elapsed() > limitMs) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    std::this_thread::sleep_for(1ms);
  }
  return true;
}

struct Recorder : IMessageTarget {
  std::atomic<int> calls{0};
  std::thread::id thread;
  std::intptr_t HandleMessage(std::uint32_t, std::uintptr_t, std::intptr_t) override {
    thread = std::this_thread::get_id();
    ++calls;
    return 0;
  }
};

TEST(QtMainThreadQueue, SentMessagesRunOnTheGuiThreadWhileTheSenderWaits) {
  app();
  TQtMainThreadQueue queue;
  auto target = std::make_shared<Recorder>();
  std::atomic<bool> delivered{false};
  std::thread worker([&] { delivered = queue.SendMessage(target, 0x7E01, 1, 0, 3000ms); });
  EXPECT_TRUE(processEventsUntil([&] { return target->calls == 1; }));
  worker.join();
  EXPECT_TRUE(delivered);
  EXPECT_EQ(target->thread, std::this_thread::get_id());
  EXPECT_TRUE(queue.IsMainThread());
}

TEST(QtMainThreadQueue, ASendThatTimesOutIsWithdrawnAndDeadTargetsAreSkipped) {
  app();
  TQtMainThreadQueue queue;
  auto target = std::make_shared<Recorder>();
  bool delivered = true;
  std::thread worker([&] { delivered = queue.SendMessage(target, 1, 0, 0, 30ms); });
  worker.join();  // the GUI thread handled nothing meanwhile
  EXPECT_FALSE(delivered);
  auto gone = std::make_shared<Recorder>();
  std::weak_ptr<IMessageTarget> weak = gone;
  queue.PostMessage(weak, 2, 0, 0);
  gone.reset();
  queue.PostMessage(target, 3, 0, 0);
  EXPECT_TRUE(processEventsUntil([&] { return target->calls == 1; }));
  QCoreApplication::processEvents();
  EXPECT_EQ(target->calls, 1) << "the withdrawn message never ran";
}

// A board on a pty behind COM7, as the Qt program would meet it.
struct QtRig {
  testing::TempFolder folder;
  testing::PtyPair board;
  TQtMainThreadQueue queue;
  TComPort port{&queue};
  QtRig() {
    app();
    std::filesystem::create_directory(folder / "dosdevices");
    SetComDevicesFolder(folder / "dosdevices");
    link(7, board.slavePath());
    port.SetComNumber(7);
    port.SetBaud(115200);
    port.SetAutoOpen(false);
  }
  void link(int com, const std::string& target) {
    std::filesystem::create_symlink(target, folder / "dosdevices" / ("com" + std::to_string(com)));
  }
};

TEST(QtComPort, DeliversReceivedBytesOnTheGuiThreadAndClosesFromTheHandler) {
  QtRig rig;
  std::string received;
  bool closeNow = false;
  rig.port.SetOnTriggerAvail([&](TCustomComPort& port, std::uint16_t) {
    EXPECT_EQ(QThread::currentThread(), QCoreApplication::instance()->thread());
    while (port.InputReady()) {
      received += static_cast<char>(port.ReadChar());
      port.SetDTR(!port.DTR());
    }
    port.WriteString("ack");
    if (closeNow) port.SetOpen(false);
  });
  rig.port.SetOpen(true);
  rig.board.write("ping");
  ASSERT_TRUE(processEventsUntil([&] { return received == "ping"; }));
  EXPECT_EQ(rig.board.read(3, 2000ms), (std::vector<std::uint8_t>{'a', 'c', 'k'}));

  closeNow = true;
  rig.board.write("bye");
  ASSERT_TRUE(processEventsUntil([&] { return rig.port.PortState() == StateClosed; }));
  EXPECT_FALSE(rig.port.Open());
  EXPECT_EQ(received, "pingbye");
}

}  // namespace
}  // namespace mirte
