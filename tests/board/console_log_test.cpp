// The console log fed by the board service: what the board displays, as UTF-8 lines in a
// real file, with command frames and control sequences left out.
#include "board/console_log.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <string>

#include "board/board_service.h"
#include "common/msg_table.h"
#include "support/fake_board_window.h"
#include "support/file_size_limit.h"
#include "support/temp_folder.h"
#include "terminal/terminal_buffer.h"

namespace mirte {
namespace {

using namespace std::string_literals;

class ConsoleLogTest : public ::testing::Test {
protected:
  ConsoleLogTest() {
    buffer.tbSetSVRowCount(24);
    service.ResetConsole();
    service.SetReplyDelay(std::chrono::microseconds(0));
    EXPECT_TRUE(log.Open((folder / "console.log").string()));
    service.SetConsoleEvents(&log);
  }

  void Feed(std::string_view bytes) {
    for (char byte : bytes) service.ProcessBoardByte(std::uint8_t(byte));
  }
  std::string Logged() {
    log.Flush();
    const auto bytes = folder.read("console.log");
    return std::string(bytes.begin(), bytes.end());
  }
  static std::string At(int row, int col) { return "\x1bY"s + char(row + 31) + char(col + 31); }

  testing::TempFolder folder;
  TTerminalBuffer buffer;
  testing::FakeBoardWindow window;
  TBoardService service{buffer, window};
  TConsoleLog log;
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

// A file that can take no more (here the process's file size limit, as a full disk would)
// stops the log at the first failed write with the reason, and what was written stays.
TEST_F(ConsoleLogTest, StopsAtTheFirstFailedWriteKeepingWhatWasWritten) {
  Feed("kept\r\n");
  EXPECT_EQ(Logged(), "kept\n");
  {
    testing::ScopedFileSizeLimit full(5);
    ASSERT_TRUE(full.Set());
    Feed(std::string(100, 'x') + "\r\n");
    log.Flush();
  }
  EXPECT_TRUE(log.Stopped());
  EXPECT_FALSE(log.StopReason(kLanguageEnglish).empty());
  EXPECT_FALSE(log.IsOpen());
  Feed("after\r\n");  // the console goes on without its log
  log.Flush();
  const auto bytes = folder.read("console.log");
  EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "kept\n");
  // Chosen again, the log starts afresh.
  EXPECT_TRUE(log.Open((folder / "console.log").string()));
  EXPECT_FALSE(log.Stopped());
}

}  // namespace
}  // namespace mirte
