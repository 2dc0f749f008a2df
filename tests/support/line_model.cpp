#include "support/line_model.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <deque>
#include <random>
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
  // The adapter must see when the program's end takes no more, to hold bytes in its FIFO.
  const int flags = ::fcntl(program.master(), F_GETFL);
  if (flags < 0 || ::fcntl(program.master(), F_SETFL, flags | O_NONBLOCK) != 0)
    throw std::runtime_error("line model: program end stays blocking");
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
  // Bytes off the wire that the adapter holds, each with the time it arrived; the front ones
  // leave as a packet when there are a packet's worth or the latency timer has run out.
  std::deque<Timed> fifo;
  // The program's end took no more: packets wait until it is writable again.
  bool programFull = false;
  std::size_t boardBytes = 0;
  std::mt19937 random(shape.Seed);
  std::uniform_real_distribution<double> chance(0.0, 1.0);
  std::uniform_int_distribution<int> bitFlips(1, 255);
  // A pty master hangs up while nobody holds its slave: until the program opens its end the
  // rig looks again every few milliseconds rather than spin on the hang-up.
  bool programAway = false;

  auto take = [&](int fd, std::deque<Timed>& queue, Clock::time_point& wireFree, bool fromBoard) {
    std::uint8_t chunk[512];
    const ssize_t n = ::read(fd, chunk, sizeof chunk);
    const auto now = Clock::now();
    for (ssize_t i = 0; i < n; ++i) {
      wireFree = std::max(wireFree, now) + byteTime;
      std::uint8_t byte = chunk[i];
      if (fromBoard) {
        // Draws happen for every byte, so one seed gives the same faults whatever the rates.
        const bool lose = shape.DropBoardByte == boardBytes++ || chance(random) < shape.DropRate;
        const bool spoil = chance(random) < shape.CorruptRate;
        const int flips = bitFlips(random);
        if (lose) {
          ++dropped;
          continue;
        }
        if (spoil) {
          byte = static_cast<std::uint8_t>(byte ^ flips);
          ++corrupted;
        }
      }
      queue.push_back({byte, wireFree});
    }
  };

  auto packetDue = [&] { return fifo.front().Due + shape.LatencyTimer; };

  for (;;) {
    const auto now = Clock::now();
    while (!towardsBoard.empty() && towardsBoard.front().Due <= now) {
      WriteAll(board.master(), &towardsBoard.front().Byte, 1);
      towardsBoard.pop_front();
    }
    while (!towardsProgram.empty() && towardsProgram.front().Due <= now) {
      if (fifo.size() < shape.ReceiveFifo)
        fifo.push_back(towardsProgram.front());
      else
        ++overflowed;
      towardsProgram.pop_front();
    }
    while (!programFull && !fifo.empty() && (fifo.size() >= shape.PacketSize || packetDue() <= now)) {
      std::uint8_t packet[512];
      const std::size_t size = std::min({fifo.size(), shape.PacketSize, sizeof packet});
      for (std::size_t i = 0; i < size; ++i) packet[i] = fifo[i].Byte;
      const ssize_t done = ::write(program.master(), packet, size);
      if (done < 0 && errno == EAGAIN) {
        programFull = true;
        break;
      }
      // Taken in part, or the other side went away (the line loses what it carried).
      fifo.erase(fifo.begin(), fifo.begin() + static_cast<std::ptrdiff_t>(done > 0 ? done : size));
    }

    Clock::time_point next = now + std::chrono::milliseconds(50);
    if (!towardsBoard.empty()) next = std::min(next, towardsBoard.front().Due);
    if (!towardsProgram.empty()) next = std::min(next, towardsProgram.front().Due);
    if (!fifo.empty() && !programFull) next = std::min(next, packetDue());
    if (programAway) next = std::min(next, now + std::chrono::milliseconds(5));
    const auto waitNs = std::chrono::duration_cast<std::chrono::nanoseconds>(std::max(next - now, Clock::duration::zero())).count();
    const timespec limit{waitNs / 1'000'000'000, waitNs % 1'000'000'000};
    const short programEvents = static_cast<short>(POLLIN | (programFull ? POLLOUT : 0));
    pollfd fds[3] = {{wakeFds[0], POLLIN, 0}, {board.master(), POLLIN, 0}, {programAway ? -1 : program.master(), programEvents, 0}};
    if (::ppoll(fds, 3, &limit, nullptr) < 0) continue;
    if (fds[0].revents) return;
    if (fds[1].revents & POLLIN) take(board.master(), towardsProgram, wireFreeUp, true);
    if (fds[2].revents & POLLIN) take(program.master(), towardsBoard, wireFreeDown, false);
    if (fds[2].revents & (POLLOUT | POLLHUP | POLLERR)) programFull = false;
    programAway = (fds[2].revents & (POLLHUP | POLLIN)) == POLLHUP;
  }
}

}  // namespace mirte::testing
