#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <string>
#include <mutex>
#include <thread>
#include <vector>

#include "app/apply_language.h"
#include "app/msg_table.h"
#include "app/user_string_items.h"
#include "app/user_string_sender.h"
#include "app/user_strings_form.h"
#include "platform/com_devices.h"
#include "plain_main_thread_queue.h"
#include "serial/com_port.h"
#include "support/modal_answers.h"
#include "support/pty_pair.h"
#include "support/temp_folder.h"

namespace mirte {
namespace {

using testing::ModalAnswers;
using testing::TempFolder;

QApplication& App() {
  static int argc = 1;
  static char name[] = "user_strings_test";
  static char* argv[] = {name, nullptr};
  static QApplication app(argc, argv);
  return app;
}

// Types each character as a key press carrying that text, as a keyboard would.
void Type(QWidget* widget, const QString& text) {
  for (QChar c : text) {
    QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(c));
    QApplication::sendEvent(widget, &press);
  }
}

void SetUserString(SettingsRec& rec, int n, const std::string& cp1252, bool enter) {
  rec.UserStr[n - 1].assign(cp1252);
  rec.UserStrEnter[n - 1] = enter ? 1 : 0;
}

TEST(UserStringItemsTest, NumbersComeFromTwoDigitsOfTheName) {
  struct Case {
    const char* name;
    std::size_t position;
    int number;
  } cases[] = {
      {"TxStr07Pup", 6, 7}, {"TxStr10Cmd", 6, 10}, {"Str01Wn", 4, 1}, {"CR10Ck", 3, 10},
      {"TxStr00Cmd", 6, 0}, {"TxStr11Cmd", 6, 0},  {"TxStrA1Cmd", 6, 0}, {"TxStr", 6, 0},
      {"", 1, 0},           {"Str1", 0, 0},
  };
  for (const Case& c : cases) EXPECT_EQ(NumberInName(c.name, c.position), c.number) << c.name;
}

TEST(UserStringItemsTest, CaptionsFollowStringFlagAndLanguage) {
  struct Case {
    std::string text;  // Windows-1252
    bool enter;
    int language;
    std::string caption;  // UTF-8
    bool enabled;
    int tag;
  } cases[] = {
      {"DIR", true, kLanguageEnglish, "3: DIR  <Enter>", true, 36},
      {"DIR", true, kLanguageItalian, "3: DIR  <Invio>", true, 36},
      {"DIR", false, kLanguageEnglish, "3: DIR", true, 36},
      {"", true, kLanguageEnglish, "3: <None>", false, 34},
      {"", false, kLanguageItalian, "3: <Nessuna>", false, 34},
      {"A&B", false, kLanguageEnglish, "3: A&&B", true, 36},
      {"caff\xE8 \x80", false, kLanguageEnglish, "3: caff\xC3\xA8 \xE2\x82\xAC", true, 36},
  };
  for (const Case& c : cases) {
    SettingsRec rec{};
    SetUserString(rec, 3, c.text, c.enter);
    TUserStrItem item = UserStrItem(rec, 3, c.language);
    EXPECT_EQ(item.Caption, c.caption);
    EXPECT_EQ(item.Enabled, c.enabled) << c.caption;
    EXPECT_EQ(item.Tag, c.tag) << c.caption;
  }
}

// A main window stand-in with the twenty items under two menus, as the program has them.
class MenuWindow : public QMainWindow {
public:
  MenuWindow() {
    QMenu* strings = menuBar()->addMenu("&Trasmetti Stringa");
    auto* popup = new QMenu(this);
    for (int n = 1; n <= 10; ++n) {
      QAction* cmd = strings->addAction(QString::number(n));
      cmd->setObjectName(QString::asprintf("TxStr%02dCmd", n));
      cmd->setEnabled(false);
      QAction* pup = popup->addAction(QString::number(n));
      pup->setObjectName(QString::asprintf("TxStr%02dPup", n));
      pup->setEnabled(false);
      items << cmd << pup;
    }
  }
  QAction* Item(const char* name) const { return findChild<QAction*>(name); }
  QList<QAction*> items;
};

class UserStringsEditorTest : public ::testing::Test {
protected:
  void SetUp() override {
    settings.LoadSettings((folder / "mirte").string());
    std::filesystem::remove(settings.SettingsPath);
    SetUserString(settings.Rec, 1, "DIR", true);
    SetUserString(settings.Rec, 5, "TEST", false);
  }

