// The whole program serving a board through a modelled serial line and USB adapter: the
// program's COM1 is the program end of a LineModel, and the modem-line shim is preloaded
// into it so that every DTR change costs what it costs on an adapter. For each line shape
// (plain, 16 ms latency timer, 1 ms latency timer) and each DTR change cost (0, 250,
// 1000 us) a fresh program is started and measured on
//   - a file copy as a copying tool does it: open, record reads, make, record writes,
//     close; the time for the whole copy, checked against the file it leaves;
//   - console text sent at once, which the line paces to its rate, followed by a frame
//     with a reply: bytes per second, and how far the reply comes after the line's own
//     time for the text (the backlog the program leaves behind), and the bytes the
//     adapter's FIFO lost because the program did not take them in time. A "reader" row
//     for each line gives the loss of a thread that does nothing but read: the floor.
// Beside each figure the modem-line changes the shim made and the time they cost, read from
// the shim's tally file: a program the shim did not load into ends the run with an error,
// since its figures would be those of a line whose changes are free.
//
//   line_bench [records (608)] [console bytes (30000)] [program (build/mirte)]
//              [lines: a part of their names, "all" (all)] [DTR costs in us (0,250,1000)]
//              [rounds (1)]
// With more than one round the lines and costs take turns, round after round, so a busy
// spell of the machine falls on all of them, and the medians of the copy times end the
// table beside the DTR-free median of their line.
//
// A program named mirte-serve is started with its settings file on the command line.
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "board_wire.h"
#include "common/settings.h"
#include "program_folder.h"
#include "support/line_model.h"
#include "support/modem_line_tally.h"
#include "support/temp_folder.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using Bytes = std::string;
using mirte::bench::Frame;
using mirte::bench::NameBlock;
using mirte::bench::Receive;

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

// The built program in a folder of its own with the shim preloaded, its COM1 the line's
// program end. Ended (and waited for) on destruction.
class TProgramRun {
public:
  TProgramRun(const fs::path& program, const std::string& linePath, long changeCostUs) {
    fs::create_directory(Work());
    const mirte::bench::TProgramFolder made = mirte::bench::MakeProgramFolder(folder.path(), program, linePath, Work());
    setenv("LD_PRELOAD", MIRTE_MODEM_LINE_SHIM, 1);
    setenv("MIRTE_MODEM_CHANGE_US", std::to_string(changeCostUs).c_str(), 1);
    setenv("MIRTE_MODEM_TALLY", TallyPath().c_str(), 1);
    pid = mirte::bench::StartQuietly(made);
    // Only the program is to pay for modem-line changes, not this process's own ptys.
    unsetenv("LD_PRELOAD");
    unsetenv("MIRTE_MODEM_TALLY");
  }

  ~TProgramRun() { mirte::bench::EndProgram(pid); }

  bool Started() const { return pid > 0; }
  // CPU seconds the program has used so far, all its threads together.
  double CpuSeconds() const {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    // Fields after the command's closing parenthesis: state is the 3rd, utime the 14th.
    std::stringstream fields(text.substr(text.rfind(')') + 2));
    std::string field;
    double ticks = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i)
      if (i >= 14) ticks += std::atof(field.c_str());
    return ticks / static_cast<double>(sysconf(_SC_CLK_TCK));
  }
  fs::path Work() const { return folder / "work"; }
  std::string TallyPath() const { return (folder / "modem_lines.tally").string(); }

private:
  mirte::testing::TempFolder folder;
  pid_t pid = -1;
};

// Waits until the program answers on the line, then lets stray replies to the probes die away.
bool WaitUntilServing(mirte::testing::LineModel& line, std::chrono::seconds limit) {
  const auto deadline = Clock::now() + limit;
  while (Clock::now() < deadline) {
    line.BoardWrite(Frame(25, ""));
    if (!Receive(line.BoardEnd(), 1, std::chrono::milliseconds(250)).empty()) {
      line.BoardReadUntilQuiet(std::chrono::milliseconds(300));
      return true;
    }
  }
  return false;
}

