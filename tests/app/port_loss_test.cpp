// The main window and its port dialog with the serial port's Linux side: the window going
// while a board is served, a port the user closed or changed while its device was away,
// ports that do not open and say why, and USB adapters chosen by name. A board unplugged
// and plugged in again is played against both programs in tests/serve/front_ends_test.cpp.
#include <sys/fsuid.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <QComboBox>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>
#include <QTimer>

#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <thread>

#include "app/com_port_options.h"
#include "app/term_form.h"
#include "common/port_texts.h"
#include "support/fake_device_tree.h"
#include "support/main_window_rig.h"
#include "support/modal_answers.h"
#include "support/pty_pair.h"
#include "support/qt_test_app.h"
#include "support/qt_wait.h"
#include "support/temp_folder.h"

namespace mirte {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;
using testing::ModalAnswers;
using testing::PtyPair;

using testing::WaitFor;

// The program runs idle, as in its own event loop, for `time`.
void RunIdle(std::chrono::milliseconds time) {
  QEventLoop loop;
  QTimer::singleShot(time, &loop, &QEventLoop::quit);
  loop.exec();
}

// A board on a pty reached as COM49 through dosdevices/com49; the test can pull the pty
// out and plug a new one in under the same link.
class PortLossWindowTest : public ::testing::Test {
protected:
  static constexpr int kBoardCom = 49;
  testing::TempFolder folder;
  std::unique_ptr<PtyPair> board = std::make_unique<PtyPair>();
  std::unique_ptr<TTermFrm> form;

  void SetUp() override {
    mirte::testing::TestApp();
    std::filesystem::create_directory(folder / "dosdevices");
    Link(kBoardCom, board->slavePath());
  }
  void TearDown() override { form.reset(); }

  void Link(int com, const std::filesystem::path& device) {
    auto name = folder / "dosdevices" / ("com" + std::to_string(com));
    std::filesystem::remove(name);
    std::filesystem::create_symlink(device, name);
  }
  // The pty goes; its name is pointed where nothing is, since another pty may take it over.
  void Unplug() {
    board.reset();
    Link(kBoardCom, folder / "unplugged");
  }
  void Replug() {
    board = std::make_unique<PtyPair>();
    Link(kBoardCom, board->slavePath());
  }

