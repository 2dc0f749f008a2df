// What a line-rate console costs the whole program: build/mirte is started as it is shipped
// (its own copy in a temporary program folder, the offscreen platform), with a board on a
// pseudo-terminal linked in as COM1, and the board sends console text. The CPU of the
// program (all threads, from /proc/PID/stat) is taken over each run, from the first byte
// until the program has answered a command frame sent after the last one, so every byte is
// processed and painted inside the window. Prints one line per run:
//   idle              nothing sent
//   115200_100B_10ms  100-byte bursts every 10 ms (about the line's 10,500 bytes/s)
//   1000_bursts_s     11-byte bursts every millisecond
//   full_speed_2MiB   2 MiB as fast as the pty takes it (wall time too)
// Usage: console_cpu_bench [path/to/mirte] [seconds per timed run, default 10]
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/pty_pair.h"
#include "support/temp_folder.h"

extern char** environ;

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

// User + system time of every thread the process has had, in seconds.
double ProcessCpuSeconds(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  std::getline(stat, line);
  // The command name may hold blanks; the fields start after its closing parenthesis.
  std::istringstream fields(line.substr(line.rfind(')') + 2));
  std::string field;
  unsigned long long utime = 0, stime = 0;
  for (int index = 3; fields >> field; ++index) {
    if (index == 14) utime = std::stoull(field);
    if (index == 15) {
      stime = std::stoull(field);
      break;
    }
  }
  return static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// DLE DC1 25: the board asks for its current drive and gets one byte back once the program
// has taken everything sent before it.
const std::string kSyncFrame = "\x10\x11\x19";

bool Sync(mirte::testing::PtyPair& board, std::chrono::milliseconds limit) {
  board.write(kSyncFrame);
  return board.read(1, limit).size() == 1;
}

// Console text: 78 printable characters and CR LF per line, so the screen scrolls.
std::string ConsoleText(std::size_t size) {
  std::string text;
  text.reserve(size);
  for (std::size_t line = 0; text.size() < size; ++line) {
    for (int column = 0; column < 78; ++column) text.push_back(static_cast<char>(' ' + (line * 7 + column) % 95));
    text += "\r\n";
  }
  text.resize(size);
  return text;
}

struct Run {
  double cpu = 0;
  double wall = 0;
};

// Writes `text` in bursts of `burst` bytes, one every `period`, for the given number of
// bursts (all of it as fast as possible when `period` is zero), then waits for the sync.
Run Send(pid_t pid, mirte::testing::PtyPair& board, const std::string& text, std::size_t burst,
         std::chrono::microseconds period) {
  const double cpuBefore = ProcessCpuSeconds(pid);
  const auto start = Clock::now();
  timespec next{};
  clock_gettime(CLOCK_MONOTONIC, &next);
  for (std::size_t offset = 0; offset < text.size(); offset += burst) {
    board.write(text.substr(offset, burst));
    if (period.count() == 0) continue;
    next.tv_nsec += static_cast<long>(period.count()) * 1000;
    while (next.tv_nsec >= 1000000000) {
      next.tv_nsec -= 1000000000;
      ++next.tv_sec;
    }
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, nullptr) == EINTR) {
    }
  }
  if (!Sync(board, 30s)) std::fprintf(stderr, "no answer after the run\n");
  Run run;
  run.wall = std::chrono::duration<double>(Clock::now() - start).count();
  run.cpu = ProcessCpuSeconds(pid) - cpuBefore;
  return run;
}

void Print(const char* name, const Run& run, std::size_t bytes) {
  std::printf("%-18s cpu %6.2f%% of a core  (%.3f s CPU in %.3f s, %zu bytes)\n", name,
              100.0 * run.cpu / run.wall, run.cpu, run.wall, bytes);
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char* argv[]) {
  fs::path program = argc > 1 ? fs::path(argv[1]) : fs::canonical("/proc/self/exe").parent_path().parent_path() / "mirte";
  const int seconds = argc > 2 ? std::atoi(argv[2]) : 10;
  if (!fs::exists(program)) {
    std::fprintf(stderr, "no program at %s\n", program.c_str());
    return 2;
  }

  mirte::testing::TempFolder folder;
  mirte::testing::PtyPair board;
  const fs::path copy = folder / "mirte";
  fs::copy_file(program, copy);
  fs::create_directory(folder / "dosdevices");
  fs::create_symlink(board.slavePath(), folder / "dosdevices" / "com1");

  std::vector<std::string> environment;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    std::string text = *entry;
    if (text.rfind("QT_QPA_PLATFORM=", 0) != 0 && text.rfind("HOME=", 0) != 0) environment.push_back(text);
  }
  environment.push_back("QT_QPA_PLATFORM=offscreen");
  environment.push_back("HOME=" + folder.path().string());  // the default working folder lands here
  std::vector<char*> envp;
  for (auto& text : environment) envp.push_back(text.data());
  envp.push_back(nullptr);
  std::string arg0 = copy.string();
  char* args[] = {arg0.data(), nullptr};
  pid_t pid = 0;
  if (posix_spawn(&pid, arg0.c_str(), nullptr, nullptr, args, envp.data()) != 0) {
    std::perror("posix_spawn");
    return 2;
  }

  std::fprintf(stderr, "program pid %d\n", static_cast<int>(pid));  // for perf -p
  // The program answers once its window is up and its port open.
  bool up = false;
  for (auto deadline = Clock::now() + 30s; !up && Clock::now() < deadline;) up = Sync(board, 300ms);
  if (!up) {
    std::fprintf(stderr, "the program never answered\n");
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    return 1;
  }
  board.readUntilQuiet(500ms);

  {
    const double before = ProcessCpuSeconds(pid);
    const auto start = Clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(seconds / 2 > 0 ? seconds / 2 : 1));
    Run idle{ProcessCpuSeconds(pid) - before, std::chrono::duration<double>(Clock::now() - start).count()};
    Print("idle", idle, 0);
  }
  {
    const std::size_t bursts = static_cast<std::size_t>(seconds) * 100;
    auto text = ConsoleText(bursts * 100);
    Print("115200_100B_10ms", Send(pid, board, text, 100, 10ms), text.size());
  }
  {
    const std::size_t bursts = static_cast<std::size_t>(seconds) * 1000;
    auto text = ConsoleText(bursts * 11);
    Print("1000_bursts_s", Send(pid, board, text, 11, 1ms), text.size());
  }
  {
    auto text = ConsoleText(2 * 1024 * 1024);
    Print("full_speed_2MiB", Send(pid, board, text, 4096, 0us), text.size());
  }

  kill(pid, SIGTERM);
  for (int i = 0; i < 50; ++i) {
    if (waitpid(pid, nullptr, WNOHANG) == pid) return 0;
    std::this_thread::sleep_for(100ms);
  }
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
  return 0;
}
