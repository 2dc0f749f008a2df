#include "board/console_log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

#include "common/console_texts.h"
#include "platform/code_page.h"
#include "terminal/terminal_buffer.h"

namespace mirte {

namespace {

std::string Filled(std::string_view pattern, std::size_t value) {
  std::string text(pattern);
  if (const auto at = text.find("%1"); at != std::string::npos) text.replace(at, 2, std::to_string(value));
  return text;
}

}  // namespace

TConsoleLog::TConsoleLog(TClock clock) : clock_(std::move(clock)) {}

TConsoleLog::~TConsoleLog() { Close(); }

bool TConsoleLog::Open(const std::string& path) {
  Close();
  stopCause_ = TStopCause::None;
  stopErrno_ = 0;
  openFailure_ = TOpenFailure::None;
  pending_.clear();
  // O_NONBLOCK: a FIFO would otherwise hold the open until some reader came. What is not a
  // regular file is refused after the open, as the open itself cannot tell.
  const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NONBLOCK | O_CLOEXEC | O_NOCTTY, 0666);
  if (fd < 0) {
    openFailure_ = errno == EISDIR || errno == ENXIO ? TOpenFailure::NotRegularFile : TOpenFailure::CannotOpen;
    return false;
  }
  struct stat status {};
  if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
    ::close(fd);
    openFailure_ = TOpenFailure::NotRegularFile;
    return false;
  }
  fd_ = fd;
  path_ = path;
  ClearCells(0);
  column_ = 0;
  pendingWrap_ = false;
  touched_ = false;
  return true;
}

void TConsoleLog::Close() {
  if (fd_ < 0) return;
  if (IsOpen() && touched_) EndLine();
  Flush();
  CloseFile();
}

void TConsoleLog::CloseFile() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

std::string TConsoleLog::StopReason(int language) const {
  switch (stopCause_) {
    case TStopCause::None:
      return {};
    case TStopCause::WriteFailed:
      return std::strerror(stopErrno_);
    case TStopCause::Stalled:
      return Filled(console_texts::kLogStalled.Pick(language), std::size_t(kStallLimit.count()));
    case TStopCause::BacklogFull:
      return Filled(console_texts::kLogBacklogFull.Pick(language), kBacklogLimit / 1024);
  }
  return {};
}

void TConsoleLog::Stop(TStopCause cause) {
  stopCause_ = cause;
  // What never reached the file is let go; the file itself is closed by the tick or Close,
  // as even a close may wait on a network folder.
  pending_.clear();
  pending_.shrink_to_fit();
}

void TConsoleLog::WriteBacklog() {
  if (Stopped()) {
    CloseFile();
    return;
  }
  WriteChunk(kWriteChunk);
  if (!Stopped() && pending_.size() > kBacklogLimit) Stop(TStopCause::BacklogFull);
  if (Stopped()) CloseFile();
}

void TConsoleLog::Flush() {
  while (IsOpen() && !pending_.empty() && WriteChunk(kWriteChunk)) {
  }
}

bool TConsoleLog::WriteChunk(std::size_t limit) {
  const std::size_t size = std::min(limit, pending_.size());
  std::size_t done = 0;
  // Timed from the chunk's start, so that a file taking it in many slow pieces stalls too.
  const auto start = clock_();
  while (IsOpen() && done < size) {
    const ssize_t n = ::write(fd_, pending_.data() + done, size - done);
    const int error = errno;
    const bool slow = clock_() - start > kStallLimit;
    if (n > 0) done += std::size_t(n);
    if (slow) {
      Stop(TStopCause::Stalled);
    } else if (n < 0 && error == EINTR) {
      continue;
    } else if (n < 0 && error == EAGAIN) {
      break;  // left for the next tick; a file that never takes it fills the backlog
    } else if (n <= 0) {
      // A full disk, a vanished network folder: the log ends here.
      stopErrno_ = n < 0 ? error : EIO;
      Stop(TStopCause::WriteFailed);
    }
  }
  if (Stopped()) return false;
  pending_.erase(0, done);
  return done > 0;
}

void TConsoleLog::ClearCells(int from) {
  std::fill(cells_.begin() + std::clamp(from, 0, kColumns), cells_.end(), U' ');
}

void TConsoleLog::EndLine() {
  out_.clear();
  for (const char32_t glyph : cells_) AppendUtf8(out_, glyph);
  const std::size_t end = out_.find_last_not_of(' ');
  out_.erase(end == std::string::npos ? 0 : end + 1);
  out_ += '\n';
  pending_ += out_;
  // The byte path never writes: past the bound the file is taken as one that cannot keep up.
  if (pending_.size() > kBacklogLimit) Stop(TStopCause::BacklogFull);
  ClearCells(0);
  touched_ = false;
  pendingWrap_ = false;
}

// The cursor goes to another row: the line so far is done if it holds anything.
void TConsoleLog::LeaveRow(int newColumn) {
  if (touched_) EndLine();
  pendingWrap_ = false;
  column_ = std::clamp(newColumn, 0, kColumns - 1);
}

void TConsoleLog::Put(char32_t glyph) {
  if (pendingWrap_) {
    EndLine();
    column_ = 0;
  }
  cells_[std::size_t(column_)] = glyph;
  touched_ = true;
  if (column_ == kColumns - 1) {
    pendingWrap_ = true;
  } else {
    ++column_;
  }
}

void TConsoleLog::Printed(std::uint8_t byte, std::uint8_t attributes) {
  if (IsOpen()) Put((attributes & TAttr::Invisible) != 0 ? U' ' : Cp437ToUnicode(byte));
}

void TConsoleLog::Home() {
  if (IsOpen()) LeaveRow(0);
}

void TConsoleLog::CursorRight() {
  if (!IsOpen()) return;
  if (column_ < kColumns - 1 && !pendingWrap_) {
    ++column_;
  } else {
    LeaveRow(0);
  }
}

void TConsoleLog::Backspace() {
  if (!IsOpen()) return;
  pendingWrap_ = false;
  column_ = std::max(column_ - 1, 0);
}

// The line is done; the next one starts below the cursor, in its column.
void TConsoleLog::LineFeed() {
  if (IsOpen()) EndLine();
}

void TConsoleLog::Cleared() {
  if (IsOpen()) LeaveRow(0);
}

void TConsoleLog::CarriageReturn() {
  if (!IsOpen()) return;
  pendingWrap_ = false;
  column_ = 0;
}

void TConsoleLog::LineBlanked() {
  if (!IsOpen()) return;
  ClearCells(0);
  pendingWrap_ = false;
  column_ = 0;
}

void TConsoleLog::CursorUp() {
  if (IsOpen()) LeaveRow(column_);
}

void TConsoleLog::NewLine() {
  if (!IsOpen()) return;
  EndLine();
  column_ = 0;
}

// Only the cursor's row is logged, so the rest of the screen below does not matter here.
void TConsoleLog::ErasedToEnd(bool /*restOfScreen*/) {
  if (IsOpen()) ClearCells(pendingWrap_ ? kColumns - 1 : column_);
}

void TConsoleLog::Addressed(int /*row*/, int column) {
  if (IsOpen()) LeaveRow(column - 1);
}

}  // namespace mirte
