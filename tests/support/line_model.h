#pragma once
// A serial line and a USB adapter between two pseudo-terminals, for tests that need the
// timing of a real line: the program opens ProgramPath(), the test plays the board on
// BoardEnd(). Bytes both ways take the time their frame format needs at the baud rate
// (115200 8N2: 11 bits a byte). Towards the program they arrive as an adapter delivers
// them: in packets of up to 62 bytes, released when full or when the latency timer runs
// out after the packet's first byte (zero: each byte as it is paced).
//
// Faults on the way to the program, each counted: the board's k-th byte (from 0) can be made
// to vanish; any byte can be dropped or corrupted (one to eight bits flipped) at a rate,
// drawn from a seeded generator so a failing run repeats; and the adapter's receive FIFO
// can be made small, so that bytes the program does not take in time overflow it and are
// lost, as on a line without flow control.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <limits>
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
  double DropRate = 0;     // chance that a board byte never arrives
  double CorruptRate = 0;  // chance that a board byte arrives with bits flipped
  std::uint32_t Seed = 1;
  // Bytes off the wire the adapter holds while the program's end takes no more.
  std::size_t ReceiveFifo = std::numeric_limits<std::size_t>::max();
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

  // Board bytes dropped (by DropBoardByte or DropRate), corrupted, and lost to a full FIFO.
  std::size_t Dropped() const { return dropped; }
  std::size_t Corrupted() const { return corrupted; }
  std::size_t Overflowed() const { return overflowed; }

private:
  void Run();

  LineModelShape shape;
  PtyPair program;
  PtyPair board;
  int boardFd = -1;
  int wakeFds[2] = {-1, -1};  // a byte here ends Run
  std::atomic<std::size_t> dropped{0}, corrupted{0}, overflowed{0};
  std::thread worker;
};

}  // namespace mirte::testing
