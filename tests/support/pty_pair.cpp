#include "support/pty_pair.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

namespace mirte::testing {

PtyPair::PtyPair() {
  char name[256] = {};
  if (openpty(&masterFd, &slaveFd, name, nullptr, nullptr) != 0)
    throw std::runtime_error("openpty failed");
  path = name;
  // The slave starts in cooked mode with echo; a board link is raw both ways.
  termios raw{};
  tcgetattr(slaveFd, &raw);
  cfmakeraw(&raw);
  tcsetattr(slaveFd, TCSANOW, &raw);
  fcntl(masterFd, F_SETFD, FD_CLOEXEC);
  fcntl(slaveFd, F_SETFD, FD_CLOEXEC);
  // Close our slave handle: an open handle here would defeat the program's TIOCEXCL
  // checks; the open master keeps the slave device in existence.
  ::close(slaveFd);
  slaveFd = -1;
}

PtyPair::~PtyPair() {
  closeMaster();
}

void PtyPair::closeMaster() {
  if (masterFd >= 0) ::close(masterFd);
  masterFd = -1;
}

void PtyPair::write(const std::vector<std::uint8_t>& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::write(masterFd, bytes.data() + done, bytes.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      if (errno == EAGAIN) {
        pollfd p{masterFd, POLLOUT, 0};
        ::poll(&p, 1, 100);
        continue;
      }
      throw std::runtime_error("pty write failed");
    }
    done += static_cast<std::size_t>(n);
  }
}

void PtyPair::write(const std::string& text) {
  write(std::vector<std::uint8_t>(text.begin(), text.end()));
}

std::vector<std::uint8_t> PtyPair::read(std::size_t count, std::chrono::milliseconds timeout) {
  std::vector<std::uint8_t> out;
  auto deadline = std::chrono::steady_clock::now() + timeout;
  while (out.size() < count) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    pollfd p{masterFd, POLLIN, 0};
    int r = ::poll(&p, 1, static_cast<int>(left.count()));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) break;
    if (!(p.revents & POLLIN)) break;
    std::uint8_t buf[4096];
    std::size_t want = std::min(sizeof buf, count - out.size());
    ssize_t n = ::read(masterFd, buf, want);
    if (n <= 0) {
      if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
      break;
    }
    out.insert(out.end(), buf, buf + n);
  }
  return out;
}

std::vector<std::uint8_t> PtyPair::readUntilQuiet(std::chrono::milliseconds quiet) {
  std::vector<std::uint8_t> out;
  for (;;) {
    auto chunk = read(4096, quiet);
    if (chunk.empty()) break;
    out.insert(out.end(), chunk.begin(), chunk.end());
  }
  return out;
}

}  // namespace mirte::testing