  TTermFrm& Start(int com = kBoardCom, int language = kLanguageEnglish) {
    SettingsRec rec = testing::FolderSettings(folder);
    rec.ComNumber = static_cast<std::uint16_t>(com);
    rec.Language = static_cast<std::uint8_t>(language);
    testing::WriteSettingsFile(folder, rec);
    form = testing::StartMainWindow(folder);
    return *form;
  }
  QString PortPanel() { return form->Panels[0]->text(); }
};

// Whether any descriptor of this process is open on the device.
bool HoldsOpen(const std::string& device) {
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd", error))
    if (std::filesystem::read_symlink(entry.path(), error) == device) return true;
  return false;
}

// Closing the program while a delivery waits for the window and replies are due: the port's
// workers end before anything they hand messages to goes, the device is let go, and nothing
// reaches the board once the window is gone.
TEST_F(PortLossWindowTest, TheWindowGoesCleanlyWhileTheBoardIsBeingServed) {
  Bytes traffic;
  for (int i = 0; i < 20; ++i) traffic.insert(traffic.end(), {16, 17, 25});  // current drive: a reply each
  traffic.insert(traffic.end(), 100, 'x');
  for (int round = 0; round < 24; ++round) {
    SCOPED_TRACE(round);
    TTermFrm& frm = Start();
    ASSERT_TRUE(frm.ComPort.Open());
    ASSERT_TRUE(HoldsOpen(board->slavePath()));
    board->write(traffic);
    // Nothing handles events meanwhile, so the dispatcher worker is on its way into a
    // delivery or waits in one.
    std::this_thread::sleep_for(std::chrono::microseconds(round * 500));
    QElapsedTimer closing;
    closing.start();
    form.reset();
    EXPECT_LT(closing.elapsed(), 2000) << "the window took too long to go";
    EXPECT_FALSE(HoldsOpen(board->slavePath())) << "the device is still open";
    board->readUntilQuiet(10ms);  // replies that left before the window went
    board->write(Bytes{16, 17, 25});
    EXPECT_TRUE(board->read(1, 50ms).empty()) << "a byte reached the board after the window went";
  }
}

TEST_F(PortLossWindowTest, APortTheUserClosedOrChangedStaysAsTheUserLeftIt) {
  TTermFrm& frm = Start();
  frm.ComPort.SetOpen(false);
  Unplug();
  Replug();
  RunIdle(1500ms);
  EXPECT_FALSE(frm.PortLost());
  EXPECT_FALSE(frm.ComPort.Open());

  // Lost, then the user picks another port: the lost one is no longer waited for.
  frm.ComPort.SetOpen(true);
  PtyPair other;
  Link(3, other.slavePath());
  Unplug();
  ASSERT_TRUE(WaitFor([&] { return frm.PortLost(); }));
  ModalAnswers answers;
  answers.Then([&](QWidget& w) {
    auto& dialog = dynamic_cast<TComPortOptions&>(w);
    const int index = dialog.PortComboBox->findData(3);
    ASSERT_GE(index, 0);
    dialog.PortComboBox->setCurrentIndex(index);
    emit dialog.PortComboBox->activated(index);
    QTest::mouseClick(dialog.OKBtn, Qt::LeftButton);
  });
  frm.SelCOMCmdClick();
  EXPECT_FALSE(frm.PortLost());
  Replug();
  RunIdle(1500ms);
  EXPECT_TRUE(frm.ComPort.Open());
  EXPECT_EQ(frm.ComPort.ComNumber(), 3);
  EXPECT_EQ(PortPanel(), " COM3:115200 Baud");
  EXPECT_EQ(answers.Unexpected(), 0);
}

TEST_F(PortLossWindowTest, APortThatMayNotBeOpenedSaysHowToOpenIt) {
  TTermFrm& frm = Start();
  frm.ComPort.SetOpen(false);
  // Mode 000 stops any user but root; root is made to look like one by its file-system
  // identity, which is all that permission checks see.
  ASSERT_EQ(chmod(board->slavePath().c_str(), 0), 0);
  std::filesystem::permissions(folder.path(), std::filesystem::perms::others_exec, std::filesystem::perm_options::add);
  const bool root = geteuid() == 0;
  auto asNobody = [root](bool nobody) {
    if (!root) return;
    setfsgid(nobody ? 65534 : 0);
    setfsuid(nobody ? 65534 : 0);
  };

  ModalAnswers answers;
  answers.Then([&](QWidget& w) {
    auto& dialog = dynamic_cast<TComPortOptions&>(w);
    const int index = dialog.PortComboBox->findData(kBoardCom);
    ASSERT_GE(index, 0) << "a port that exists is listed even when it may not be opened";
    dialog.PortComboBox->setCurrentIndex(index);
    emit dialog.PortComboBox->activated(index);
    QTest::mouseClick(dialog.OKBtn, Qt::LeftButton);
  });
  answers.ThenAccept();
  frm.Settings.Rec.Language = kLanguageItalian;
  asNobody(true);
  frm.SelCOMCmdClick();
  asNobody(false);
  chmod(board->slavePath().c_str(), 0620);

  ASSERT_EQ(answers.MessageTexts().size(), 1u);
  const std::string& text = answers.MessageTexts()[0];
  EXPECT_EQ(text.rfind("COM49 (" + board->slavePath() + ") esiste", 0), 0u) << "in the current language: " << text;
  // Mode 000 lets no group in, so joining one would not help: the advice is a udev rule.
  EXPECT_EQ(text.find("usermod"), std::string::npos) << text;
  EXPECT_NE(text.find("KERNEL==\""), std::string::npos) << text;
  EXPECT_TRUE(frm.Flags().ComNotAvailable);
  EXPECT_EQ(PortPanel(), " COM49 accesso negato");
  EXPECT_EQ(frm.Panels[0]->toolTip().toStdString(), text) << "the panel tells the whole story on demand";

  // At the next start the port opens again, and the panel is the usual one.
  frm.Settings.Rec.Language = kLanguageEnglish;
  form.reset();
  Start();
  EXPECT_EQ(PortPanel(), " COM49:115200 Baud");
  EXPECT_TRUE(form->Panels[0]->toolTip().isEmpty());
}

TEST_F(PortLossWindowTest, AdaptersAreListedByNameAndANewOneGetsALink) {
  testing::FakeDeviceTree tree(folder / "root");
  PtyPair second;
  tree.plug("ttyUSB0", board->slavePath(), 1, "FTDI", "FT232R USB UART", "A50285BI", "usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0");
  Link(17, tree.byIdLink("usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0"));
  TTermFrm& frm = Start(17);
  frm.CreateToolWindows();
  frm.ComPortOptions()->DeviceRoots = tree.roots();

  ModalAnswers answers;
  answers.Then([&](QWidget& w) {
    auto& dialog = dynamic_cast<TComPortOptions&>(w);
    const QString com17 = dialog.PortComboBox->itemText(dialog.PortComboBox->findData(17));
    EXPECT_TRUE(com17.startsWith("Direct to COM17")) << com17.toStdString();
    EXPECT_TRUE(com17.contains("FT232R USB UART A50285BI")) << com17.toStdString();
    EXPECT_TRUE(com17.contains("usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0")) << com17.toStdString();

    // Plugged in while the dialog is open.
    tree.plug("ttyACM0", second.slavePath(), 2, "Maker", "Board Link", "42", "usb-Maker_Board_Link_42-if00");
    ASSERT_TRUE(WaitFor([&] { return dialog.PortComboBox->count() > 0 &&
                                     dialog.PortComboBox->itemText(dialog.PortComboBox->count() - 1).startsWith("New adapter"); }));
    const int index = dialog.PortComboBox->count() - 1;
    EXPECT_TRUE(dialog.PortComboBox->itemText(index).contains("Board Link 42"));
    dialog.PortComboBox->setCurrentIndex(index);
    emit dialog.PortComboBox->activated(index);
    EXPECT_TRUE(dialog.ComNumberWn->isVisible());
    EXPECT_EQ(dialog.ComNumberWn->value(), 18) << "the first free number from 17 up";
    QTest::mouseClick(dialog.OKBtn, Qt::LeftButton);
  });
  frm.SelCOMCmdClick();

  EXPECT_EQ(std::filesystem::read_symlink(folder / "dosdevices" / "com18"), tree.byIdLink("usb-Maker_Board_Link_42-if00"));
  EXPECT_TRUE(frm.ComPort.Open());
  EXPECT_EQ(frm.ComPort.ComNumber(), 18);
  EXPECT_EQ(frm.Settings.Rec.ComNumber, 18) << "the settings keep a plain number";
  frm.ComPort.WriteString("X");
  EXPECT_EQ(second.read(1, 2000ms).size(), 1u);
  EXPECT_EQ(answers.Unexpected(), 0);
}

}  // namespace
}  // namespace mirte
