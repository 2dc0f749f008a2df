// The console log fed by the board service: what the board displays, as UTF-8 lines in a
// real file, with command frames and control sequences left out.
#include "board/console_log.h"

#include <gtest/gtest.h>

#include <sys/mount.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <optional>

#include <string>

#include "board/board_service.h"
#include "common/msg_table.h"
#include "support/board_service_rig.h"
#include "support/file_size_limit.h"
#include "support/temp_folder.h"

namespace mirte {
namespace {

using namespace std::string_literals;

// A clock the test moves: each reading advances it by `step`, so a write can be made to
// look as slow as a stalled disk without waiting for one.
struct SteppingClock {
  std::chrono::steady_clock::time_point now{};
  std::chrono::milliseconds step{0};
  std::chrono::steady_clock::time_point Read() { return now += step; }
};

// The log as the session wires it: a listener of a real board service, which answers its
// frames on a scripted port.
class ConsoleLogTest : public ::testing::Test, protected testing::BoardServiceRig {
protected:
  ConsoleLogTest() {
    EXPECT_TRUE(log.Open((folder / "console.log").string()));
    service.SetConsoleEvents(&log);
  }

  void Feed(std::string_view bytes) {
    for (char byte : bytes) service.ProcessBoardByte(std::uint8_t(byte));
  }
  std::string InFile() {
    const auto bytes = folder.read("console.log");
    return std::string(bytes.begin(), bytes.end());
  }
  std::string Logged() {
    log.Flush();
    return InFile();
  }
  // The current-drive frame, answered with one byte; true when its answer left.
  bool FrameAnswered() {
    const std::size_t before = port.written.size();
    Receive("\x10\x11\x19");
    return port.written.size() == before + 1;
  }
  static std::string At(int row, int col) { return "\x1bY"s + char(row + 31) + char(col + 31); }