  bool Edit() {
    return EditStrCmd(&window, settings, [this] { ++languageApplied; ApplyLanguage(settings.Rec); },
                      [this] { SetStrCaption(window.items, settings.Rec, settings.Rec.Language); ++captionsSet; });
  }
  bool SettingsFileWritten() const { return std::filesystem::exists(settings.SettingsPath); }

  QApplication& app = App();
  TempFolder folder;
  TSettings settings;
  MenuWindow window;
  ModalAnswers answers;
  int languageApplied = 0;
  int captionsSet = 0;
};

TEST_F(UserStringsEditorTest, ShowsTheSettingsAndKeepsConfirmedEditsInTheSettingsFile) {
  settings.Rec.Language = kLanguageEnglish;
  answers.Then([](QWidget& w) {
    auto& editor = dynamic_cast<TStrFrm&>(w);
    EXPECT_EQ(editor.windowTitle().toStdString(), "User Strings Editor");
    EXPECT_EQ(editor.CRCk(1)->text().toStdString(), "<Enter>");
    EXPECT_EQ(editor.CancelBtn->text().toStdString(), "C&ancel");
    EXPECT_EQ(editor.StrWn(1)->text().toStdString(), "DIR");
    EXPECT_TRUE(editor.CRCk(1)->isChecked());
    EXPECT_EQ(editor.StrWn(5)->text().toStdString(), "TEST");
    EXPECT_EQ(editor.focusWidget(), editor.StrWn(1));

    Type(editor.StrWn(2), "LS");
    QTest::mouseClick(editor.CRCk(2), Qt::LeftButton);
    editor.StrWn(5)->clear();
    QTest::mouseClick(editor.CRCk(1), Qt::LeftButton);
    EXPECT_EQ(editor.UserStr[1], "LS");
    EXPECT_TRUE(editor.UserStrEnter[1]);
    QTest::mouseClick(editor.OKBtn, Qt::LeftButton);
  });

  ASSERT_TRUE(Edit());
  EXPECT_EQ(languageApplied, 1);
  EXPECT_EQ(captionsSet, 1);
  EXPECT_EQ(answers.Unexpected(), 0);

  const std::vector<std::uint8_t> file = testing::readFileBytes(settings.SettingsPath);
  ASSERT_EQ(file.size(), 604u);
  EXPECT_EQ(file[284 + 31], 2);  // string 2: "LS"
  EXPECT_EQ(file[284 + 31 + 1], 'L');
  EXPECT_EQ(file[594 + 1], 1);
  EXPECT_EQ(file[594], 0);       // flag 1 cleared
  EXPECT_EQ(file[284 + 4 * 31], 0);  // string 5 emptied

  EXPECT_EQ(window.Item("TxStr02Cmd")->text().toStdString(), "2: LS  <Enter>");
  EXPECT_EQ(window.Item("TxStr02Pup")->text().toStdString(), "2: LS  <Enter>");
  EXPECT_EQ(window.Item("TxStr01Cmd")->text().toStdString(), "1: DIR");
  EXPECT_FALSE(window.Item("TxStr05Cmd")->isEnabled());
  EXPECT_EQ(window.Item("TxStr05Pup")->text().toStdString(), "5: <None>");

  settings.Rec.Language = kLanguageItalian;
  ApplyLanguageTo(&window, settings.Rec);
  EXPECT_EQ(window.Item("TxStr02Cmd")->text().toStdString(), "2: LS  <Invio>");
  EXPECT_EQ(window.Item("TxStr05Pup")->text().toStdString(), "5: <Nessuna>");
}

TEST_F(UserStringsEditorTest, CancelLeavesSettingsCaptionsAndFileAlone) {
  SetStrCaption(window.items, settings.Rec, settings.Rec.Language);
  const SettingsRec before = settings.Rec;
  answers.Then([](QWidget& w) {
    auto& editor = dynamic_cast<TStrFrm&>(w);
    Type(editor.StrWn(1), "X");
    QTest::mouseClick(editor.CRCk(3), Qt::LeftButton);
    QTest::mouseClick(editor.CancelBtn, Qt::LeftButton);
  });
  answers.Then([](QWidget& w) {
    auto& editor = dynamic_cast<TStrFrm&>(w);
    Type(editor.StrWn(2), "Y");
    QTest::keyClick(&editor, Qt::Key_Escape);  // the way Alt+F4 leaves a dialog
  });

  EXPECT_FALSE(Edit());
  EXPECT_FALSE(Edit());
  EXPECT_EQ(captionsSet, 0);
  EXPECT_FALSE(SettingsFileWritten());
  EXPECT_EQ(std::memcmp(&before, &settings.Rec, sizeof before), 0);
  EXPECT_EQ(window.Item("TxStr01Cmd")->text().toStdString(), "1: DIR  <Enter>");
  EXPECT_FALSE(window.Item("TxStr03Pup")->isEnabled());
}

TEST_F(UserStringsEditorTest, EditBoxesHoldThirtyWindows1252CharactersAtMost) {
  answers.Then([](QWidget& w) {
    auto& editor = dynamic_cast<TStrFrm&>(w);
    QLineEdit* box = editor.StrWn(4);
    Type(box, QString(31, 'x'));
    EXPECT_EQ(box->text().size(), 30);
    EXPECT_EQ(editor.UserStr[3], std::string(30, 'x'));

    box->clear();
    Type(box, QString::fromUtf8("\xE2\x82\xAC\xCE\xA9\xC3\xA8"));  // euro sign, omega, e grave
    EXPECT_EQ(box->text().toStdString(), "\xE2\x82\xAC\xC3\xA8");
    EXPECT_EQ(editor.UserStr[3], "\x80\xE8");
    QTest::mouseClick(editor.OKBtn, Qt::LeftButton);
  });
  ASSERT_TRUE(Edit());
  EXPECT_EQ(settings.Rec.UserStr[3].str(), "\x80\xE8");
}

TEST_F(UserStringsEditorTest, TabMovesFromEachEditBoxToItsCheckBoxThenToTheNextRow) {
  answers.Then([](QWidget& w) {
    auto& editor = dynamic_cast<TStrFrm&>(w);
    std::vector<QWidget*> expected;
    for (int n = 1; n <= 10; ++n) {
      expected.push_back(editor.StrWn(n));
      expected.push_back(editor.CRCk(n));
    }
    expected.push_back(editor.OKBtn);
    expected.push_back(editor.CancelBtn);
    for (std::size_t i = 0; i < expected.size(); ++i) {
      EXPECT_EQ(editor.focusWidget(), expected[i]) << "stop " << i;
      QTest::keyClick(editor.focusWidget(), Qt::Key_Tab);
    }
    editor.reject();
  });
  EXPECT_FALSE(Edit());
}

TEST_F(UserStringsEditorTest, ItemsOfEmptyStringsAreDisabledEvenWithTheEnterFlag) {
  SetUserString(settings.Rec, 4, "", true);
  SetStrCaption(window.items, settings.Rec, kLanguageEnglish);
  for (const char* name : {"TxStr04Cmd", "TxStr04Pup"}) {
    QAction* item = window.Item(name);
    EXPECT_FALSE(item->isEnabled());
    EXPECT_EQ(item->text().toStdString(), "4: <None>");
    EXPECT_EQ(TagOf(item), 34);
    EXPECT_EQ(TxStrClick(item), 0);
  }
  EXPECT_EQ(TxStrClick(window.Item("TxStr05Pup")), 5);
  EXPECT_EQ(TagOf(window.Item("TxStr05Pup")), 36);
}

using namespace std::chrono_literals;

// The board end of the link: it takes the bytes the PC sends one at a time and echoes
// each of the first `echoed` ones after `delay`, checking meanwhile that the PC sends
// nothing more before it has had its echo.
class EchoBoard {
public:
  EchoBoard(testing::PtyPair& link, std::chrono::milliseconds delay, std::size_t echoed)
      : pty(link), echoDelay(delay), echoCount(echoed), worker([this] { Run(); }) {}
  ~EchoBoard() {
    stop = true;
    worker.join();
  }

