// The line model's faults, which the line tests and the line benchmark count on: bytes a
// program does not take overflow the adapter's FIFO and are counted lost, and the faults
// drawn at a rate repeat with their seed.
#include "support/line_model.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>

namespace mirte {
namespace {

using namespace std::chrono_literals;

// The program's end, opened raw so that it echoes nothing back down the line.
class ProgramEnd {
public:
  explicit ProgramEnd(const std::string& path) : fd(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK)) {
    termios raw{};
    ::tcgetattr(fd, &raw);
    ::cfmakeraw(&raw);
    ::tcsetattr(fd, TCSANOW, &raw);
  }
  ~ProgramEnd() { ::close(fd); }
  // Everything that arrives until nothing more comes for `quiet`.
  std::string ReadUntilQuiet(std::chrono::milliseconds quiet) {
    std::string got;
    pollfd ready{fd, POLLIN, 0};
    while (::poll(&ready, 1, static_cast<int>(quiet.count())) > 0) {
      char chunk[4096];
      const ssize_t n = ::read(fd, chunk, sizeof chunk);
      if (n <= 0) break;
      got.append(chunk, static_cast<std::size_t>(n));
    }
    return got;
  }
  // What arrives until `whole` finds the count complete (a loaded machine may hold the
  // line up for long), and then until a short quiet shows nothing more comes.
  std::string ReadWhole(const std::function<bool(std::size_t)>& whole) {
    std::string got;
    const auto limit = std::chrono::steady_clock::now() + 10s;
    while (!whole(got.size()) && std::chrono::steady_clock::now() < limit) got += ReadUntilQuiet(10ms);
    return got + ReadUntilQuiet(50ms);
  }
  int fd;
};

std::string Pattern(std::size_t size) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>('A' + i % 23);
  return bytes;
}

TEST(LineModelTest, BytesTheProgramDoesNotTakeOverflowTheAdapterAndAreCountedLost) {
  testing::LineModelShape shape;
  shape.Baud = 20'000'000;
  shape.ReceiveFifo = 512;
  testing::LineModel line(shape);
  ProgramEnd program(line.ProgramPath());
  ASSERT_GE(program.fd, 0);

  // Far more than the pty in front of the program holds while nobody reads it.
  const std::string sent = Pattern(400'000);
  line.BoardWrite(sent);
  // Nobody reads until the adapter has had to drop bytes.
  const auto limit = std::chrono::steady_clock::now() + 10s;
  while (line.Overflowed() == 0 && std::chrono::steady_clock::now() < limit) ::usleep(1000);
  ASSERT_GT(line.Overflowed(), 0u);
  const std::string got = program.ReadWhole([&](std::size_t size) { return size + line.Overflowed() >= sent.size(); });
  EXPECT_EQ(got.size() + line.Overflowed(), sent.size()) << "every byte arrives or is counted lost";
  // How much the pty takes before the FIFO overflows depends on the kernel's timing; the
  // FIFO's own worth always comes first and whole.
  EXPECT_EQ(got.substr(0, shape.ReceiveFifo), sent.substr(0, shape.ReceiveFifo))
      << "the first bytes came before the FIFO was full";
}

TEST(LineModelTest, DroppedAndCorruptedBytesAreCountedAndRepeatWithTheirSeed) {
  const std::string sent = Pattern(2000);
  std::string arrived[2];
  std::size_t dropped[2], corrupted[2];
  for (int run = 0; run < 2; ++run) {
    testing::LineModelShape shape;
    shape.Baud = 2'000'000;
    shape.DropRate = 0.01;
    shape.CorruptRate = 0.01;
    shape.Seed = 5;
    testing::LineModel line(shape);
    ProgramEnd program(line.ProgramPath());
    line.BoardWrite(sent);
    arrived[run] = program.ReadWhole([&](std::size_t size) { return size + line.Dropped() >= sent.size(); });
    dropped[run] = line.Dropped();
    corrupted[run] = line.Corrupted();
  }
  EXPECT_EQ(arrived[0], arrived[1]);
  EXPECT_EQ(dropped[0], dropped[1]);
  EXPECT_EQ(corrupted[0], corrupted[1]);
  EXPECT_GT(dropped[0], 5u);
  EXPECT_GT(corrupted[0], 5u);
  EXPECT_EQ(arrived[0].size() + dropped[0], sent.size());
}

}  // namespace
}  // namespace mirte
