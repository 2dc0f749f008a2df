#pragma once
// A pseudo-terminal pair for serial tests: the test holds the master side and plays the
// board; the slave's path is what the program under test opens. The master must stay open
// for the slave to exist, so the pair lives as long as the test needs the device.
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace mirte::testing {

class PtyPair {
public:
  PtyPair();
  ~PtyPair();
  PtyPair(const PtyPair&) = delete;
  PtyPair& operator=(const PtyPair&) = delete;

  int master() const { return masterFd; }
  const std::string& slavePath() const { return path; }

  // Writes all bytes to the master (the board sending).
  void write(const std::vector<std::uint8_t>& bytes);
  void write(const std::string& text);
  // Reads exactly `count` bytes from the master, or fewer if `timeout` passes first.
  std::vector<std::uint8_t> read(std::size_t count, std::chrono::milliseconds timeout);
  // Reads whatever arrives until nothing more comes for `quiet`.
  std::vector<std::uint8_t> readUntilQuiet(std::chrono::milliseconds quiet);
  // Closes the master: the slave side sees the device go away.
  void closeMaster();

private:
  int masterFd = -1;
  int slaveFd = -1;  // kept open so the slave stays configurable until the program opens it
  std::string path;
};

}  // namespace mirte::testing
