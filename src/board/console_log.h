#pragma once
// The console log: everything the board displays, appended to a file as UTF-8 lines. It
// listens to the board service's console codes as the service decoded them and keeps one
// line as the screen shows it (80 cells, the cursor's column, characters as their code
// page 437 glyphs, invisible ones as blanks), so that CR, BS and erasing edit the line
// before it is kept: LF (CR LF, GS) ends the line, a character past the last column wraps
// onto a new one, and a clear or a move to another row ends a line that holds something.
// Trailing blanks are cut.
//
// The log never holds the board up. Ended lines wait in memory; only WriteBacklog, called
// from a periodic tick away from the byte path, hands them to the file, at most a chunk
// at a time, and times it. The first write that fails, or a chunk that takes longer than
// kStallLimit (a stalled disk or network folder), stops the log for good, keeping what
// reached the file; so does a backlog past kBacklogLimit (a file that never drains, or a
// tick that never comes), which is dropped. Only regular files are taken, opened without
// blocking, so a FIFO with no reader cannot stall the open. The unfinished line and the
// rest of the backlog are written when the log is closed.
#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

#include "board/console_events.h"

namespace mirte {

class TConsoleLog : public IConsoleEvents {
public:
  using TClock = std::function<std::chrono::steady_clock::time_point()>;

  static constexpr int kColumns = 80;
  // A write that takes longer than this means the file system has stalled.
  static constexpr std::chrono::milliseconds kStallLimit{200};
  // About 90 s of a console at 115200 baud: far more than a working file ever lets wait.
  static constexpr std::size_t kBacklogLimit = 1024 * 1024;
  // What one WriteBacklog hands over at most; at a tick of a few per second this drains
  // many times faster than the line can fill.
  static constexpr std::size_t kWriteChunk = 64 * 1024;

  // The clock times the writes; tests give one of their own.
  explicit TConsoleLog(TClock clock = std::chrono::steady_clock::now);
  ~TConsoleLog() override;
  TConsoleLog(const TConsoleLog&) = delete;
  TConsoleLog& operator=(const TConsoleLog&) = delete;

  enum class TOpenFailure { None, NotRegularFile, CannotOpen };
  enum class TStopCause { None, WriteFailed, Stalled, BacklogFull };

  // Opens `path` for appending (created when missing), closing any log open before. False
  // when the file cannot be opened or is not a regular file (a FIFO, socket, device or
  // folder); the log is then closed and OpenFailure() says which.
  bool Open(const std::string& path);
  TOpenFailure OpenFailure() const { return openFailure_; }
  // Open and not stopped: the console is being logged.
  bool IsOpen() const { return fd_ >= 0 && !Stopped(); }
  // The log gave up on its own and takes nothing since; cleared by the next Open.
  bool Stopped() const { return stopCause_ != TStopCause::None; }
  TStopCause StopCause() const { return stopCause_; }
  // Why, for the status bar, in a 1-based language (the system's text for a failed write).
  std::string StopReason(int language) const;
  const std::string& Path() const { return path_; }
  // Writes the unfinished line and the backlog, then closes the file; a stopped log is
  // closed without writing more.
  void Close();
  // One chunk of the ended lines to the file, for a periodic tick; a stopped log's file is
  // closed here. Never called from the byte path.
  void WriteBacklog();
  // The whole backlog to the file, chunk by chunk, until it is written or the log stops.
  void Flush();
  // Bytes of ended lines not yet written.
  std::size_t Backlog() const { return pending_.size(); }

  void Printed(std::uint8_t byte, std::uint8_t attributes) override;
  void Home() override;
  void CursorRight() override;
  void Backspace() override;
  void LineFeed() override;
  void Cleared() override;
  void CarriageReturn() override;
  void LineBlanked() override;
  void CursorUp() override;
  void NewLine() override;
  void ErasedToEnd(bool restOfScreen) override;
  void Addressed(int row, int column) override;

private:
  void Put(char32_t glyph);
  void EndLine();
  void LeaveRow(int newColumn);
  void ClearCells(int from);
  // Writes up to `limit` bytes of the backlog; false when the log stopped.
  bool WriteChunk(std::size_t limit);
  void Stop(TStopCause cause);
  void CloseFile();

  TClock clock_;
  int fd_ = -1;
  TOpenFailure openFailure_ = TOpenFailure::None;
  TStopCause stopCause_ = TStopCause::None;
  int stopErrno_ = 0;
  std::string pending_;
  std::string path_;
  std::array<char32_t, kColumns> cells_{};
  int column_ = 0;
  bool pendingWrap_ = false;  // the last column was written; the next character wraps
  bool touched_ = false;      // the line holds something written since it began
  std::string out_;
};

}  // namespace mirte
