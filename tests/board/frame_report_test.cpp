#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "board/frame_observer.h"
#include "board/frame_types.h"
#include "support/board_frames.h"
#include "support/board_service_rig.h"

namespace mirte {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;
using testing::Frame;

class RecordingObserver : public IFrameObserver {
public:
  void FrameDone(const TFrameFacts& facts) override { frames.push_back(facts); }
  std::vector<TFrameFacts> frames;
};

class FrameReportTest : public ::testing::Test, protected testing::BoardServiceRig {
protected:
  FrameReportTest() { service.SetFrameObserver(&observer); }
  ~FrameReportTest() override { service.SetFrameObserver(nullptr); }

  RecordingObserver observer;
};

TEST_F(FrameReportTest, FactsKeepTheNameAsSentThePathServedAndTheReplysHead) {
  temp.write("work/LONGFILENAME.TXT", "x");
  Receive(Frame(17, "\0????????TXT"s) + Frame(35, "\0LONGFI~1TXT"s) + Frame(7) + "Z");
  ASSERT_EQ(observer.frames.size(), 3u);

  const TFrameFacts& search = observer.frames[0];
  EXPECT_TRUE(search.Served);
  EXPECT_EQ(std::string(search.Params.begin() + 1, search.Params.begin() + 12), "????????TXT")
      << "the search's answer overwrote the buffer, not the facts";
  EXPECT_EQ(search.Path, work + "/LONGFILENAME.TXT") << "the file found, under its real name";
  EXPECT_EQ(search.ReplyHead[0], 0);
  EXPECT_EQ(search.BytesOut, 13u);
  EXPECT_EQ(search.BytesIn, 15u);
  EXPECT_EQ(search.CurrentDrive, 'C');
  EXPECT_LE(search.LastByte, search.ReplyEnd);

  const TFrameFacts& size = observer.frames[1];
  EXPECT_EQ(size.Path, work + "/LONGFI~1.TXT") << "the path the name block stands for";
  EXPECT_EQ(size.ReplyHead, (std::array<std::uint8_t, 3>{1, 0, 0}));

  const TFrameFacts& unknown = observer.frames[2];
  EXPECT_FALSE(unknown.Served);
  EXPECT_EQ(unknown.Type, 7);
  EXPECT_EQ(unknown.BytesIn, 3u);
  EXPECT_EQ(unknown.BytesOut, 0u);
  auto top = buffer.GetCharRow(1);
  ASSERT_FALSE(top.empty());
  EXPECT_EQ(top[0], 'Z') << "what follows an unserved type is console output";
}

TEST_F(FrameReportTest, AWatcherThatGoesDuringARecordReplyHearsNothingOfThatFrame) {
  temp.write("work/A.TXT", std::string(128, 'a'));
  Receive(Frame(15, "\0A       TXT"s));
  port.drainPerService = 64;  // the record takes more than one step to leave
  window.onPump = [&] { service.SetFrameObserver(nullptr); };
  Receive(Frame(20, "\0A       TXT"s));
  EXPECT_GE(window.pumpCount, 1);
  ASSERT_EQ(observer.frames.size(), 1u) << "only the open";
  window.onPump = nullptr;

  // Attached in the middle of a frame: that frame is reported once it is done.
  const std::string close = Frame(16, "\0A       TXT"s);
  Receive(close.substr(0, 5));
  service.SetFrameObserver(&observer);
  Receive(close.substr(5));
  ASSERT_EQ(observer.frames.size(), 2u);
  EXPECT_EQ(observer.frames[1].Type, 16);
  EXPECT_EQ(observer.frames[1].ReplyHead[0], 0);
}

std::uint32_t ReplyBytes(TReplyShape shape) {
  switch (shape) {
    case TReplyShape::None: return 0;
    case TReplyShape::Result: return 1;
    case TReplyShape::ResultAndName: return 13;
    case TReplyShape::ResultAndRecord: return 1 + kRecordSize;
    case TReplyShape::DriveVector: return 2;
    case TReplyShape::DriveNumber: return 1;
    case TReplyShape::ThreeBytes: return 3;
  }
  return 0;
}

// The table is what the collector, the report and the monitor believe about a frame; the
// service must collect and answer each type just so, or the board and the PC fall out of
// step on the line.
TEST_F(FrameReportTest, EveryServedTypeIsCollectedAndAnsweredAsTheTableSays) {
  for (const TFrameKind& kind : kFrameKinds) {
    const auto type = static_cast<std::uint8_t>(kind.Type);
    SCOPED_TRACE("type " + std::to_string(type));
    temp.write("work/A.TXT", std::string(200, 'a'));
    Receive(Frame(15, "\3A       TXT"s));
    // Drive 3 (C) everywhere, so that a drive selection keeps the rest on the same folder.
    std::string params = kind.NamesFile ? "\3A       TXT"s : "\2"s;
    params.resize(kind.ParamBytes, '\0');
    if (kind.RecordIn) params += std::string(kRecordSize, 'w');
    const std::size_t before = port.written.size();
    const std::size_t reported = observer.frames.size();
    Receive(Frame(type, params));
    ASSERT_EQ(observer.frames.size(), reported + 1) << "the frame ended where the table says";
    const TFrameFacts& facts = observer.frames.back();
    EXPECT_TRUE(facts.Served);
    EXPECT_EQ(facts.Type, type);
    EXPECT_EQ(facts.BytesIn, FrameBytesIn(kind));
    EXPECT_EQ(facts.BytesOut, ReplyBytes(kind.Reply));
    EXPECT_EQ(port.written.size() - before, ReplyBytes(kind.Reply));
    EXPECT_EQ(service.GetState(), TBoardService::Console);
  }
}

TEST_F(FrameReportTest, SequentialTransfersReportTheRecordTheFileStoodAt) {
  temp.write("work/A.TXT", std::string(300, 'a'));
  const std::string name = "\0A       TXT"s;
  Receive(Frame(15, name) + Frame(20, name) + Frame(20, name) + Frame(20, name) + Frame(20, name));
  Receive(Frame(21, name + std::string(kRecordSize, 'w')));
  // A random read moves the position to the end of its record, sequential access goes on.
  Receive(Frame(33, name + "\1\0"s) + Frame(20, name));
  Receive(Frame(16, name) + Frame(20, name) + Frame(15, name + "\0\0"s));
  std::vector<std::int64_t> records;
  for (const auto& f : observer.frames) records.push_back(f.SequentialRecord);
  // open, three reads (the last one short), end of file, a write after the end, a random
  // read of record 1, the read after it, close, a read of a file not open, open
  EXPECT_EQ(records, (std::vector<std::int64_t>{-1, 0, 1, 2, 2, 2, -1, 2, -1, -1, -1}));
}

}  // namespace
}  // namespace mirte
