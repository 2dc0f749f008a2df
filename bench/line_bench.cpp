// The whole program serving a board through a modelled serial line and USB adapter: the
// program's COM1 is the program end of a LineModel, and the modem-line shim is preloaded
// into it so that every DTR change costs what it costs on an adapter. For each line shape
// (plain, 16 ms latency timer, 1 ms latency timer) and each DTR change cost (0, 250,
// 1000 us) a fresh program is started and measured on
//   - a file copy as a copying tool does it: open, record reads, make, record writes,
//     close; the time for the whole copy, checked against the file it leaves;
//   - console text sent at once, which the line paces to its rate, followed by a frame
//     with a reply: bytes per second, and how far the reply comes after the line's own
//     time for the text (the backlog the program leaves behind).
//
//   line_bench [records (64)] [console bytes (20000)] [program (build/mirte)]
//
// A program named mirte-serve is started with its settings file on the command line.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "board_wire.h"
#include "common/settings.h"
#include "support/line_model.h"
#include "support/temp_folder.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using Bytes = std::string;
using mirte::bench::Frame;

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

// Reads exactly `count` bytes from the board's end; fewer when `limit` passes without them.
Bytes Receive(int fd, std::size_t count, std::chrono::milliseconds limit) {
  Bytes got;
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

// The built program in a folder of its own with the shim preloaded, its COM1 the line's
// program end. Ended (and waited for) on destruction.
class TProgramRun {
public:
  TProgramRun(const fs::path& program, const std::string& linePath, long changeCostUs) {
    const bool serve = program.filename() == "mirte-serve";
    const fs::path copy = folder / program.filename();
    fs::copy_file(program, copy);
    fs::create_directory(folder / "dosdevices");
    fs::create_symlink(linePath, folder / "dosdevices" / "com1");
    fs::create_directory(Work());

    mirte::TSettings settings;
    settings.ProgramFolder = folder.path().string() + "/";
    settings.SettingsPath = (folder / "mirte.SET").string();
    settings.SetDefaultSettings();
    settings.Rec.ComNumber = 1;
    settings.SetWorkFolder(Work().string());
    settings.SaveSettings();

    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    setenv("LD_PRELOAD", MIRTE_MODEM_LINE_SHIM, 1);
    setenv("MIRTE_MODEM_CHANGE_US", std::to_string(changeCostUs).c_str(), 1);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    const std::string path = copy.string();
    std::string settingsFile = settings.SettingsPath;
    std::string settingsOption = "--settings";
    char* argv[] = {const_cast<char*>(path.c_str()), serve ? settingsOption.data() : nullptr,
                    serve ? settingsFile.data() : nullptr, nullptr};
    if (posix_spawn(&pid, path.c_str(), &actions, nullptr, argv, environ) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    // Only the program is to pay for modem-line changes, not this process's own ptys.
    unsetenv("LD_PRELOAD");
  }

  ~TProgramRun() {
    if (pid <= 0) return;
    ::kill(pid, SIGTERM);
    for (int i = 0; i < 300; ++i) {
      if (::waitpid(pid, nullptr, WNOHANG) == pid) return;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
  }

  bool Started() const { return pid > 0; }
  fs::path Work() const { return folder / "work"; }

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

Bytes NameBlock(const std::string& name, const std::string& ext) {
  Bytes block(12, ' ');
  block[0] = '\0';
  block.replace(1, name.size(), name);
  block.replace(9, ext.size(), ext);
  return block;
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
};

// Console text at once, then a current-drive frame; the line's own time for text and frame
// is taken off the time to the reply.
TConsoleFigures ConsoleAtLineRate(mirte::testing::LineModel& line, int bytes, double byteSeconds) {
  Bytes text;
  while (static_cast<int>(text.size()) < bytes) text += "THE QUICK BROWN FOX JUMPS OVER THE LAZY DOG 0123456789\r\n";
  text.resize(static_cast<std::size_t>(bytes));
  const auto start = Clock::now();
  line.BoardWrite(text + Frame(25, ""));
  if (Receive(line.BoardEnd(), 1, std::chrono::seconds(60)).size() != 1) return {};
  const double seconds = Seconds(Clock::now() - start);
  return {bytes / seconds, (seconds - (bytes + 3 + 1) * byteSeconds) * 1000};
}

double LoadAverage() {
  double load[1] = {0};
  return getloadavg(load, 1) == 1 ? load[0] : -1;
}

}  // namespace

int main(int argc, char* argv[]) {
  const int records = argc > 1 ? std::max(1, std::atoi(argv[1])) : 64;
  const int consoleBytes = argc > 2 ? std::max(1, std::atoi(argv[2])) : 20000;
  fs::path program = argc > 3 ? fs::path(argv[3]) : fs::path(MIRTE_PROGRAM);
  if (program == "serve") program = MIRTE_SERVE_PROGRAM;

  struct Shape {
    const char* Name;
    std::chrono::microseconds Latency;
  };
  const Shape shapes[] = {{"plain line", std::chrono::microseconds(0)},
                          {"latency 16 ms", std::chrono::milliseconds(16)},
                          {"latency 1 ms", std::chrono::milliseconds(1)}};
  const long costs[] = {0, 250, 1000};

  std::printf("%s, copy of %d records, %d console bytes, load average at start %.2f\n", program.filename().c_str(),
              records, consoleBytes, LoadAverage());
  std::printf("%-14s %8s %10s %12s %12s\n", "line", "DTR us", "copy s", "console B/s", "backlog ms");
  for (const Shape& shape : shapes) {
    for (long cost : costs) {
      mirte::testing::LineModelShape lineShape;
      lineShape.LatencyTimer = shape.Latency;
      mirte::testing::LineModel line(lineShape);
      TProgramRun run(program, line.ProgramPath(), cost);
      if (!run.Started() || !WaitUntilServing(line, std::chrono::seconds(30))) {
        std::printf("%-14s %8ld  the program did not answer on its line\n", shape.Name, cost);
        continue;
      }
      const double byteSeconds = static_cast<double>(lineShape.BitsPerByte) / lineShape.Baud;
      const double copy = CopySeconds(line, run.Work(), records);
      const TConsoleFigures console = ConsoleAtLineRate(line, consoleBytes, byteSeconds);
      char copyText[32];
      if (copy >= 0) std::snprintf(copyText, sizeof copyText, "%.3f", copy);
      else std::snprintf(copyText, sizeof copyText, "%s", copy == -1 ? "failed" : "wrong file");
      std::printf("%-14s %8ld %10s %12.0f %12.1f\n", shape.Name, cost, copyText, console.BytesPerSecond,
                  console.BacklogMs);
      std::fflush(stdout);
    }
  }
  std::printf("the line carries %.0f B/s; load average at end %.2f\n", 115200.0 / 11, LoadAverage());
  return 0;
}