// One exchange: false when the reply is short or its result byte is not zero.
bool Exchange(mirte::testing::LineModel& line, const Bytes& frame, std::size_t replyLength) {
  line.BoardWrite(frame);
  const Bytes reply = Receive(line.BoardEnd(), replyLength, std::chrono::milliseconds(3000));
  return reply.size() == replyLength && reply[0] == 0;
}

// Seconds for the copy, or a negative figure when it failed or left the wrong file.
double CopySeconds(mirte::testing::LineModel& line, const fs::path& work, int records) {
  Bytes source;
  for (int i = 0; i < records * 128; ++i) source += static_cast<char>('A' + (i * 7) % 26);
  std::ofstream(work / "SRC.DAT", std::ios::binary) << source;
  const Bytes from = NameBlock("SRC", "DAT"), to = NameBlock("DST", "DAT");
  const auto start = Clock::now();
  if (!Exchange(line, Frame(15, from), 1)) return -1;
  for (int i = 0; i < records; ++i)
    if (!Exchange(line, Frame(20, from), 129)) return -1;
  if (!Exchange(line, Frame(22, to), 1)) return -1;
  for (int i = 0; i < records; ++i)
    if (!Exchange(line, Frame(21, to) + source.substr(static_cast<std::size_t>(i) * 128, 128), 1)) return -1;
  if (!Exchange(line, Frame(16, to), 1)) return -1;
  const double seconds = Seconds(Clock::now() - start);
  std::ifstream copied(work / "DST.DAT", std::ios::binary);
  const Bytes written((std::istreambuf_iterator<char>(copied)), std::istreambuf_iterator<char>());
  return written == source ? seconds : -2;
}

struct TConsoleFigures {
  double BytesPerSecond = 0;
  double BacklogMs = -1;
  double BacklogGrowth = -1;  // bytes a second the program fell behind the line
};

// Seconds from handing over a current-drive frame to its reply, less the line's own time for
// both: the program's turnaround with nothing queued before the frame. The least of a few,
// so a moment of a busy machine does not count as backlog later.
double Turnaround(mirte::testing::LineModel& line, double byteSeconds) {
  double least = 1e9;
  for (int i = 0; i < 5; ++i) {
    const auto start = Clock::now();
    line.BoardWrite(Frame(25, ""));
    if (Receive(line.BoardEnd(), 1, std::chrono::seconds(3)).size() != 1) return -1;
    least = std::min(least, Seconds(Clock::now() - start) - 4 * byteSeconds);
  }
  return least;
}

// Console text at once, then a current-drive frame. The reply comes after the line's time
// for text and frame and the program's turnaround; what is later still is the backlog the
// text left behind, grown over the time the text took.
TConsoleFigures ConsoleAtLineRate(mirte::testing::LineModel& line, int bytes, double byteSeconds) {
  const double turnaround = Turnaround(line, byteSeconds);
  if (turnaround < 0) return {};
  Bytes text;
  while (static_cast<int>(text.size()) < bytes) text += "THE QUICK BROWN FOX JUMPS OVER THE LAZY DOG 0123456789\r\n";
  text.resize(static_cast<std::size_t>(bytes));
  const auto start = Clock::now();
  line.BoardWrite(text + Frame(25, ""));
  if (Receive(line.BoardEnd(), 1, std::chrono::seconds(120)).size() != 1) return {};
  const double seconds = Seconds(Clock::now() - start);
  const double lineSeconds = (bytes + 3 + 1) * byteSeconds;
  const double backlog = std::max(0.0, seconds - lineSeconds - turnaround);
  return {bytes / seconds, backlog * 1000, backlog / byteSeconds / lineSeconds};
}