  testing::TempFolder folder;
  SteppingClock clock;
  TConsoleLog log{[this] { return clock.Read(); }};
};

TEST_F(ConsoleLogTest, WritesWhatTheBoardDisplaysAsUtf8Lines) {
  Feed("A>DIR\r\n"s
       // a command frame (select drive B) between two lines is never shown nor logged
       "\x10\x11\x0e\x01"s
       // attributes and cursor shapes change nothing in the text
       "\x1b" "0Q\x0eTITLE\x0f\x1bM\r\n"s
       // code page 437: a box corner, a line, an accented letter, a shaded block
       "\xc9\xcd\xbb caff\x82 \xb1\r\n"s
       // CR overwrites, BS steps back, ESC K cuts the rest of the line
       "12345\rab\x08X\x1bK\r\n"s
       // an empty line, then text that the board hides
       "\r\n" "\x1b" "0D\x0esecret\x0f" "ok\r\n"s);
  EXPECT_EQ(Logged(),
            "A>DIR\n"
            "TITLE\n"
            "\u2554\u2550\u2557 caff\u00e9 \u2592\n"
            "aX\n"
            "\n"
            "      ok\n");
}

TEST_F(ConsoleLogTest, LongLinesWrapAndMovesEndTheLineSoFar) {
  Feed(std::string(80, '=') + "next\r\n");
  // A cursor address, a clear and home each end a line that holds something.
  Feed("left" + At(5, 10) + "there" + "\x0c" + "cleared\x01" "home\r\n");
  // GS is CR LF in one; an unfinished line is written when the log closes.
  Feed("one\x1dtwo");
  log.Close();
  EXPECT_EQ(Logged(),
            std::string(80, '=') + "\n"
            "next\n"
            "left\n"
            "         there\n"
            "cleared\n"
            "home\n"
            "one\n"
            "two\n");
}

TEST_F(ConsoleLogTest, StopsWhenClosedAndAppendsWhenOpenedAgain) {
  Feed("first\r\n");
  log.Close();
  Feed("unseen\r\n");
  ASSERT_TRUE(log.Open((folder / "console.log").string()));
  Feed("second\r\n");
  EXPECT_EQ(Logged(), "first\nsecond\n");
  EXPECT_FALSE(log.Open((folder / "missing" / "x.log").string()));
  EXPECT_FALSE(log.IsOpen());
  Feed("nowhere\r\n");  // a closed log takes bytes without complaint
}

TEST(ConsoleLogRefusalTest, TakesOnlyRegularFilesAndNeverWaitsForAReader) {
  testing::TempFolder folder;
  const std::string fifo = (folder / "pipe").string();
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  // A FIFO without a reader would block a plain open for good; this test would hang then.
  for (const std::string& path : {fifo, std::string("/dev/null"), folder.path().string()}) {
    SCOPED_TRACE(path);
    TConsoleLog log;
    EXPECT_FALSE(log.Open(path));
    EXPECT_FALSE(log.IsOpen());
    EXPECT_EQ(log.OpenFailure(), TConsoleLog::TOpenFailure::NotRegularFile);
  }
  TConsoleLog log;
  EXPECT_FALSE(log.Open((folder / "missing" / "console.log").string()));
  EXPECT_EQ(log.OpenFailure(), TConsoleLog::TOpenFailure::CannotOpen);
  EXPECT_TRUE(log.Open((folder / "console.log").string()));
  EXPECT_EQ(log.OpenFailure(), TConsoleLog::TOpenFailure::None);
}

TEST_F(ConsoleLogTest, EachConsoleCodeEditsTheLineAsTheScreenShowsIt) {
  struct TCase {
    const char* what;
    std::string bytes;
    std::string logged;
  };
  const TCase cases[] = {
      {"ACK steps right over the cells", "ab\x06\x06" "c\r\n", "ab  c\n"},
      {"ACK past the last column goes on the next row", std::string(80, '-') + "\x06x\r\n",
       std::string(80, '-') + "\nx\n"},
      {"NAK steps left like BS", "abc\x15\x15X\r\n", "aXc\n"},
      {"SUB ends the row and keeps the column", "top\x1a" "up\r\n", "top\n   up\n"},
      {"EM blanks the row", "junk\x19ok\r\n", "ok\n"},
      {"ESC k cuts the row from the cursor", "abcdef\x08\x08\x08\x1bk\r\n", "abc\n"},
      {"LF alone keeps the column", "ab\ncd\r\n", "ab\n  cd\n"},
      {"an address off the screen is no move", "ab\x1bY\x7f\x20" "cd\r\n", "abcd\n"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_TRUE(log.Open((folder / (std::string(c.what) + ".log")).string()));
    Feed(c.bytes);
    log.Close();
    const auto bytes = folder.read(std::string(c.what) + ".log");
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), c.logged);
  }
}

// The board's bytes, frames included, only fill the log's memory: the file is written by
// the tick, a bounded chunk at a time, so a slow file can never delay a reply.
TEST_F(ConsoleLogTest, TheBoardsBytesNeverWriteTheFileOnlyTheTickDoes) {
  std::string lines;
  for (int n = 0; n < 2000; ++n) lines += std::string(60, char('a' + n % 26)) + "\r\n";
  Receive(lines);
  EXPECT_TRUE(FrameAnswered());
  EXPECT_EQ(folder.read("console.log").size(), 0u);
  EXPECT_EQ(log.Backlog(), 2000u * 61);
  log.WriteBacklog();
  EXPECT_EQ(folder.read("console.log").size(), TConsoleLog::kWriteChunk);
  while (log.Backlog() > 0) log.WriteBacklog();
  std::string expected;
  for (int n = 0; n < 2000; ++n) expected += std::string(60, char('a' + n % 26)) + "\n";
  EXPECT_EQ(InFile(), expected);
  EXPECT_FALSE(log.Stopped());
}

TEST_F(ConsoleLogTest, AWriteSlowerThanItsBoundStopsTheLogKeepingWhatWasWritten) {
  Feed("kept\r\n");
  log.WriteBacklog();
  clock.step = TConsoleLog::kStallLimit + std::chrono::milliseconds(1);
  Feed("slow\r\n");
  log.WriteBacklog();
  EXPECT_TRUE(log.Stopped());
  EXPECT_EQ(log.StopCause(), TConsoleLog::TStopCause::Stalled);
  EXPECT_EQ(log.StopReason(kLanguageEnglish), "the file took more than 200 ms to write");
  EXPECT_EQ(log.StopReason(kLanguageItalian), "il file ha impiegato più di 200 ms per una scrittura");
  EXPECT_FALSE(log.IsOpen());
  // The slow write did arrive; nothing after it is taken, and the board is still served.
  Feed("after\r\n");
  EXPECT_TRUE(FrameAnswered());
  log.Close();
  EXPECT_EQ(InFile(), "kept\nslow\n");
}

// A file that never drains (or a front end whose tick never comes) must not grow the
// program's memory without end.
TEST_F(ConsoleLogTest, ABacklogPastItsBoundStopsTheLogAndLetsItGo) {
  const std::string line = std::string(79, 'z') + "\r\n";
  for (std::size_t n = 0; n * 80 <= TConsoleLog::kBacklogLimit; ++n) Feed(line);
  EXPECT_TRUE(log.Stopped());
  EXPECT_EQ(log.StopCause(), TConsoleLog::TStopCause::BacklogFull);
  EXPECT_EQ(log.StopReason(kLanguageEnglish), "more than 1024 KB waited to be written");
  EXPECT_EQ(log.Backlog(), 0u);
  EXPECT_TRUE(FrameAnswered());
  log.WriteBacklog();
  EXPECT_EQ(folder.read("console.log").size(), 0u);
  EXPECT_TRUE(log.Open((folder / "console.log").string()));
  EXPECT_FALSE(log.Stopped());
}

// A file system of 16 KiB mounted over a folder (where this process may mount), or else the
// process's file size limit of the same size, standing in for a full disk.
class FullDisk {
public:
  explicit FullDisk(const std::filesystem::path& folder) : folder_(folder) {
    std::filesystem::create_directories(folder_);
    mounted_ = ::mount("tmpfs", folder_.c_str(), "tmpfs", 0, "size=16k") == 0;
    if (!mounted_) limit_.emplace(kSize);
  }
  ~FullDisk() {
    if (mounted_) ::umount2(folder_.c_str(), MNT_DETACH);
  }
  FullDisk(const FullDisk&) = delete;
  FullDisk& operator=(const FullDisk&) = delete;
  bool Ready() const { return mounted_ || limit_->Set(); }

