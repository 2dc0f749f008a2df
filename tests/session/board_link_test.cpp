// The board service on a real serial port: a test "board" writes to a pseudo-terminal, the
// real TComPort delivers the bytes through the plain main-thread queue, and the replies
// come back on the same line.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "support/board_frames.h"
#include "support/port_service_fixture.h"
#include "support/screen_rows.h"

namespace mirte {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using namespace std::string_literals;
using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;
using testing::Frame;
using testing::NameBlock;

class BoardLinkTest : public testing::PortServiceFixture {
protected:
  BoardLinkTest() {
    fs::create_directories(rig.folder / "work");
    work = fs::canonical(rig.folder / "work").string();
    Serve(work);
  }

  // Pumps until the board service has seen `bursts` more bursts of received bytes.
  void AwaitBursts(int bursts) {
    int target = window.deSelectRestarts + bursts;
    ASSERT_TRUE(rig.pumpUntil([&] { return window.deSelectRestarts >= target; }));
  }
  std::string Row(int row) const { return testing::RowText(buffer, row); }

  std::string work;
};

TEST_F(BoardLinkTest, ConsoleTextAndFramesShareTheLine) {
  Bytes reply = Exchange("hello" + Frame(24) + "world" + Frame(25) + "!", 3);
  EXPECT_EQ(reply, (Bytes{0x04, 0x00, 0x02}));
  rig.pumpUntil([&] { return Row(1) == "helloworld!"; }, 1000ms);
  EXPECT_EQ(Row(1), "helloworld!");
  EXPECT_TRUE(rig.board.readUntilQuiet(30ms).empty());
}

TEST_F(BoardLinkTest, AFrameSplitIntoSingleBytesGetsTheSameReply) {
  rig.folder.write("work/SPLIT.TXT", std::string(130, 'x'));
  std::string frame = Frame(35, NameBlock("SPLIT   TXT"));
  for (char byte : frame) {
    rig.board.write(std::string(1, byte));
    AwaitBursts(1);
  }
  EXPECT_EQ(rig.board.read(3, 2000ms), (Bytes{2, 0, 0}));
}

TEST_F(BoardLinkTest, AnUnsupportedTypeIsDroppedAndWhatFollowsIsShown) {
  rig.board.write(Frame(7) + "text");
  ASSERT_TRUE(rig.pumpUntil([&] { return Row(1) == "text"; }));
  EXPECT_TRUE(rig.board.readUntilQuiet(30ms).empty());
  EXPECT_EQ(service.GetState(), TBoardService::Console);
}

TEST_F(BoardLinkTest, RecordsAreWrittenAndReadBackThroughTheLine) {
  std::string record(128, '\0');
  for (int i = 0; i < 128; ++i) record[static_cast<std::size_t>(i)] = static_cast<char>(255 - i);
  std::string name = NameBlock("LINK    DAT");
  EXPECT_EQ(Exchange(Frame(22, name), 1), Bytes{0});
  EXPECT_EQ(Exchange(Frame(21, name) + record, 1), Bytes{0});
  EXPECT_EQ(Exchange(Frame(21, name) + record, 1), Bytes{0});
  EXPECT_EQ(Exchange(Frame(16, name), 1), Bytes{0});
  Bytes onDisk = rig.folder.read("work/LINK.DAT");
  ASSERT_EQ(onDisk.size(), 256u);
  EXPECT_TRUE(std::equal(record.begin(), record.end(), onDisk.begin(), [](char a, std::uint8_t b) {
    return static_cast<std::uint8_t>(a) == b;
  }));

  Bytes expected = {0, 0};
  expected.insert(expected.end(), record.begin(), record.end());
  EXPECT_EQ(Exchange(Frame(15, name) + Frame(20, name), 130), expected);
  EXPECT_FALSE(window.flags.TxBusy);
  EXPECT_EQ(Exchange(Frame(33, name + "\x05\x00"s), 129)[0], 1);
}

TEST_F(BoardLinkTest, AClosedPortIsNeitherReadNorReopened) {
  rig.port.SetAutoOpen(true);
  rig.port.SetOpen(false);
  ASSERT_TRUE(rig.pumpUntil([&] { return rig.port.PortState() == StateClosed; }));
  service.ComPortTriggerAvail();
  for (char byte : Frame(24)) service.ProcessBoardByte(static_cast<std::uint8_t>(byte));
  EXPECT_FALSE(rig.port.Open());
  EXPECT_EQ(service.GetState(), TBoardService::Console);
  EXPECT_EQ(Row(1), "");
}

TEST_F(BoardLinkTest, RepliesLeaveNoSoonerThanFiveMillisecondsAfterTheFrame) {
  for (int i = 0; i < 10; ++i) {
    // The clock is read before the last byte goes out: the port may take that byte before
    // this thread runs again, and the wait counts from when it did.
    const std::string frame = Frame(24);
    rig.board.write(frame.substr(0, frame.size() - 1));
    auto lastByte = Clock::now();
    rig.board.write(frame.substr(frame.size() - 1));
    Bytes reply;
    ASSERT_TRUE(rig.pumpUntil([&] {
      reply = rig.boardReceived(2);
      return !reply.empty();
    }));
    EXPECT_GE(Clock::now() - lastByte, 5ms);
    if (reply.size() < 2) rig.board.read(2 - reply.size(), 1000ms);
  }
}

}  // namespace
}  // namespace mirte