// The peer beside the console figures: the same text through the same line to a thread that
// does nothing but read the program's end. What it loses, the machine loses (the kernel's
// own work of moving bytes to a reader, starved on a loaded machine), not the program.
std::size_t BareReaderLost(const mirte::testing::LineModelShape& shape, int bytes, double byteSeconds) {
  mirte::testing::LineModel line(shape);
  const int fd = ::open(line.ProgramPath().c_str(), O_RDWR | O_NOCTTY);
  if (fd < 0) return 0;
  termios raw{};
  ::tcgetattr(fd, &raw);
  ::cfmakeraw(&raw);
  ::tcsetattr(fd, TCSANOW, &raw);
  std::atomic<bool> stop{false};
  std::thread reader([&] {
    char buffer[4096];
    while (!stop) {
      pollfd ready{fd, POLLIN, 0};
      if (::poll(&ready, 1, 50) > 0 && ::read(fd, buffer, sizeof buffer) < 0) break;
    }
  });
  line.BoardWrite(Bytes(static_cast<std::size_t>(bytes), 'x'));
  std::this_thread::sleep_for(std::chrono::duration<double>(bytes * byteSeconds + 0.5));
  stop = true;
  reader.join();
  ::close(fd);
  return line.Overflowed();
}

double LoadAverage() {
  double load[1] = {0};
  return getloadavg(load, 1) == 1 ? load[0] : -1;
}

}  // namespace

// An adapter's own buffer; the pty in front of the program holds far more.
constexpr std::size_t kAdapterFifo = 512;