  static constexpr std::size_t kSize = 16 * 1024;

private:
  std::filesystem::path folder_;
  bool mounted_ = false;
  std::optional<testing::ScopedFileSizeLimit> limit_;
};

TEST_F(ConsoleLogTest, AFullDiskStopsTheLogAtTheFirstFailedWriteAndTheBoardIsServed) {
  FullDisk disk(folder / "full");
  ASSERT_TRUE(disk.Ready());
  ASSERT_TRUE(log.Open((folder / "full" / "console.log").string()));
  Feed("kept\r\n");
  log.WriteBacklog();
  for (int n = 0; n < 400; ++n) Feed(std::string(70, 'x') + "\r\n");
  EXPECT_TRUE(FrameAnswered());
  for (int tick = 0; tick < 3 && !log.Stopped(); ++tick) log.WriteBacklog();
  EXPECT_EQ(log.StopCause(), TConsoleLog::TStopCause::WriteFailed);
  const std::string reason = log.StopReason(kLanguageEnglish);
  EXPECT_TRUE(reason == std::strerror(ENOSPC) || reason == std::strerror(EFBIG)) << reason;
  EXPECT_FALSE(log.IsOpen());
  EXPECT_TRUE(FrameAnswered());
  const auto bytes = folder.read("full/console.log");
  EXPECT_LE(bytes.size(), FullDisk::kSize);
  EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 5), "kept\n");
}

}  // namespace
}  // namespace mirte
