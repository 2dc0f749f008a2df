#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "common/msg_table.h"
#include "app/user_string_items.h"
#include "app/paste_sender.h"
#include "app/user_string_sender.h"
#include "platform/com_devices.h"
#include "serial/com_port.h"
#include "serial/plain_main_thread_queue.h"
#include "support/pty_pair.h"
#include "support/temp_folder.h"

namespace mirte {
namespace {

void SetUserString(SettingsRec& rec, int n, const std::string& cp1252, bool enter) {
  rec.UserStr[n - 1].Assign(cp1252);
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
  // Once `count` bytes have come: what has come after a short while more. The sender has
  // written all it will by then, so a byte too many shows up right behind the others.
  std::string Settled(std::size_t count) {
    WaitFor(count, 5000ms);
    std::this_thread::sleep_for(50ms);
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
// its flags, and a data-available handler that reads every byte and sets DataSeen. Serving
// events handles the port's messages and runs the actions the test has scheduled.
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
  }
  void TearDown() override { port.SetOpen(false); }

  void ServeEvents() {
    queue.WaitForMessages(2ms);
    queue.ProcessMessages();
    auto now = std::chrono::steady_clock::now();
    if (action && now >= actionAt) std::exchange(action, nullptr)();
    // A sender that never returns would hang the test; this ends it as a close would.
    if (now - sendStarted > 5s) flags.CloseRequested = guardFired = true;
  }
  void Send(int n) {
    sendStarted = std::chrono::steady_clock::now();
    actionAt = sendStarted + actionDelay;
    SendUserString(n, rec, flags, port, [this] { ServeEvents(); });
  }
  void After(std::chrono::milliseconds delay, std::function<void()> todo) {
    actionDelay = delay;
    action = std::move(todo);
  }

  testing::TempFolder folder;
  testing::PtyPair pty;
  TPlainMainThreadQueue queue;
  TComPort port{&queue};
  TShellFlags flags;
  SettingsRec rec{};
  std::string echoes;
  std::chrono::steady_clock::time_point sendStarted, actionAt;
  std::chrono::milliseconds actionDelay{0};
  std::function<void()> action;
  bool guardFired = false;
};

TEST_F(UserStringSenderTest, WaitsForAnEchoAfterEachCharacterButNotAfterTheLast) {
  EchoBoard board(pty, 60ms, 3);  // the carriage return is never echoed
  Send(1);

  EXPECT_FALSE(guardFired);
  EXPECT_FALSE(flags.TxBusy);
  EXPECT_EQ(board.WaitFor(4, 5000ms), "DIR\r");
  EXPECT_FALSE(board.SentEarly());
  EXPECT_EQ(echoes, "DIR");
}

TEST_F(UserStringSenderTest, SendsASingleCharacterAtOnce) {
  EchoBoard board(pty, 60ms, 0);
  Send(2);
  EXPECT_FALSE(guardFired);
  EXPECT_FALSE(flags.TxBusy);
  EXPECT_EQ(board.WaitFor(1, 5000ms), "X");
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
  EXPECT_EQ(board.Settled(1), "A");
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
  EXPECT_EQ(board.WaitFor(1, 5000ms), "A");
}

// --- Paste ---------------------------------------------------------------------------------

TEST(PasteBytesTest, TypesTheTextAsKeysWouldSendIt) {
  struct Case {
    const char* what;
    std::string utf8;
    std::string bytes;
  } cases[] = {
      {"every line end is one CR", "a\r\nb\nc\rd\n", "a\rb\rc\rd\r"},
      {"blank lines stay", "a\n\n\r\n", "a\r\r\r"},
      {"tab is typed", "x\ty", "x\ty"},
      {"Windows-1252 letters and signs", "caff\u00e8 \u20ac5", "caff\xe8 \x80" "5"},
      {"what no key sends as text is left out", "a\x1b\x07\x7f\u00a0\U0001F600\u0416b",
       "a\xa0" "b"},
      {"broken UTF-8 is left out", "a\xff\xfe" "b", "ab"},
  };
  for (const Case& c : cases) EXPECT_EQ(PasteBytes(c.utf8), c.bytes) << c.what;
}

TEST_F(UserStringSenderTest, PasteWaitsForAnEchoAfterEachCharacterUntilStopped) {
  {
    EchoBoard board(pty, 20ms, 100);
    sendStarted = std::chrono::steady_clock::now();
    SendEchoPaced(PasteBytes("ab\ncd\nef\n"), flags, port, [this] { ServeEvents(); });
    EXPECT_FALSE(guardFired);
    EXPECT_EQ(board.WaitFor(9, 5000ms), "ab\rcd\ref\r");
    EXPECT_FALSE(board.SentEarly());
    EXPECT_FALSE(flags.TxBusy);
    // The sender never waits for the last echo; taken late, it would pass for the next
    // board's first one.
    const auto deadline = std::chrono::steady_clock::now() + 3s;
    while (echoes.size() < 9 && std::chrono::steady_clock::now() < deadline) ServeEvents();
    EXPECT_EQ(echoes, "ab\rcd\ref\r");
  }

  // Stopped while it waits for the first echo of a silent board: nothing more goes out.
  EchoBoard silent(pty, 10ms, 0);
  bool stop = false;
  echoes.clear();
  sendStarted = std::chrono::steady_clock::now();
  actionAt = sendStarted + 100ms;
  action = [&] { stop = true; };
  flags.DataSeen = false;
  SendEchoPaced("xyz", flags, port, [this] { ServeEvents(); }, &stop);
  EXPECT_FALSE(guardFired);
  EXPECT_FALSE(flags.TxBusy);
  EXPECT_EQ(silent.Settled(1), "x");
}

}  // namespace
}  // namespace mirte
