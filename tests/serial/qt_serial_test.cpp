#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QThread>
#include <QTimer>
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/com_devices.h"
#include "serial/com_port.h"
#include "serial/com_select_form.h"
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

TEST(ComSelectForm, ListsExistingPortsInOrderAndAnswersTheChosenOne) {
  QtRig rig;
  testing::PtyPair other;
  rig.link(3, other.slavePath());
  TComSelectForm form;
  EXPECT_EQ(form.windowTitle(), "Select Port");
  EXPECT_EQ(form.size(), QSize(220, 131));
  EXPECT_EQ(form.Bevel1->geometry(), QRect(8, 8, 201, 42));
  EXPECT_EQ(form.Label1->text(), "The configured serial port is not valid.");
  EXPECT_EQ(form.Label1->pos(), QPoint(18, 14));
  EXPECT_EQ(form.Label2->text(), "Please choose another port.");
  EXPECT_EQ(form.Label2->pos(), QPoint(18, 30));
  EXPECT_EQ(form.PortsComboBox->pos(), QPoint(8, 64));
  EXPECT_EQ(form.PortsComboBox->width(), 201);
  EXPECT_FALSE(form.PortsComboBox->isEditable());
  EXPECT_EQ(form.OkBtn->geometry(), QRect(8, 95, 85, 27));
  EXPECT_TRUE(form.OkBtn->isDefault());
  EXPECT_EQ(form.CancelBtn->geometry(), QRect(124, 95, 85, 27));
  EXPECT_EQ(form.CancelBtn->text(), "Cancel");

  int com3 = form.PortsComboBox->findData(3);
  int com7 = form.PortsComboBox->findData(7);
  ASSERT_GE(com3, 0);
  ASSERT_GT(com7, com3);
  EXPECT_EQ(form.PortsComboBox->currentIndex(), 0);
  form.PortsComboBox->setCurrentIndex(com7);
  EXPECT_EQ(form.SelectedComNumber(), 7);
  EXPECT_TRUE(form.PortsComboBox->itemText(com7).startsWith("COM7 \u2013 /")) << "with the device behind it";

  QImage image = form.grab().toImage();
  QColor background = image.pixelColor(2, 2);
  bool textDrawn = false;
  for (int x = 18; x < 200 && !textDrawn; ++x)
    for (int y = 14; y < 28 && !textDrawn; ++y) textDrawn = image.pixelColor(x, y) != background;
  EXPECT_TRUE(textDrawn) << "the first text is painted";
}

// Presses a button of the modal dialog as soon as it shows.
void answerModalWith(const char* buttonName) {
  QTimer::singleShot(0, [buttonName] {
    auto* dialog = qobject_cast<TComSelectForm*>(QApplication::activeModalWidget());
    if (!dialog) return answerModalWith(buttonName);
    dialog->findChild<QPushButton*>(buttonName)->click();
  });
}

TEST(ComSelectForm, APortWithoutNumberAsksAndOpensTheChosenPort) {
  QtRig rig;
  rig.port.SetComNumber(0);
  rig.port.SetPortPrompt([] { return PromptForComPort(); });
  answerModalWith("CancelBtn");
  EXPECT_THROW(rig.port.SetOpen(true), ENoPortSelected);
  EXPECT_FALSE(rig.port.Open());

  // OK takes the preselected first entry: the pty behind COM7 unless the machine has a
  // real port below it, which the test then need not be able to open.
  auto entries = AvailableComEntries();
  ASSERT_FALSE(entries.empty());
  answerModalWith("OkBtn");
  try {
    rig.port.SetOpen(true);
  } catch (const ESerialException&) {
  }
  EXPECT_EQ(rig.port.ComNumber(), ComNumberOfSelectEntry(entries.front()));
  if (entries.front() == "COM7") {
    EXPECT_TRUE(rig.port.Open());
  }
}

TEST(ComSelectForm, DirectToComListNamesEveryExistingPort) {
  QtRig rig;
  auto list = BuildDirectToComList();
  EXPECT_NE(std::find(list.begin(), list.end(), "Direct to COM7"), list.end());
  EXPECT_FALSE(QGuiApplication::overrideCursor()) << "the hourglass is gone again";
}

}  // namespace
}  // namespace mirte
