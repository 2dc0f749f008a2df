#pragma once
// What the modem-line shim counted in a process, laid out as the shim keeps it in its tally
// file, and a reader for that file. A file without the Loaded mark, or no file, means the
// shim never loaded into the program.
#include <atomic>
#include <cstdint>
#include <fstream>
#include <optional>
#include <string>

namespace mirte::testing {

struct TModemLineTally {
  static constexpr std::uint64_t Loaded = 0x4d4f44454d4c4e53ULL;
  std::uint64_t Magic = 0;
  std::atomic<std::int64_t> Changes{0};      // TIOCMSET/TIOCMBIS/TIOCMBIC answered
  std::atomic<std::int64_t> BusyNs{0};       // time those calls were made to wait
  std::atomic<std::int64_t> StatusReads{0};  // TIOCMGET answered
};

struct TModemLineCounts {
  std::int64_t Changes = 0;
  std::int64_t BusyNs = 0;
  std::int64_t StatusReads = 0;
};

// The counts in a tally file, or nothing when the shim did not make the file.
inline std::optional<TModemLineCounts> ReadModemLineTally(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::int64_t fields[4] = {};
  if (!file.read(reinterpret_cast<char*>(fields), sizeof fields)) return std::nullopt;
  if (static_cast<std::uint64_t>(fields[0]) != TModemLineTally::Loaded) return std::nullopt;
  return TModemLineCounts{fields[1], fields[2], fields[3]};
}

}  // namespace mirte::testing
