#include "support/line_model.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <deque>
#include <stdexcept>

namespace mirte::testing {

using Clock = std::chrono::steady_clock;

namespace {

struct Timed {
  std::uint8_t Byte;
  Clock::time_point Due;
};

void WriteAll(int fd, const std::uint8_t* bytes, std::size_t count) {
  while (count > 0) {
    const ssize_t done = ::write(fd, bytes, count);
    if (done <= 0) return;  // the other side went away; the line loses what it carried
    bytes += done;
    count -= static_cast<std::size_t>(done);
  }
}

}  // namespace

LineModel::LineModel(LineModelShape lineShape) : shape(lineShape) {
  boardFd = ::open(board.slavePath().c_str(), O_RDWR | O_NOCTTY);
  if (boardFd < 0 || ::pipe(wakeFds) != 0) throw std::runtime_error("line model: no board end");
  termios raw{};
  ::tcgetattr(boardFd, &raw);
  ::cfmakeraw(&raw);
  ::tcsetattr(boardFd, TCSANOW, &raw);
  worker = std::thread([this] { Run(); });
}

LineModel::~LineModel() {
  const char stop = 0;
  // The pipe is empty and ours alone, so this one byte always goes; the worker wakes on it.
  if (::write(wakeFds[1], &stop, 1) < 0) std::perror("line model: wake");
  worker.join();
  ::close(wakeFds[0]);
  ::close(wakeFds[1]);
  ::close(boardFd);
}

void LineModel::BoardWrite(const std::string& bytes) {
  WriteAll(boardFd, reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
}

std::vector<std::uint8_t> LineModel::BoardReadUntilQuiet(std::chrono::milliseconds quiet) {
  std::vector<std::uint8_t> got;
  pollfd wait{boardFd, POLLIN, 0};
  while (::poll(&wait, 1, static_cast<int>(quiet.count())) > 0) {
    std::uint8_t chunk[512];
    const ssize_t n = ::read(boardFd, chunk, sizeof chunk);
    if (n <= 0) break;
    got.insert(got.end(), chunk, chunk + n);
  }
  return got;
}

void LineModel::Run() {
  const auto byteTime = std::chrono::nanoseconds(1'000'000'000LL * shape.BitsPerByte / shape.Baud);
  // Each direction is one wire: a byte starts when the previous one has left, or when it
  // was handed over, whichever is later.
  std::deque<Timed> towardsProgram, towardsBoard;
  Clock::time_point wireFreeUp{}, wireFreeDown{};
  std::vector<std::uint8_t> packet;
  Clock::time_point packetDue{};
  std::size_t boardBytes = 0;
  // A pty master hangs up while nobody holds its slave: until the program opens its end the
  // rig looks again every few milliseconds rather than spin on the hang-up.
  bool programAway = false;

  auto take = [&](int fd, std::deque<Timed>& queue, Clock::time_point& wireFree, bool fromBoard) {
    std::uint8_t chunk[512];
    const ssize_t n = ::read(fd, chunk, sizeof chunk);
    const auto now = Clock::now();
    for (ssize_t i = 0; i < n; ++i) {
      wireFree = std::max(wireFree, now) + byteTime;
      if (fromBoard && shape.DropBoardByte == boardBytes++) continue;
      queue.push_back({chunk[i], wireFree});
    }
  };

  for (;;) {
    const auto now = Clock::now();
    while (!towardsBoard.empty() && towardsBoard.front().Due <= now) {
      WriteAll(board.master(), &towardsBoard.front().Byte, 1);
      towardsBoard.pop_front();
    }
    while (!towardsProgram.empty() && towardsProgram.front().Due <= now) {
      if (packet.empty()) packetDue = towardsProgram.front().Due + shape.LatencyTimer;
      packet.push_back(towardsProgram.front().Byte);
      towardsProgram.pop_front();
      if (packet.size() >= shape.PacketSize) {
        WriteAll(program.master(), packet.data(), packet.size());
        packet.clear();
      }
    }
    if (!packet.empty() && packetDue <= now) {
      WriteAll(program.master(), packet.data(), packet.size());
      packet.clear();
    }

    Clock::time_point next = now + std::chrono::milliseconds(50);
    if (!towardsBoard.empty()) next = std::min(next, towardsBoard.front().Due);
    if (!towardsProgram.empty()) next = std::min(next, towardsProgram.front().Due);
    if (!packet.empty()) next = std::min(next, packetDue);
    if (programAway) next = std::min(next, now + std::chrono::milliseconds(5));
    const auto waitNs = std::chrono::duration_cast<std::chrono::nanoseconds>(next - now).count();
    const timespec limit{waitNs / 1'000'000'000, waitNs % 1'000'000'000};
    pollfd fds[3] = {{wakeFds[0], POLLIN, 0}, {board.master(), POLLIN, 0}, {programAway ? -1 : program.master(), POLLIN, 0}};
    if (::ppoll(fds, 3, &limit, nullptr) < 0) continue;
    if (fds[0].revents) return;
    if (fds[1].revents & POLLIN) take(board.master(), towardsProgram, wireFreeUp, true);
    if (fds[2].revents & POLLIN) take(program.master(), towardsBoard, wireFreeDown, false);
    programAway = (fds[2].revents & (POLLHUP | POLLIN)) == POLLHUP;
  }
}

}  // namespace mirte::testing