  std::string Received() {
    std::lock_guard guard(lock);
    return received;
  }
  bool SentEarly() const { return early; }
  // Waits until `count` bytes have come, at most `limit`.
  std::string WaitFor(std::size_t count, std::chrono::milliseconds limit) {
    auto deadline = std::chrono::steady_clock::now() + limit;
    while (Received().size() < count && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(2ms);
    return Received();
  }

private:
  void Take(const std::vector<std::uint8_t>& bytes) {
    std::lock_guard guard(lock);
    received.append(bytes.begin(), bytes.end());
  }
  void Run() {
    while (!stop) {
      std::vector<std::uint8_t> byte = pty.read(1, 10ms);
      if (byte.empty()) continue;
      Take(byte);
      if (++taken > echoCount) continue;
      std::vector<std::uint8_t> more = pty.read(1, echoDelay);
      if (!more.empty()) {
        early = true;
        Take(more);
      }
      pty.write(byte);
    }
  }

  testing::PtyPair& pty;
  std::chrono::milliseconds echoDelay;
  std::size_t echoCount;
  std::size_t taken = 0;
  std::atomic<bool> stop{false};
  std::atomic<bool> early{false};
  std::mutex lock;  // guards `received`, read by the test while the board thread appends
  std::string received;
  std::thread worker;
};

// The main window's side of sending: its port on a pseudo-terminal behind dosdevices/com5,
// its flags, and a data-available handler that reads every byte and sets DataSeen.
class UserStringSenderTest : public ::testing::Test {
protected:
  void SetUp() override {
    std::filesystem::create_directories(folder / "dosdevices");
    std::filesystem::create_symlink(pty.slavePath(), folder / "dosdevices" / "com5");
    SetComDevicesFolder(folder / "dosdevices");
    port.SetComNumber(5);
    port.SetBaud(115200);
    port.SetAutoOpen(false);
    port.SetOnTriggerAvail([this](TCustomComPort& cp, std::uint16_t) {
      while (cp.InputReady()) echoes += static_cast<char>(cp.ReadChar());
      flags.DataSeen = true;
    });
    port.SetOpen(true);
    SetUserString(rec, 1, "DIR", true);
    SetUserString(rec, 2, "X", false);
    SetUserString(rec, 3, "ABC", false);
    // A sender that never returns would hang the test; this ends it as a close would.
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [this] { flags.CloseRequested = guardFired = true; });
    guard.start(5000);
  }
  void TearDown() override { port.SetOpen(false); }

