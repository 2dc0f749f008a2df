#pragma once
// The console log: everything the board displays, appended to a file as UTF-8 lines while
// it arrives. The board service reports each console byte and cursor move to it; command
// frames never reach it. It keeps one line as the screen shows it (80 cells, the cursor's
// column, characters as their code page 437 glyphs, invisible ones as blanks), so that
// CR, BS and erasing edit the line before it is written: LF (CR LF, GS) writes the line,
// a character past the last column wraps onto a new one, and a clear or a move to another
// row writes a line that holds something. Trailing blanks are cut. A line reaches the file
// when it ends; the unfinished one is written when the log is closed. The log never holds
// the console up: only regular files are taken (opened without blocking, so a FIFO with no
// reader cannot stall the open), and the first write that fails or would block stops the
// log for good with its reason, keeping what reached the file before.
#include <array>
#include <cstdint>
#include <string>

namespace mirte {

class TConsoleLog {
public:
  static constexpr int kColumns = 80;

  TConsoleLog() = default;
  ~TConsoleLog();
  TConsoleLog(const TConsoleLog&) = delete;
  TConsoleLog& operator=(const TConsoleLog&) = delete;

  enum class TOpenFailure { None, NotRegularFile, CannotOpen };

  // Opens `path` for appending (created when missing), closing any log open before. False
  // when the file cannot be opened or is not a regular file (a FIFO, socket, device or
  // folder); the log is then closed and OpenFailure() says which.
  bool Open(const std::string& path);
  TOpenFailure OpenFailure() const { return openFailure_; }
  bool IsOpen() const { return fd_ >= 0; }
  // A write failed or would have blocked: the log took nothing since, and StopReason()
  // says why. Cleared by the next Open.
  bool Stopped() const { return !stopReason_.empty(); }
  const std::string& StopReason() const { return stopReason_; }
  const std::string& Path() const { return path_; }
  // Writes the unfinished line and closes the file.
  void Close();
  // Hands the lines kept so far to the file system.
  void Flush();

  // A byte the board sent in console mode (control codes included), with the attribute
  // byte characters are written in at that moment.
  void ConsoleByte(std::uint8_t byte, std::uint8_t attributes);
  // ESC K and ESC k: the rest of the line from the cursor is blank.
  void EraseToEnd();
  // ESC Y: the cursor was placed anew; `column` is its 1-based column.
  void CursorAddressed(int column);

private:
  void Put(char32_t glyph);
  void EndLine();
  void LeaveRow(int newColumn);
  void ClearCells(int from);
  void WritePending();

  // Lines are kept until this much has gathered or Flush comes, so a busy console costs a
  // write per few kilobytes rather than one per line.
  static constexpr std::size_t kWriteChunk = 4096;

  int fd_ = -1;
  TOpenFailure openFailure_ = TOpenFailure::None;
  std::string stopReason_;
  std::string pending_;
  std::string path_;
  std::array<char32_t, kColumns> cells_{};
  int column_ = 0;
  bool pendingWrap_ = false;  // the last column was written; the next character wraps
  bool touched_ = false;      // the line holds something written since it began
  std::string out_;
};

}  // namespace mirte
