// One board session on its own, as either front end starts it: the settings of a program
// folder, its COM link to a pseudo-terminal, the board's console reaching the session's
// screen and the front end's console tap, and a port that will not open.
#include "session/board_session.h"

#include <gtest/gtest.h>

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "serial/plain_main_thread_queue.h"
#include "support/fake_board_window.h"
#include "support/line_model.h"
#include "support/pty_pair.h"
#include "support/temp_folder.h"
#include "terminal/console_text.h"

namespace mirte {
namespace {

using namespace std::chrono_literals;

// The fake window answers with the session's flags, as both real front ends do.
struct SessionView : testing::FakeBoardWindow, ISessionEvents, IConsoleTap {
  TBoardSession* session = nullptr;
  int lost = 0;
  std::string console;
  TShellFlags& Flags() override { return session->Flags; }
  void DeviceLost() override { ++lost; }
  void DeviceBack() override {}
  void LineNotice(std::string_view text) override { notices.emplace_back(text); }
  std::vector<std::string> notices;
  void ConsoleOutput(std::uint8_t byte) override { console.push_back(static_cast<char>(byte)); }
};

class BoardSessionTest : public ::testing::Test {
protected:
  testing::TempFolder folder;
  testing::PtyPair board;
  SessionView view;
  TPlainMainThreadQueue* queue = nullptr;
  std::unique_ptr<TBoardSession> session;
  // Set before Start, it stands in for the line's own facts from the port's opening on.
  ILineFacts* lineFacts = nullptr;