  void ServeEvents() {
    QCoreApplication::processEvents();
    queue.WaitForMessages(2ms);
    queue.ProcessMessages();
  }
  void Send(int n) {
    SendUserString(n, rec, flags, port, [this] { ServeEvents(); });
  }
  void After(std::chrono::milliseconds delay, std::function<void()> action) {
    QTimer::singleShot(delay, &app, std::move(action));
  }

  QApplication& app = App();
  TempFolder folder;
  testing::PtyPair pty;
  testing::PlainMainThreadQueue queue;
  TComPort port{&queue};
  TShellFlags flags;
  SettingsRec rec{};
  std::string echoes;
  QTimer guard;
  bool guardFired = false;
};

TEST_F(UserStringSenderTest, WaitsForAnEchoAfterEachCharacterButNotAfterTheLast) {
  EchoBoard board(pty, 60ms, 3);  // the carriage return is never echoed
  auto start = std::chrono::steady_clock::now();
  Send(1);
  auto took = std::chrono::steady_clock::now() - start;

  EXPECT_FALSE(guardFired);
  EXPECT_FALSE(flags.TxBusy);
  EXPECT_GE(took, 3 * 60ms);
  EXPECT_EQ(board.WaitFor(4, 1000ms), "DIR\r");
  EXPECT_FALSE(board.SentEarly());
  EXPECT_EQ(echoes, "DIR");
}

TEST_F(UserStringSenderTest, SendsASingleCharacterAtOnce) {
  EchoBoard board(pty, 60ms, 0);
  Send(2);
  EXPECT_FALSE(guardFired);
  EXPECT_FALSE(flags.TxBusy);
  EXPECT_EQ(board.WaitFor(1, 1000ms), "X");
}

TEST_F(UserStringSenderTest, CloseDuringTheWaitEndsTheStringUnsent) {
  EchoBoard board(pty, 10ms, 0);
  bool busyWhileWaiting = false;
  After(100ms, [&] {
    busyWhileWaiting = flags.TxBusy;
    flags.CloseRequested = true;
  });
  Send(3);
  EXPECT_TRUE(busyWhileWaiting);
  EXPECT_FALSE(flags.TxBusy);
  EXPECT_FALSE(guardFired);
  std::this_thread::sleep_for(100ms);
  EXPECT_EQ(board.Received(), "A");
}

TEST_F(UserStringSenderTest, SendsNothingWhileThePortIsNotAvailable) {
  EchoBoard board(pty, 10ms, 0);
  flags.ComNotAvailable = true;
  Send(1);
  EXPECT_FALSE(flags.TxBusy);
  std::this_thread::sleep_for(100ms);
  EXPECT_EQ(board.Received(), "");
}

TEST_F(UserStringSenderTest, PortClosedDuringTheWaitEndsTheStringQuietly) {
  EchoBoard board(pty, 10ms, 0);
  After(50ms, [&] { port.SetOpen(false); });
  Send(3);
  EXPECT_FALSE(flags.TxBusy);
  EXPECT_FALSE(guardFired);
  EXPECT_EQ(board.WaitFor(1, 500ms), "A");
}

}  // namespace
}  // namespace mirte
