#pragma once
// The board's end of the line in the benchmarks: whole writes and reads on the master side
// of a pty, and command frames as the board sends them. A read gives up after a silence (5 s
// unless the caller allows more), so a program that stops answering ends the benchmark
// instead of hanging it.
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

namespace mirte::bench {

inline bool ReadExactly(int fd, std::uint8_t* data, std::size_t count,
                        std::chrono::milliseconds silence = std::chrono::milliseconds(5000)) {
  std::size_t done = 0;
  while (done < count) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(silence.count())) <= 0) return false;
    ssize_t n = ::read(fd, data + done, count - done);
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

inline bool WriteAll(int fd, const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

// Reads `count` bytes; fewer when `limit` passes without them, or when the line has gone.
inline std::string Receive(int fd, std::size_t count, std::chrono::milliseconds limit) {
  using Clock = std::chrono::steady_clock;
  std::string got;
  const auto deadline = Clock::now() + limit;
  while (got.size() < count) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() < 0) break;
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(left.count()) + 1) <= 0) continue;
    char buffer[4096];
    const ssize_t n = ::read(fd, buffer, std::min(sizeof buffer, count - got.size()));
    if (n > 0) got.append(buffer, static_cast<std::size_t>(n));
    else if (n < 0 && errno != EAGAIN && errno != EINTR) break;
  }
  return got;
}

// DLE DC1, the type, then the parameter bytes.
inline std::string Frame(std::uint8_t type, const std::string& params = {}) {
  return std::string("\x10\x11") + static_cast<char>(type) + params;
}

// Drive 0 (the current one), then name and extension blank-padded to 8 + 3 (longer ones cut).
inline std::string NameBlock(const std::string& name, const std::string& ext) {
  std::string block(12, ' ');
  block[0] = '\0';
  block.replace(1, std::min<std::size_t>(8, name.size()), name.substr(0, 8));
  block.replace(9, std::min<std::size_t>(3, ext.size()), ext.substr(0, 3));
  return block;
}

}  // namespace mirte::bench
