#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "common/msg_table.h"
#include "support/board_frames.h"
#include "support/board_service_rig.h"
#include "support/screen_rows.h"

namespace mirte {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;
using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;

using testing::Frame;
using testing::NameBlock;
using testing::ScriptedPort;

class CommandFramesTest : public ::testing::Test, protected testing::BoardServiceRig {
protected:
  // The bytes arrive one per burst.
  void Trickle(std::string_view bytes) {
    for (char byte : bytes) Receive(std::string(1, byte));
  }
  Bytes TakeWritten() {
    Bytes out;
    out.swap(port.written);
    port.blocks.clear();
    return out;
  }
  std::string Row(int row) const { return testing::RowText(buffer, row); }
};

TEST_F(CommandFramesTest, EveryServedTypeAnswersWithItsLayoutWholeOrByteByByte) {
  temp.write("work/SIZE.DAT", std::string(300, 's'));
  struct Case {
    const char* what;
    std::string frame;
    Bytes reply;
  } cases[] = {
      {"drive vector", Frame(24), {0x04, 0x00}},
      {"current drive", Frame(25), {2}},
      {"read-only drives", Frame(29), {0, 0}},
      {"user number", Frame(32), {0}},
      {"reset drives", Frame(37, "\xff\xff"), {0}},
      {"zero-fill write", Frame(40, NameBlock("SIZE    DAT")), {0}},
      {"nothing", Frame(13), {}},
      {"select drive", Frame(14, "\x02"), {}},
      {"open a missing file", Frame(15, NameBlock("NONE    TXT")), {255}},
      {"close an unopened file", Frame(16, NameBlock("SIZE    DAT")), {255}},
      {"search without match", Frame(17, NameBlock("Q???????TXT")),
       {255, 0, 'Q', '?', '?', '?', '?', '?', '?', '?', 'T', 'X', 'T'}},
      {"search first", Frame(17, NameBlock("S???????D??")),
       {0, 0, 'S', 'I', 'Z', 'E', ' ', ' ', ' ', ' ', 'D', 'A', 'T'}},
      {"file size", Frame(35, NameBlock("SIZE    DAT")), {3, 0, 0}},
      {"current record of an unopened file", Frame(36, NameBlock("SIZE    DAT")), {0, 0, 0}},
      {"rename a missing file", Frame(23, NameBlock("NONE    TXT") + "NEW     TXT"), {255}},
  };
  for (bool oneByteAtATime : {false, true}) {
    for (const auto& c : cases) {
      service.ResetConsole();
      TakeWritten();
      if (oneByteAtATime)
        Trickle(c.frame + "ok");
      else
        Receive(c.frame + "ok");
      EXPECT_EQ(TakeWritten(), c.reply) << c.what << (oneByteAtATime ? " (byte by byte)" : "");
      EXPECT_EQ(service.GetState(), TBoardService::Console) << c.what;
      EXPECT_EQ(Row(1), "ok") << c.what << ": the bytes after the frame are console output";
    }
  }
}

TEST_F(CommandFramesTest, UnsupportedTypesEndTheFrameAtOnce) {
  for (std::uint8_t type : {0, 4, 7, 12, 26, 27, 28, 31, 38, 39, 41, 128, 255}) {
    service.ResetConsole();
    Receive(Frame(type) + "AB");
    EXPECT_TRUE(port.written.empty()) << int(type);
    EXPECT_EQ(Row(1), "AB") << int(type);
  }
}

TEST_F(CommandFramesTest, RecordsTravelBothWays) {
  std::string record(128, '\0');
  for (int i = 0; i < 128; ++i) record[static_cast<std::size_t>(i)] = static_cast<char>(i * 3);
  std::string name = NameBlock("REC     DAT");
  // A failed read still hands the board a record after its result.
  Receive(Frame(20, name));
  EXPECT_EQ(TakeWritten().size(), 129u);
  Trickle(Frame(22, name));
  Receive(Frame(21, name) + record);
  Receive(Frame(21, name) + record);
  Receive(Frame(16, name));
  EXPECT_EQ(TakeWritten(), (Bytes{0, 0, 0, 0}));
  EXPECT_EQ(temp.read("work/REC.DAT").size(), 256u);

  Receive(Frame(15, name) + Frame(20, name));
  Bytes expected = {0, 0};
  expected.insert(expected.end(), record.begin(), record.end());
  EXPECT_EQ(TakeWritten(), expected);
  EXPECT_EQ(port.blocks.size(), 0u);
  // The random read of record 1 leaves the next sequential read at record 2: end of file.
  Receive(Frame(33, name + "\x01\x00"s) + Frame(20, name));
  Bytes reply = TakeWritten();
  ASSERT_EQ(reply.size(), 1u + 128u + 1u + 128u);
  EXPECT_EQ(reply[0], 0);
  EXPECT_EQ(reply[129], 1);
}

TEST_F(CommandFramesTest, AFileServiceStartedAgainRepliesNothingOfTheBoardServedBefore) {
  temp.write("work/REC.DAT", std::string(128, 'r'));
  const std::string name = NameBlock("REC     DAT");
  Receive(Frame(15, name) + Frame(20, name));
  Bytes read = TakeWritten();
  ASSERT_EQ(read.size(), 2u + 128u);
  ASSERT_EQ(read.back(), 'r');
  service.ResetConsole();
  service.InitFileService();
  // The file is no longer open, so the read fails and hands over the record as it stands.
  Receive(Frame(20, name));
  read = TakeWritten();
  ASSERT_EQ(read.size(), 1u + 128u);
  EXPECT_NE(read[0], 0);
  EXPECT_EQ(Bytes(read.begin() + 1, read.end()), Bytes(128, 0));
}

TEST_F(CommandFramesTest, TheStatusPanelShowsWaitDuringDataAndItsOwnTextAfter) {
  window.language = kLanguageEnglish;
  window.SetStatusText(MsgTable(kLanguageEnglish, 32));
  std::string name = NameBlock("W       DAT");
  Receive(Frame(22, name));
  Receive(Frame(21, name));
  EXPECT_EQ(window.StatusText(), "WAIT !");
  // The user switches language while the data bytes arrive.
  window.language = kLanguageItalian;
  window.SetStatusText(MsgTable(kLanguageItalian, 22));
  Receive(std::string(128, 'd'));
  EXPECT_EQ(window.StatusText(), MsgTable(kLanguageItalian, 32));

  window.SetStatusText("not a message");
  Receive(Frame(24));
  EXPECT_EQ(window.StatusText(), "");
}

TEST_F(CommandFramesTest, TheReceiveLoopFlipsDtrForEveryByteAndReportsTheBurst) {
  std::string bytes = "text" + Frame(7) + Frame(24) + "\x10x";
  Receive(bytes);
  EXPECT_EQ(port.dtrChanges, static_cast<int>(bytes.size()));
  EXPECT_TRUE(window.flags.DataSeen);
  EXPECT_EQ(window.deSelectRestarts, 1);
  EXPECT_TRUE(port.input.empty());
}

TEST_F(CommandFramesTest, RecordRepliesWaitForTheOutputToLeaveWhilePumpingEvents) {
  temp.write("work/R.DAT", std::string(128, 'r'));
  std::string name = NameBlock("R       DAT");
  Receive(Frame(15, name));
  port.drainPerService = 32;
  std::vector<bool> busyWhilePumping;
  window.onPump = [&] { busyWhilePumping.push_back(window.flags.TxBusy); };
  Receive(Frame(20, name));
  EXPECT_EQ(port.pending, 0u);
  EXPECT_EQ(port.serviceCalls, 5);  // 130 bytes queued, 32 leave per step
  EXPECT_EQ(window.waitCount, 5);    // each step waits for news from the port
  // Events are handled only while bytes are still on their way: not after the last step.
  EXPECT_EQ(busyWhilePumping, std::vector<bool>(4, true));
  EXPECT_FALSE(window.flags.TxBusy);

  // A close of the window ends the wait at once, with the output still pending.
  port.drainPerService = 0;
  window.onPump = [&] { window.flags.CloseRequested = true; };
  Receive(Frame(20, name));
  EXPECT_EQ(window.pumpCount, 5);
  EXPECT_EQ(service.GetState(), TBoardService::Console);
}

TEST_F(CommandFramesTest, ADeliveryDuringARecordReplyLeavesTheBytesAfterTheFrameToTheLoop) {
  temp.write("work/R.DAT", std::string(128, 'r'));
  std::string name = NameBlock("R       DAT");
  Receive(Frame(15, name));
  TakeWritten();
  port.drainPerService = 32;
  int nested = 0;
  window.onPump = [&] {
    // The port announces the rest of the burst again while the record is still leaving.
    ++nested;
    service.ComPortTriggerAvail();
  };
  std::string burst = Frame(20, name) + "AB" + Frame(25);
  port.dtrChanges = 0;
  Receive(burst);
  EXPECT_GT(nested, 0);
  EXPECT_EQ(Row(1), "AB") << "displayed, not dropped into the frame being answered";
  EXPECT_EQ(port.dtrChanges, static_cast<int>(burst.size())) << "each byte taken once";
  Bytes reply = TakeWritten();
  ASSERT_EQ(reply.size(), 1u + 128u + 1u);
  EXPECT_EQ(reply.back(), 2) << "the frame after the text is answered too";
}

TEST_F(CommandFramesTest, AResetWhileAReplyWaitsLeavesTheNewConsoleStateAlone) {
  temp.write("work/R.DAT", std::string(128, 'r'));
  std::string name = NameBlock("R       DAT");
  Receive(Frame(15, name));
  port.drainPerService = 64;
  bool reset = false;
  window.onPump = [&] {
    if (reset) return;
    reset = true;
    service.ResetConsole();
    // The board starts another frame while the first reply is still leaving.
    service.ProcessBoardByte(0x10);
    service.ProcessBoardByte(0x11);
  };
  Receive(Frame(20, name));
  EXPECT_EQ(service.GetState(), TBoardService::CommandType);
  Receive("\x19");  // 25: current drive
  EXPECT_EQ(TakeWritten().back(), 2);
}

TEST_F(CommandFramesTest, APortThatFailsDuringAReplyReturnsToConsoleMode) {
  port.refuseWrites = true;
  Receive(Frame(24) + "a");
  Receive(Frame(17, NameBlock("???????????")) + "b");
  temp.write("work/R.DAT", std::string(10, 'r'));
  Receive(Frame(15, NameBlock("R       DAT")) + Frame(20, NameBlock("R       DAT")) + "c");
  EXPECT_EQ(service.GetState(), TBoardService::Console);
  EXPECT_EQ(Row(1), "abc");
  EXPECT_FALSE(window.flags.TxBusy);
}

TEST_F(CommandFramesTest, GarbageWithoutALeadInNeverGetsAReply) {
  std::string garbage;
  unsigned seed = 12345;
  while (garbage.size() < 20000) {
    seed = seed * 1103515245 + 12345;
    auto byte = static_cast<char>(seed >> 16);
    if (byte != 0x10) garbage += byte;
  }
  Receive(garbage);
  EXPECT_TRUE(port.written.empty());
  EXPECT_TRUE(fs::is_empty(work));
  EXPECT_EQ(port.dtrChanges, 20000);
}

TEST_F(CommandFramesTest, TruncatedFramesAreAbandonedByAReset) {
  for (std::string partial : {Frame(15, "\0NAM"s), Frame(21, NameBlock("X       DAT") + "abc"), Frame(33)}) {
    Receive(partial);
    EXPECT_NE(service.GetState(), TBoardService::Console);
    service.ResetConsole();
    Receive("ok");
    EXPECT_EQ(Row(1), "ok");
    EXPECT_TRUE(port.written.empty());
  }
  EXPECT_FALSE(fs::exists(temp / "work/X.DAT"));
}

// The command may be carried out during the wait, but no reply byte leaves before it ends.
TEST_F(CommandFramesTest, TheReplyNeverLeavesSoonerThanFiveMilliseconds) {
  temp.write("work/R.DAT", std::string(128, 'r'));
  const std::string name = NameBlock("R       DAT");
  Receive(Frame(15, name));
  service.SetReplyDelay(std::chrono::microseconds(5000));
  const struct {
    std::string frame;
    std::size_t replyLength;
  } cases[] = {
      {Frame(24), 2},
      {Frame(33, name + "\0\0"s), 129},
      {Frame(21, name) + std::string(128, 'w'), 1},
      {Frame(17, NameBlock("???????????")), 13},
  };
  for (const auto& c : cases) {
    for (int i = 0; i < 5; ++i) {
      TakeWritten();
      port.Receive(c.frame);
      auto lastByte = Clock::now();
      service.ComPortTriggerAvail();
      ASSERT_EQ(port.written.size(), c.replyLength) << int(c.frame[2]);
      EXPECT_GE(port.firstWrite - lastByte, std::chrono::milliseconds(5)) << int(c.frame[2]);
      // One block, so that no part of a reply straggles behind the rest on the line.
      EXPECT_EQ(port.blocks, std::vector<std::size_t>{c.replyLength}) << int(c.frame[2]);
    }
  }
}

// Delivery to the service takes time of its own; the turn-around wait counts from when the
// port took the frame's last byte, and a stamp the clock cannot have made is not trusted.
TEST_F(CommandFramesTest, TheReplyWaitCountsFromWhenThePortTookTheLastByte) {
  // A wait far longer than the board's, so that a reply owed at once stays well below it
  // even when a loaded machine holds up the service for tens of milliseconds.
  const auto wait = std::chrono::milliseconds(250);
  service.SetReplyDelay(wait);
  const struct {
    Clock::duration receivedBefore;  // how long before the service sees the frame
    Clock::duration atLeast, below;  // from the service seeing it to the reply
  } cases[] = {
      {std::chrono::seconds(1), Clock::duration::zero(), wait},
      {-std::chrono::seconds(1), wait, std::chrono::seconds(5)},
  };
  for (const auto& c : cases) {
    TakeWritten();
    port.Receive(Frame(25));
    const auto seen = Clock::now();
    port.receivedAt = seen - c.receivedBefore;
    service.ComPortTriggerAvail();
    ASSERT_EQ(TakeWritten(), Bytes{2});
    EXPECT_GE(port.firstWrite - seen, c.atLeast);
    EXPECT_LT(port.firstWrite - seen, c.below);
  }
}

// List output above all: a listing at line rate must not pay the reply's wait per character.
TEST_F(CommandFramesTest, FramesWithoutAReplyAreCarriedOutWithoutTheWait) {
  // A wait as long as all the frames together take on a loaded machine many times over:
  // a single frame that paid it would show.
  const auto wait = std::chrono::seconds(1);
  service.SetReplyDelay(wait);
  std::string frames;
  for (int i = 0; i < 30; ++i) frames += Frame(5, "x") + Frame(13) + Frame(14, "\2");
  auto start = Clock::now();
  Receive(frames);
  EXPECT_LT(Clock::now() - start, wait);
  EXPECT_TRUE(port.written.empty());
  EXPECT_TRUE(service.PrintJobOpen());
  service.SetReplyDelay(std::chrono::microseconds(0));
  Receive(Frame(25));
  EXPECT_EQ(TakeWritten(), Bytes{2}) << "drive C, the working folder, stays selected";
}

TEST_F(CommandFramesTest, ListOutputFramesReachTheListDevice) {
  Receive(Frame(5, "A") + Frame(5, "\x1a"));
  EXPECT_TRUE(port.written.empty());
  EXPECT_FALSE(service.PrintJobOpen());
  EXPECT_EQ(window.calls, (std::vector<std::string>{
                              "status ", "status Document waits for printing", "print job open",
                              "status Document waits for printing", "status ", "print job closed",
                              "restart de-select timer"}));
  Receive(Frame(5, "B"));
  EXPECT_TRUE(service.PrintJobOpen());
  service.EndPrintJob(true);
  EXPECT_FALSE(service.PrintJobOpen());
}

}  // namespace
}  // namespace mirte

