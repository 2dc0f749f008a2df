#pragma once
// The board's end of the line in the benchmarks: whole writes and reads on the master side
// of a pty, and command frames as the board sends them. A read gives up after 5 s of silence,
// so a program that stops answering ends the benchmark instead of hanging it.
#include <poll.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace mirte::bench {

inline bool ReadExactly(int fd, std::uint8_t* data, std::size_t count) {
  std::size_t done = 0;
  while (done < count) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 5000) <= 0) return false;
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

// DLE DC1, the type, then the parameter bytes.
inline std::string Frame(std::uint8_t type, const std::string& params) {
  return std::string("\x10\x11") + static_cast<char>(type) + params;
}

}  // namespace mirte::bench
