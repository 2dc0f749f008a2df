#include "board/console_log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/code_page.h"
#include "terminal/terminal_buffer.h"

namespace mirte {

TConsoleLog::~TConsoleLog() { Close(); }

bool TConsoleLog::Open(const std::string& path) {
  Close();
  stopReason_.clear();
  openFailure_ = TOpenFailure::None;
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
  pending_.clear();
  path_ = path;
  ClearCells(0);
  column_ = 0;
  pendingWrap_ = false;
  touched_ = false;
  return true;
}

void TConsoleLog::Close() {
  if (fd_ < 0) return;
  if (touched_) EndLine();
  WritePending();
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

void TConsoleLog::Flush() { WritePending(); }

void TConsoleLog::WritePending() {
  std::size_t done = 0;
  while (fd_ >= 0 && done < pending_.size()) {
    const ssize_t n = ::write(fd_, pending_.data() + done, pending_.size() - done);
    if (n > 0) {
      done += std::size_t(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    // A full disk, a vanished network folder or a file that would block: the console does
    // not wait, the log ends here.
    stopReason_ = n < 0 ? std::strerror(errno) : std::strerror(EIO);
    ::close(fd_);
    fd_ = -1;
  }
  pending_.clear();
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
  if (fd_ >= 0) {
    pending_ += out_;
    if (pending_.size() >= kWriteChunk) WritePending();
  }
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

void TConsoleLog::ConsoleByte(std::uint8_t byte, std::uint8_t attributes) {
  if (fd_ < 0) return;
  switch (byte) {
    case 1:  // SOH: home
      LeaveRow(0);
      break;
    case 6:  // ACK: cursor right, wrapping
      if (column_ < kColumns - 1 && !pendingWrap_) {
        ++column_;
      } else {
        LeaveRow(0);
      }
      break;
    case 7:   // BEL
    case 14:  // SO, SI: attributes only
    case 15:
    case 16:  // DLE, ESC: what follows is reported on its own
    case 27:
      break;
    case 8:  // BS, NAK
    case 21:
      pendingWrap_ = false;
      column_ = std::max(column_ - 1, 0);
      break;
    case 10:  // LF: the line is done; the next one starts below the cursor
      EndLine();
      break;
    case 12:  // FF: the screen is cleared
      LeaveRow(0);
      break;
    case 13:  // CR
      pendingWrap_ = false;
      column_ = 0;
      break;
    case 25:  // EM: the line is blanked
      ClearCells(0);
      pendingWrap_ = false;
      column_ = 0;
      break;
    case 26:  // SUB: cursor up
      LeaveRow(column_);
      break;
    case 29:  // GS: new line
      EndLine();
      column_ = 0;
      break;
    default:
      Put((attributes & TAttr::Invisible) != 0 ? U' ' : Cp437ToUnicode(byte));
      break;
  }
}

void TConsoleLog::EraseToEnd() {
  if (fd_ < 0) return;
  ClearCells(pendingWrap_ ? kColumns - 1 : column_);
}

void TConsoleLog::CursorAddressed(int column) {
  if (fd_ < 0) return;
  LeaveRow(column - 1);
}

}  // namespace mirte