int main(int argc, char* argv[]) {
  const int records = argc > 1 ? std::max(1, std::atoi(argv[1])) : 608;
  const int consoleBytes = argc > 2 ? std::max(1, std::atoi(argv[2])) : 30000;
  fs::path program = argc > 3 ? fs::path(argv[3]) : fs::path(MIRTE_PROGRAM);
  if (program == "serve") program = MIRTE_SERVE_PROGRAM;

  struct Shape {
    const char* Name;
    std::chrono::microseconds Latency;
  };
  const Shape shapes[] = {{"plain line", std::chrono::microseconds(0)},
                          {"latency 16 ms", std::chrono::milliseconds(16)},
                          {"latency 1 ms", std::chrono::milliseconds(1)}};
  const std::string lineFilter = argc > 4 && std::string(argv[4]) != "all" ? argv[4] : "";
  std::vector<long> costs;
  for (std::stringstream list(argc > 5 ? argv[5] : "0,250,1000"); list.good();) {
    std::string cost;
    std::getline(list, cost, ',');
    if (!cost.empty()) costs.push_back(std::atol(cost.c_str()));
  }

  std::printf("%s, copy of %d records, %d console bytes, load average at start %.2f\n", program.filename().c_str(),
              records, consoleBytes, LoadAverage());
  std::printf("%-14s %6s | %8s %8s %8s | %8s %8s %8s %6s %8s %8s %6s\n", "line", "DTR us", "copy s", "changes",
              "busy s", "cons B/s", "lag ms", "lag B/s", "lost", "changes", "busy s", "cpu %");
  const int rounds = argc > 6 ? std::max(1, std::atoi(argv[6])) : 1;
  std::map<std::pair<std::string, long>, std::vector<double>> copies;
  int failures = 0;
  for (int round = 0; round < rounds; ++round)
  for (const Shape& shape : shapes) {
    if (std::string(shape.Name).find(lineFilter) == std::string::npos) continue;
    {
      mirte::testing::LineModelShape lineShape;
      lineShape.LatencyTimer = shape.Latency;
      lineShape.ReceiveFifo = kAdapterFifo;
      const double byteSeconds = static_cast<double>(lineShape.BitsPerByte) / lineShape.Baud;
      std::printf("%-14s %6s | %8s %8s %8s | %8s %8s %8s %6zu\n", shape.Name, "reader", "", "", "", "", "", "",
                  BareReaderLost(lineShape, consoleBytes, byteSeconds));
    }
    for (long cost : costs) {
      mirte::testing::LineModelShape lineShape;
      lineShape.LatencyTimer = shape.Latency;
      lineShape.ReceiveFifo = kAdapterFifo;
      mirte::testing::LineModel line(lineShape);
      TProgramRun run(program, line.ProgramPath(), cost);
      if (!run.Started() || !WaitUntilServing(line, std::chrono::seconds(30))) {
        std::printf("%-14s %6ld   the program did not answer on its line\n", shape.Name, cost);
        ++failures;
        continue;
      }
      const auto atStart = mirte::testing::ReadModemLineTally(run.TallyPath());
      if (!atStart) {
        std::fprintf(stderr, "line_bench: the modem-line shim did not load into %s (no tally in %s)\n",
                     program.c_str(), run.TallyPath().c_str());
        return 2;
      }
      const double byteSeconds = static_cast<double>(lineShape.BitsPerByte) / lineShape.Baud;
      const double copy = CopySeconds(line, run.Work(), records);
      const auto afterCopy = mirte::testing::ReadModemLineTally(run.TallyPath()).value_or(*atStart);
      const double cpuBefore = run.CpuSeconds();
      const auto consoleStart = Clock::now();
      const TConsoleFigures console = ConsoleAtLineRate(line, consoleBytes, byteSeconds);
      const double cpuShare = (run.CpuSeconds() - cpuBefore) / Seconds(Clock::now() - consoleStart) * 100;
      const auto afterConsole = mirte::testing::ReadModemLineTally(run.TallyPath()).value_or(afterCopy);

      const auto changes = [](const mirte::testing::TModemLineCounts& from, const mirte::testing::TModemLineCounts& to) {
        return static_cast<long long>(to.Changes - from.Changes);
      };
      const auto busy = [](const mirte::testing::TModemLineCounts& from, const mirte::testing::TModemLineCounts& to) {
        return static_cast<double>(to.BusyNs - from.BusyNs) / 1e9;
      };
      // Changes that cost less than they should would make every figure here a flattering one.
      const double owed = static_cast<double>(afterConsole.Changes - atStart->Changes) * static_cast<double>(cost) / 1e6;
      if (busy(*atStart, afterConsole) < 0.9 * owed) {
        std::fprintf(stderr, "line_bench: %lld changes cost %.3f s, not the %.3f s they should\n",
                     changes(*atStart, afterConsole), busy(*atStart, afterConsole), owed);
        ++failures;
      }
      char copyText[32];
      if (copy >= 0) std::snprintf(copyText, sizeof copyText, "%.3f", copy);
      else std::snprintf(copyText, sizeof copyText, "%s", copy == -1 ? "failed" : "wrong");
      if (copy < 0 || console.BacklogMs < 0) ++failures;
      else copies[{shape.Name, cost}].push_back(copy);
      std::printf("%-14s %6ld | %8s %8lld %8.3f | %8.0f %8.1f %8.0f %6zu %8lld %8.3f %6.1f\n", shape.Name, cost,
                  copyText, changes(*atStart, afterCopy), busy(*atStart, afterCopy), console.BytesPerSecond,
                  console.BacklogMs, console.BacklogGrowth, line.Overflowed(), changes(afterCopy, afterConsole),
                  busy(afterCopy, afterConsole), cpuShare);
      std::fflush(stdout);
    }
  }
  if (rounds > 1) {
    const auto median = [](std::vector<double> values) {
      std::sort(values.begin(), values.end());
      return values[values.size() / 2];
    };
    std::printf("median copy over %d rounds:\n", rounds);
    for (const auto& [key, values] : copies) {
      const auto free = copies.find({key.first, 0});
      const double m = median(values);
      if (free == copies.end()) std::printf("%-14s %6ld | %8.3f\n", key.first.c_str(), key.second, m);
      else std::printf("%-14s %6ld | %8.3f  %+.1f%% against DTR free\n", key.first.c_str(), key.second, m,
                       (m / median(free->second) - 1) * 100);
    }
  }
  std::printf("the line carries %.0f B/s; load average at end %.2f\n", 115200.0 / 11, LoadAverage());
  return failures == 0 ? 0 : 1;
}