namespace mirte {
namespace {

class FrameSilenceTest : public CommandFramesTest {
protected:
  // The write frame of a record with its last byte lost on the line, then `gap` of silence
  // from the board, then the frame that closes the file: its first byte alone, then the
  // rest, or all of it at once.
  void LoseTheLastRecordByteThenWait(Clock::duration gap, bool closeAtOnce = false) {
    Receive(Frame(22, NameBlock("LOST    DAT")));
    TakeWritten();
    const auto start = Clock::now() - gap;
    port.receivedAt = start;
    Receive(Frame(21, NameBlock("LOST    DAT")) + std::string(127, 'x'));
    port.receivedAt = Clock::now();
    const std::string close = Frame(16, NameBlock("LOST    DAT"));
    if (closeAtOnce) {
      Receive(close);
      return;
    }
    Receive(close.substr(0, 1));
    statusAfterFirstByte = window.StatusText();
    Receive(close.substr(1));
  }
  std::string statusAfterFirstByte;
};

TEST_F(FrameSilenceTest, AFrameCutOffForASecondIsDroppedAndTheNextFrameIsServed) {
  LoseTheLastRecordByteThenWait(std::chrono::milliseconds(1500));
  EXPECT_EQ(TakeWritten(), (Bytes{0})) << "only the close frame is answered";
  EXPECT_EQ(temp.read("work/LOST.DAT").size(), 0u) << "no record made of the next frame's bytes";
  EXPECT_EQ(service.GetState(), TBoardService::Console);
  EXPECT_NE(statusAfterFirstByte.find("stopped sending"), std::string::npos);
}

// The byte after the silence is the one that tells, even with more bytes behind it.
TEST_F(FrameSilenceTest, AFrameCutOffForASecondIsDroppedWhenTheNextFrameComesAllAtOnce) {
  LoseTheLastRecordByteThenWait(std::chrono::milliseconds(1500), true);
  EXPECT_EQ(TakeWritten(), (Bytes{0})) << "only the close frame is answered";
  EXPECT_EQ(temp.read("work/LOST.DAT").size(), 0u);
}

// A port held up by a loaded machine takes a frame's last bytes late, though the board sent
// them at once: neither the late byte nor the tick meanwhile may take that for silence.
TEST_F(FrameSilenceTest, BytesStillInTheDeviceAreNoSilenceHoweverLateThePortTakesThem) {
  Receive(Frame(22, NameBlock("HELD    DAT")));
  TakeWritten();
  port.onTheWay = true;
  port.receivedAt = Clock::now() - std::chrono::milliseconds(1500);
  Receive(Frame(21, NameBlock("HELD    DAT")) + std::string(127, 'x'));
  EXPECT_FALSE(service.AbandonFrameIfSilent(Clock::now()));
  port.onTheWay = false;
  port.receivedAt = Clock::now();
  Receive("x");
  EXPECT_EQ(TakeWritten(), (Bytes{0}));
  EXPECT_EQ(temp.read("work/HELD.DAT"), Bytes(128, 'x'));
  EXPECT_EQ(service.GetState(), TBoardService::Console);
}

TEST_F(FrameSilenceTest, AShortPauseInsideAFrameIsNoSilence) {
  LoseTheLastRecordByteThenWait(std::chrono::milliseconds(500));
  // The first byte of the close frame completes the record; the rest is console text.
  Bytes reply = TakeWritten();
  ASSERT_FALSE(reply.empty());
  EXPECT_EQ(reply[0], 0);
  EXPECT_EQ(temp.read("work/LOST.DAT").size(), 128u);
}

}  // namespace
}  // namespace mirte
