#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <QGroupBox>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "app/com_port_options.h"
#include "common/msg_table.h"
#include "platform/com_devices.h"
#include "serial/plain_main_thread_queue.h"
#include "support/qt_test_app.h"
#include "support/modal_answers.h"
#include "support/pty_pair.h"
#include "support/temp_folder.h"

namespace mirte {
namespace {

using testing::ModalAnswers;
using namespace std::chrono_literals;

QApplication& App() { return mirte::testing::TestApp(); }

// Holds a device the way another program would: open and locked.
class DeviceHolder {
public:
  explicit DeviceHolder(const std::string& path) : fd(::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC)) {
    if (fd >= 0) ::flock(fd, LOCK_EX | LOCK_NB);
  }
  ~DeviceHolder() {
    if (fd >= 0) ::close(fd);
  }
  DeviceHolder(const DeviceHolder&) = delete;
  DeviceHolder& operator=(const DeviceHolder&) = delete;
  bool holds() const { return fd >= 0; }

private:
  int fd;
};

TComPortOptions& Options(QWidget& w) { return dynamic_cast<TComPortOptions&>(w); }

void Choose(TComPortOptions& dialog, int comNumber) {
  int index = dialog.PortComboBox->findData(comNumber);
  ASSERT_GE(index, 0) << "COM" << comNumber << " is not listed";
  dialog.PortComboBox->setCurrentIndex(index);
  emit dialog.PortComboBox->activated(index);
}

// The main window's part: its port (COM3 at 57600 behind a pseudo-terminal), the settings
// file in a temporary program folder, the flags and the two call-backs.
class ComPortOptionsTest : public ::testing::Test {
protected:
  void SetUp() override {
    std::filesystem::create_directories(folder / "dosdevices");
    std::filesystem::create_symlink(com2.slavePath(), folder / "dosdevices" / "com2");
    std::filesystem::create_symlink(com3.slavePath(), folder / "dosdevices" / "com3");
    SetComDevicesFolder(folder / "dosdevices");

    settings.LoadSettings((folder / "mirte").string());
    std::filesystem::remove(settings.SettingsPath);

    port.SetTapiMode(tmOff);
    port.SetAutoOpen(false);
    port.SetComNumber(3);
    port.SetBaud(57600);
    port.SetStopBits(2);
    port.SetOnTriggerAvail([this](TCustomComPort& cp, std::uint16_t) {
      while (cp.InputReady()) received += static_cast<char>(cp.ReadChar());
    });
    host.UpdateComInfo = [this] { ++comInfoUpdates; };
    host.FocusTerminal = [this] { ++terminalFocused; };
  }
  void TearDown() override { port.SetOpen(false); }

  void RunCommand() { SelCOMCmdClick(port, options, settings, flags, host); }
  std::vector<std::uint8_t> SettingsFile() const { return testing::readFileBytes(settings.SettingsPath); }
  static std::uint16_t U16(const std::vector<std::uint8_t>& b, std::size_t at) {
    return static_cast<std::uint16_t>(b[at] | b[at + 1] << 8);
  }
  static std::int32_t I32(const std::vector<std::uint8_t>& b, std::size_t at) {
    return static_cast<std::int32_t>(b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24);
  }