  void Start(const std::filesystem::path& device) {
    std::filesystem::create_directories(folder / "work");
    std::filesystem::create_directories(folder / "dosdevices");
    std::filesystem::create_symlink(device, folder / "dosdevices" / "com49");
    TSettings settings;
    settings.ProgramFolder = folder.path().string() + "/";
    settings.SettingsPath = (folder / "mirte.SET").string();
    settings.SetDefaultSettings();
    settings.Rec.ComNumber = 49;
    settings.SetWorkFolder((folder / "work").string());
    settings.SaveSettings();

    auto plain = std::make_unique<TPlainMainThreadQueue>();
    queue = plain.get();
    const std::string program = (folder / "mirte").string();
    session = std::make_unique<TBoardSession>(SettingsBesideProgram(program), program, std::move(plain), view, view,
                                              nullptr);
    view.session = session.get();
    session->Board().SetReplyDelay(0us);
    session->SetLineFacts(lineFacts);
    session->LoadSettings();
    session->SetTermImp();
    session->StartBoard();
  }
  // Up to `count` reply bytes, or what came within `limit` while the session was served.
  std::string Reply(testing::LineModel& line, std::size_t count, std::chrono::milliseconds limit) {
    std::string got;
    queue->PumpUntil(
        [&] {
          pollfd ready{line.BoardEnd(), POLLIN, 0};
          while (got.size() < count && ::poll(&ready, 1, 0) > 0) {
            char byte;
            if (::read(line.BoardEnd(), &byte, 1) != 1) break;
            got += byte;
          }
          return got.size() >= count;
        },
        limit);
    return got;
  }
};

TEST_F(BoardSessionTest, ServesTheBoardOnTheSettingsPortWithoutMovingTheProcessFolder) {
  const auto before = std::filesystem::current_path();
  Start(board.slavePath());
  ASSERT_FALSE(session->Flags.ComNotAvailable);
  EXPECT_EQ(std::filesystem::current_path(), before);
  EXPECT_EQ(session->Board().FileService().Drives().WorkingFolder(), (folder / "work").string());

  session->Board().SetConsoleTap(&view);
  board.write(std::string("HELLO\x10\x11\x19" "AGAIN"));
  EXPECT_TRUE(queue->PumpUntil([&] { return view.console.size() >= 10; }, 3000ms));
  EXPECT_EQ(view.console, "HELLOAGAIN") << "the frame between the texts never reaches the console";
  EXPECT_EQ(board.read(1, 5000ms).size(), 1u) << "the frame is answered";
  EXPECT_NE(ConsoleText(session->Screen()).find("HELLOAGAIN"), std::string::npos);

  session->SendToPort("dir\r");
  EXPECT_EQ(board.read(4, 5000ms), (std::vector<std::uint8_t>{'d', 'i', 'r', '\r'}));
}

// The log is the board's listener, yet its file is written by the session's tick only:
// the board is answered before a byte of the log is written.
TEST_F(BoardSessionTest, TheConsoleLogIsWrittenAtTheTickNeverBeforeTheBoardsAnswer) {
  Start(board.slavePath());
  ASSERT_TRUE(session->StartConsoleLog((folder / "board.log").string()));
  board.write(std::string("A>DIR\r\n\x10\x11\x19"));
  std::vector<std::uint8_t> reply;
  EXPECT_TRUE(queue->PumpUntil([&] { return !(reply = board.read(1, 5ms)).empty(); }, 3000ms))
      << "the frame is answered";
  EXPECT_TRUE(folder.read("board.log").empty());
  session->WatchLine();
  const auto text = folder.read("board.log");
  EXPECT_EQ(std::string(text.begin(), text.end()), "A>DIR\n");
  session->Terminate();
  EXPECT_FALSE(session->ConsoleLog.IsOpen());
}

TEST_F(BoardSessionTest, APortThatDoesNotOpenSaysWhyAndTakesNoKeys) {
  Start(folder / "ttyGONE");
  EXPECT_TRUE(session->Flags.ComNotAvailable);
  EXPECT_EQ(session->PortFault.Fault, TPortFault::Missing);
  EXPECT_EQ(session->PortFault.ComNumber, 49);
  session->SendToPort("lost keys");
  session->Terminate();
  session->Terminate();
}

TEST_F(BoardSessionTest, ABoardUnpluggedIsAbandonedMidFrameAndTheFrontEndIsTold) {
  Start(board.slavePath());
  board.write(std::string("\x10\x11\x0F"));
  queue->PumpFor(100ms);
  board.closeMaster();
  EXPECT_TRUE(queue->PumpUntil([&] { return view.lost > 0; }, 3000ms));
  EXPECT_TRUE(session->PortLost());
  EXPECT_TRUE(session->Flags.ComNotAvailable);
  EXPECT_EQ(session->Board().GetState(), TBoardService::Console);
  EXPECT_FALSE(session->RetryPort()) << "the device is not back";
}

// A pty counts no line errors and has no latency timer: this adapter's facts are set by hand.
struct AdapterByHand : ILineFacts {
  TLineErrorCounts counts;
  bool holdsBytes = false;
  TLineErrorCounts LineErrorCounts() override { return counts; }
  bool AdapterHoldsBytesBack() override { return holdsBytes; }
};

TEST_F(BoardSessionTest, BytesLostOnTheLineAreToldOnceEachTimeTheirCountGrows) {
  AdapterByHand adapter;
  lineFacts = &adapter;
  view.language = 2;
  Start(board.slavePath());
  ASSERT_FALSE(session->Flags.ComNotAvailable);
  EXPECT_TRUE(session->AdapterNotice().empty());
  session->WatchLine();
  EXPECT_TRUE(view.notices.empty()) << "nothing lost, nothing said";

  adapter.counts.Overrun = 10;
  adapter.counts.Framing = 2;
  session->WatchLine();
  session->WatchLine();
  ASSERT_EQ(view.notices, std::vector<std::string>{" COM49: 12 bytes lost by the adapter"});
  EXPECT_EQ(view.statusText, " COM49: 12 bytes lost by the adapter");

  adapter.counts.Break = 1;
  session->WatchLine();
  EXPECT_EQ(view.notices.back(), " COM49: 13 bytes lost by the adapter");
  EXPECT_EQ(view.notices.size(), 2u);
}

TEST_F(BoardSessionTest, AnAdapterHoldingBytesBackIsToldOnceWithItsUdevRule) {
  AdapterByHand adapter;
  adapter.holdsBytes = true;
  lineFacts = &adapter;
  view.language = 2;
  Start(board.slavePath());
  ASSERT_EQ(view.notices.size(), 1u);
  EXPECT_NE(view.notices[0].find("ATTR{latency_timer}=\"1\""), std::string::npos);
  EXPECT_EQ(session->AdapterNotice(), view.notices[0]) << "the information window shows it whole";
  EXPECT_EQ(view.statusText, "COM49: the adapter holds received bytes back for up to 16 ms. A udev rule stops that:")
      << "the status bar gets its first line only";
}

TEST_F(BoardSessionTest, AFrameTheBoardStopsSendingEndsAfterASecondWithoutAnotherByte) {
  Start(board.slavePath());
  view.language = 2;
  board.write(std::string("\x10\x11\x0F"));
  ASSERT_TRUE(queue->PumpUntil([&] { return session->Board().GetState() != TBoardService::Console; }, 3000ms));
  queue->PumpFor(50ms);
  const auto now = std::chrono::steady_clock::now();

  session->WatchLine(now);
  EXPECT_NE(session->Board().GetState(), TBoardService::Console) << "a pause short of a second is no silence";
  session->WatchLine(now + 1500ms);
  EXPECT_EQ(session->Board().GetState(), TBoardService::Console);
  EXPECT_EQ(view.statusText, " Command dropped: the board stopped sending");

  // What the board sends next is console text, not the rest of a frame, and the status
  // bar keeps its word.
  session->Board().SetConsoleTap(&view);
  board.write(std::string("OK"));
  EXPECT_TRUE(queue->PumpUntil([&] { return view.console == "OK"; }, 3000ms));
  session->WatchLine(now + 3000ms);
  EXPECT_EQ(view.statusText, " Command dropped: the board stopped sending");
  EXPECT_TRUE(board.read(1, 100ms).empty()) << "an abandoned frame is never answered";
}

// Frames over a modelled line at 115200 8N2: the session's replies keep their number and
// their place among the console text, whatever lumps the adapter makes of the bytes.
class BoardSessionOnALineTest : public BoardSessionTest, public ::testing::WithParamInterface<int> {};

TEST_P(BoardSessionOnALineTest, RepliesComeBackWholeAndInOrderBehindAnAdapter) {
  testing::LineModelShape shape;
  shape.LatencyTimer = std::chrono::milliseconds(GetParam());
  testing::LineModel line(shape);
  Start(line.ProgramPath());
  ASSERT_FALSE(session->Flags.ComNotAvailable);
  session->Board().SetConsoleTap(&view);
  std::string sent, expected;
  for (int i = 0; i < 20; ++i) {
    sent += "T" + std::to_string(i) + "\x10\x11\x19";
    expected += "T" + std::to_string(i);
  }
  line.BoardWrite(sent);
  EXPECT_TRUE(queue->PumpUntil([&] { return view.console.size() >= expected.size(); }, 5000ms));
  // The last frame follows the last text, so its reply may still be on its way.
  std::string replies = Reply(line, 20, 5000ms);
  queue->PumpFor(50ms);
  EXPECT_EQ(view.console, expected);
  replies += Reply(line, 1, 50ms);
  ASSERT_EQ(replies.size(), 20u) << "one reply byte for every frame";
  EXPECT_EQ(std::count(replies.begin(), replies.end(), replies.front()), 20) << "the same drive each time";
}

INSTANTIATE_TEST_SUITE_P(LatencyTimers, BoardSessionOnALineTest, ::testing::Values(16, 1));

TEST_F(BoardSessionTest, AByteLostMidFrameAbandonsTheFrameAndWritesNothing) {
  // The fifth byte of the make frame (a letter of its name) never arrives.
  testing::LineModel line({.DropBoardByte = 5});
  Start(line.ProgramPath());
  view.language = 2;
  line.BoardWrite(std::string("\x10\x11\x16") + std::string("\x00LOSTBYTETXT", 12));
  ASSERT_TRUE(queue->PumpUntil([&] { return session->Board().GetState() != TBoardService::Console; }, 3000ms));
  queue->PumpFor(100ms);
  session->WatchLine(std::chrono::steady_clock::now() + 1500ms);
  EXPECT_EQ(session->Board().GetState(), TBoardService::Console);
  EXPECT_EQ(view.statusText, " Command dropped: the board stopped sending");

  // The next frame starts afresh rather than end the lost one.
  line.BoardWrite(std::string("\x10\x11\x19"));
  EXPECT_EQ(Reply(line, 1, 5000ms).size(), 1u) << "the new frame is answered";
  EXPECT_TRUE(Reply(line, 1, 100ms).empty()) << "and only the new frame";
  EXPECT_TRUE(std::filesystem::is_empty(folder / "work"));
}

// The board's side of a line with faults: frames as a board sends them, and its replies
// taken as they come while the session is served.
class BoardSessionOnAFaultyLineTest : public BoardSessionTest {
protected:
  static std::string NameBlock(const std::string& name, const std::string& ext) {
    std::string block(12, ' ');
    block[0] = '\0';
    block.replace(1, name.size(), name);
    block.replace(9, ext.size(), ext);
    return block;
  }
  static std::string Frame(char type, const std::string& params) { return std::string("\x10\x11") + type + params; }

