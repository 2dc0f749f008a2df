#pragma once
// A serial line and a USB adapter between two pseudo-terminals, for tests that need the
// timing of a real line: the program opens ProgramPath(), the test plays the board on
// BoardEnd(). Bytes both ways take the time their frame format needs at the baud rate
// (115200 8N2: 11 bits a byte). Towards the program they arrive as an adapter delivers
// them: in packets of up to 62 bytes, released when full or when the latency timer runs
// out after the packet's first byte (zero: each byte as it is paced). The board's k-th
// byte (counted from 0) can be made to vanish on the way, as a lost byte does.
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "support/pty_pair.h"

namespace mirte::testing {

struct LineModelShape {
  int Baud = 115200;
  int BitsPerByte = 11;
  std::chrono::microseconds LatencyTimer{0};
  std::size_t PacketSize = 62;
  std::optional<std::size_t> DropBoardByte;
};

class LineModel {
public:
  explicit LineModel(LineModelShape shape);
  ~LineModel();
  LineModel(const LineModel&) = delete;
  LineModel& operator=(const LineModel&) = delete;

  const std::string& ProgramPath() const { return program.slavePath(); }
  // The board's side of the line, a raw file descriptor the rig owns.
  int BoardEnd() const { return boardFd; }
  void BoardWrite(const std::string& bytes);
  // Whatever reaches the board until nothing more comes for quiet.
  std::vector<std::uint8_t> BoardReadUntilQuiet(std::chrono::milliseconds quiet);

private:
  void Run();

  LineModelShape shape;
  PtyPair program;
  PtyPair board;
  int boardFd = -1;
  int wakeFds[2] = {-1, -1};  // a byte here ends Run
  std::thread worker;
};

}  // namespace mirte::testing