  QApplication& app = App();
  testing::TempFolder folder;
  testing::PtyPair com2;
  testing::PtyPair com3;
  TPlainMainThreadQueue queue;
  TComPort port{&queue};
  TComPortOptions options;
  TSettings settings;
  TShellFlags flags;
  TSelComHost host;
  ModalAnswers answers;
  std::string received;
  int comInfoUpdates = 0;
  int terminalFocused = 0;
};

TEST_F(ComPortOptionsTest, PreselectsThePortInUseAndCancelReopensItWithDtrInverted) {
  port.SetOpen(true);
  const bool dtrBefore = port.DTR();
  answers.Then([&](QWidget& w) {
    TComPortOptions& dialog = Options(w);
    EXPECT_FALSE(port.Open()) << "the main port stays closed while the dialog is open";
    EXPECT_EQ(dialog.PortComboBox->currentData().toInt(), 3);
    // Each number says what stands behind it.
    EXPECT_EQ(dialog.PortComboBox->currentText().toStdString(),
              "Direct to COM3 \u2013 " + ComDevicePath(3).string());
    EXPECT_EQ(dialog.DeviceLb->toolTip().toStdString(), com3.slavePath());
    EXPECT_GE(dialog.PortComboBox->findData(2), 0);
    EXPECT_EQ(dialog.PortComboBox->findData(49), -1);
    EXPECT_EQ(dialog.BaudIndex(), 3);
    EXPECT_TRUE(dialog.OKBtn->isEnabled());
    EXPECT_EQ(dialog.focusWidget(), dialog.PortComboBox);
    QTest::mouseClick(dialog.BaudBtn[0], Qt::LeftButton);
    Choose(dialog, 2);
    QTest::mouseClick(dialog.CancelBtn, Qt::LeftButton);
  });
  RunCommand();

  EXPECT_FALSE(options.Confirmed);
  EXPECT_TRUE(port.Open());
  EXPECT_EQ(port.ComNumber(), 3);
  EXPECT_EQ(port.Baud(), 57600);
  EXPECT_EQ(port.DTR(), !dtrBefore);
  EXPECT_FALSE(flags.ComNotAvailable);
  EXPECT_FALSE(std::filesystem::exists(settings.SettingsPath));
  EXPECT_EQ(comInfoUpdates, 1);
  EXPECT_EQ(terminalFocused, 1);
  EXPECT_EQ(answers.Unexpected(), 0);
}

TEST_F(ComPortOptionsTest, ConfirmedChoiceIsSavedAtOnceEvenWhenThePortThenFails) {
  settings.Rec.Language = kLanguageItalian;
  flags.ComNotAvailable = true;
  DeviceHolder otherProgram(com2.slavePath());
  ASSERT_TRUE(otherProgram.holds());
  answers.Then([&](QWidget& w) {
    TComPortOptions& dialog = Options(w);
    EXPECT_EQ(dialog.PortComboBox->currentIndex(), -1);
    EXPECT_FALSE(dialog.OKBtn->isEnabled());
    Choose(dialog, 2);
    EXPECT_TRUE(dialog.OKBtn->isEnabled());
    EXPECT_EQ(dialog.DeviceLb->toolTip().toStdString(), com2.slavePath());
    QTest::mouseClick(dialog.BaudBtn[0], Qt::LeftButton);
    QTest::mouseClick(dialog.OKBtn, Qt::LeftButton);
  });
  answers.ThenAccept();
  RunCommand();

  EXPECT_TRUE(options.Confirmed);
  ASSERT_EQ(answers.MessageTexts().size(), 1u);
  // The other program is this test, found holding the device.
  EXPECT_EQ(answers.MessageTexts()[0].rfind("COM2 (" + ComDevicePath(2).string() + ") \u00e8 gi\u00e0 utilizzata", 0), 0u)
      << answers.MessageTexts()[0];
  EXPECT_NE(answers.MessageTexts()[0].find("(processo " + std::to_string(getpid()) + ")"), std::string::npos);
  const std::vector<std::uint8_t> file = SettingsFile();
  ASSERT_EQ(file.size(), 604u);
  EXPECT_EQ(U16(file, 2), 2);
  EXPECT_EQ(I32(file, 4), 9600);
  EXPECT_TRUE(flags.ComNotAvailable);
  EXPECT_FALSE(port.Open());
  EXPECT_EQ(port.ComNumber(), 2);
  EXPECT_EQ(port.Baud(), 9600);
  EXPECT_EQ(port.StopBits(), 2);
  EXPECT_EQ(port.DataBits(), 8);
  EXPECT_EQ(port.Parity(), pNone);
  EXPECT_EQ(comInfoUpdates, 1);
  EXPECT_EQ(answers.Unexpected(), 0);
}

TEST_F(ComPortOptionsTest, ConfirmedWorkingPortOpensWithTheFixedLineFormat) {
  port.SetParity(pEven);
  port.SetDataBits(7);
  port.SetSWFlowOptions(swfBoth);
  port.SetOpen(true);
  const bool dtrBefore = port.DTR();
  answers.Then([&](QWidget& w) {
    TComPortOptions& dialog = Options(w);
    Choose(dialog, 2);
    QTest::mouseClick(dialog.BaudBtn[4], Qt::LeftButton);
    QTest::mouseClick(dialog.OKBtn, Qt::LeftButton);
  });
  RunCommand();

  EXPECT_TRUE(answers.MessageTexts().empty());
  EXPECT_TRUE(port.Open());
  EXPECT_FALSE(flags.ComNotAvailable);
  EXPECT_EQ(port.ComNumber(), 2);
  EXPECT_EQ(port.Baud(), 115200);
  EXPECT_EQ(port.DataBits(), 8);
  EXPECT_EQ(port.Parity(), pNone);
  EXPECT_EQ(port.SWFlowOptions(), swfNone);
  EXPECT_EQ(port.DTR(), !dtrBefore);
  EXPECT_EQ(U16(SettingsFile(), 2), 2);
  EXPECT_EQ(I32(SettingsFile(), 4), 115200);

  // The reopened port still hands the board's bytes to the main window.
  com2.write("OK");
  queue.PumpUntil([&] { return received == "OK"; }, 2000ms);
  EXPECT_EQ(received, "OK");
}

TEST_F(ComPortOptionsTest, CancelWhileThePortIsNotAvailableLeavesItClosed) {
  flags.ComNotAvailable = true;
  answers.ThenReject();
  RunCommand();
  EXPECT_FALSE(port.Open());
  EXPECT_TRUE(flags.ComNotAvailable);
  EXPECT_TRUE(answers.MessageTexts().empty());
  EXPECT_FALSE(std::filesystem::exists(settings.SettingsPath));
  EXPECT_EQ(comInfoUpdates, 1);
}

TEST_F(ComPortOptionsTest, PreselectsTheBaudButtonOfTheCarriedRate) {
  struct Case {
    std::int32_t baud;
    int button;
  } cases[] = {{9600, 0}, {38400, 2}, {115200, 4}, {115209, 4}, {4800, 1}, {0, 1}};
  for (const Case& c : cases) {
    options.ComPort.SetBaud(c.baud);
    int seen = -2;
    answers.Then([&](QWidget& w) {
      seen = Options(w).BaudIndex();
      Options(w).reject();
    });
    EXPECT_FALSE(options.Execute(false));
    EXPECT_EQ(seen, c.button) << c.baud;
  }
}

TEST_F(ComPortOptionsTest, IsWideEnoughForItsLongestEntryAndCaptionAtEveryFontSize) {
  std::filesystem::create_symlink(com3.slavePath(), folder / "dosdevices" / "com49");
  const QFont original = QApplication::font();
  for (int points : {8, 10, 12, 16}) {
    QFont font = original;
    font.setPointSize(points);
    QApplication::setFont(font);
    answers.Then([&](QWidget& w) {
      TComPortOptions& dialog = Options(w);
      const int at = dialog.PortComboBox->findData(49);
      ASSERT_GE(at, 0);
      const QString longest = dialog.PortComboBox->itemText(at);
      const QFontMetrics metrics(dialog.PortComboBox->font());
      EXPECT_GE(dialog.PortComboBox->width(), metrics.horizontalAdvance(longest)) << points << " pt";
      EXPECT_LE(dialog.PortComboBox->geometry().right(), dialog.Comports->contentsRect().right()) << points;
      EXPECT_GE(dialog.width(), dialog.fontMetrics().horizontalAdvance(dialog.windowTitle()) + 100) << points;
      EXPECT_GE(dialog.width(), 185);
      EXPECT_GE(dialog.height(), 258);
      EXPECT_GE(dialog.height(), dialog.sizeHint().height()) << points;
      QTest::mouseClick(dialog.CancelBtn, Qt::LeftButton);
    });
    RunCommand();
  }
  QApplication::setFont(original);
  EXPECT_EQ(answers.Unexpected(), 0);
}

}  // namespace
}  // namespace mirte