  // The reply to the frame just sent, however long a loaded machine takes over it; or
  // nothing, soon after the line has lost a byte since `droppedBefore`: a frame short of
  // a byte is never answered.
  std::string ReplyUnlessLost(testing::LineModel& line, std::size_t droppedBefore) {
    const auto limit = std::chrono::steady_clock::now() + 5s;
    std::string got;
    while (got.empty() && std::chrono::steady_clock::now() < limit) {
      got = Reply(line, 1, 20ms);
      if (got.empty() && line.Dropped() > droppedBefore) return Reply(line, 1, 300ms);
    }
    return got;
  }
  // The board waits a second for a reply that never comes, as a board does: the session
  // drops the frame it was left with, taking the clock's word that the second has passed.
  void GiveUpWaiting() { session->WatchLine(std::chrono::steady_clock::now() + 1500ms); }

  std::vector<std::string> Entries(const std::filesystem::path& where) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(where))
      names.push_back(entry.path().lexically_relative(folder.path()).string());
    std::sort(names.begin(), names.end());
    return names;
  }
};

TEST_F(BoardSessionOnAFaultyLineTest, BytesLostAtRandomNeverTurnIntoAWrongRecordOrAnotherFile) {
  // About one byte in 400 lost: a few of the frames below lose one, wherever it falls.
  testing::LineModelShape shape;
  shape.DropRate = 0.0025;
  shape.Seed = 29;
  testing::LineModel line(shape);
  Start(line.ProgramPath());
  ASSERT_FALSE(session->Flags.ComNotAvailable);
  const std::string name = NameBlock("RECORDS", "DAT");
  for (int attempt = 0; attempt < 5; ++attempt) {
    const std::size_t dropped = line.Dropped();
    line.BoardWrite(Frame(22, name));
    if (ReplyUnlessLost(line, dropped) == std::string(1, '\0')) break;
    GiveUpWaiting();
  }
  ASSERT_TRUE(std::filesystem::exists(folder / "work" / "RECORDS.DAT"));

  constexpr int kRecords = 24;
  for (int r = 0; r < kRecords; ++r) {
    const std::string number{static_cast<char>(r), '\0'};
    const std::size_t dropped = line.Dropped();
    line.BoardWrite(Frame(34, name + number + std::string(128, static_cast<char>('a' + r))));
    if (ReplyUnlessLost(line, dropped).empty()) GiveUpWaiting();
  }
  ASSERT_GE(line.Dropped(), 3u) << "the seed must lose bytes inside the writes";

  std::ifstream file(folder / "work" / "RECORDS.DAT", std::ios::binary);
  const std::string written((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  ASSERT_EQ(written.size() % 128, 0u);
  int whole = 0;
  for (std::size_t r = 0; r * 128 < written.size(); ++r) {
    const std::string record = written.substr(r * 128, 128);
    // A record a write never reached is a hole; one it reached holds that write alone.
    if (record == std::string(128, '\0')) continue;
    EXPECT_EQ(record, std::string(128, static_cast<char>('a' + r))) << "record " << r;
    ++whole;
  }
  EXPECT_GE(whole, kRecords - static_cast<int>(line.Dropped()));
  EXPECT_EQ(Entries(folder / "work"), std::vector<std::string>{"work/RECORDS.DAT"});
}

TEST_F(BoardSessionOnAFaultyLineTest, CorruptedFramesStayInsideTheDrivesAndTheSessionServesOn) {
  // Two bytes in a hundred spoiled, over a fast line, so a few hundred frames take little time.
  testing::LineModelShape shape;
  shape.Baud = 2'000'000;
  shape.CorruptRate = 0.02;
  shape.Seed = 7;
  testing::LineModel line(shape);
  std::filesystem::create_directories(folder / "outside");
  Start(line.ProgramPath());
  ASSERT_FALSE(session->Flags.ComNotAvailable);
  const auto around = Entries(folder.path());

  const std::string names[] = {NameBlock("FUZZ", "TXT"), NameBlock("../OUT", "X"), NameBlock("A", "")};
  const std::string record(128, 'z');
  std::string stream;
  for (int i = 0; i < 60; ++i) {
    const std::string& name = names[i % 3];
    stream += Frame(22, name) + Frame(21, name + record) + Frame(34, name + std::string("\x05\x00", 2) + record) +
              Frame(23, name + NameBlock("MOVED", "TXT").substr(1)) + Frame(15, name) + Frame(19, name) +
              Frame(17, NameBlock("????????", "???")) + Frame(16, name);
  }
  line.BoardWrite(stream);
  line.BoardReadUntilQuiet(300ms);
  queue->PumpFor(200ms);
  EXPECT_GT(line.Corrupted(), 100u);

  // A slow build may still be taking the stream's last bytes: each pass lets the line go
  // quiet, then gives up on a frame left open.
  for (int pass = 0; pass < 25 && session->Board().GetState() != TBoardService::Console; ++pass) {
    queue->PumpFor(200ms);
    GiveUpWaiting();
  }
  EXPECT_EQ(session->Board().GetState(), TBoardService::Console);
  bool answered = false;
  // Even a frame may be spoiled on the way: one of a few clean ones is enough.
  for (int i = 0; i < 5 && !answered; ++i) {
    line.BoardWrite(Frame(25, ""));
    answered = Reply(line, 1, 300ms).size() == 1;
    GiveUpWaiting();
  }
  EXPECT_TRUE(answered) << "the session still answers";

  std::vector<std::string> outsideWork;
  for (const auto& entry : Entries(folder.path()))
    if (!entry.starts_with("work")) outsideWork.push_back(entry);
  std::vector<std::string> before;
  for (const auto& entry : around)
    if (!entry.starts_with("work")) before.push_back(entry);
  EXPECT_EQ(outsideWork, before) << "nothing written beside the drives' folder";
}

}  // namespace
}  // namespace mirte
