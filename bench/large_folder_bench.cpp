// The board's file commands in a folder of 100,000 files, beside the same commands in a
// folder of ten: open of a missing file, make, rename, delete and search first, each timed
// from the frame's last byte to the reply's last byte with the turn-around wait set to 0, and
// the records of a 100 KB file read by the alias of its long name and by a short name. The
// board is a thread on a pseudo-terminal and the PC side is the real port and file service,
// pumped as the main window pumps. The folders are made in the system's temporary folder
// (not /dev/shm: no drive may stand for a folder under /dev) and removed at the end.
// Usage: large_folder_bench [files, default 100000] [rounds, default 20] [program]
// Given a program (build/mirte), the same board is played against that program as a whole,
// started on the offscreen platform with its COM1 on the pseudo-terminal and the folder as
// its working folder: its figures include the board's mandated 5 ms wait.
// A record read stops after 10 s, so a slow reader still ends; its figure is per record.
#include <poll.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "board_wire.h"
#include "in_process_board.h"
#include "platform/dos_files.h"
#include "program_folder.h"
#include "support/pty_pair.h"
#include "support/temp_folder.h"

namespace {

using namespace mirte;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using Millis = std::chrono::duration<double, std::milli>;

using mirte::bench::Frame;
using mirte::bench::ReadExactly;
using mirte::bench::WriteAll;

// A slow tree takes seconds per command in such a folder: a reply given up on would be
// taken for the next one's, so the board waits up to two minutes.
constexpr auto kReplySilence = std::chrono::minutes(2);

constexpr int kFileKb = 100;
constexpr int kFileRecords = kFileKb * 1024 / 128;
constexpr auto kReadBudget = std::chrono::seconds(10);
const char* const kLongName = "Record test file.data";
const char* const kShortName = "RECORD.DAT";

// The name block of a name written with its dot, as a user names a file.
std::string NameBlock(const std::string& name) {
  const std::size_t dot = name.find('.');
  return mirte::bench::NameBlock(name.substr(0, dot), dot == std::string::npos ? "" : name.substr(dot + 1));
}

std::string Numbered(const char* format, int n) {
  char name[32];
  std::snprintf(name, sizeof name, format, n);
  return name;
}

std::string RecordBytes(int record) {
  std::string bytes(128, '\0');
  for (int k = 0; k < 128; ++k) bytes[static_cast<std::size_t>(k)] = static_cast<char>(record + k);
  return bytes;
}

// Every tenth file has a long name, so the folder's aliases are numbered in their thousands.
void MakeFolder(const fs::path& folder, int files) {
  fs::create_directories(folder);
  for (int i = 0; i < files; ++i) {
    std::string name = i % 10 == 9 ? Numbered("Long file %06d.text", i) : Numbered("F%07d.DAT", i);
    std::ofstream(folder / name).put('x');
  }
  for (const char* name : {kLongName, kShortName}) {
    std::ofstream out(folder / name, std::ios::binary);
    for (int r = 0; r < kFileRecords; ++r) out << RecordBytes(r);
  }
}

struct TTimes {
  std::vector<double> ms;
  bool ok = true;

  double At(double q) const {
    if (ms.empty()) return 0;
    std::vector<double> sorted = ms;
    std::sort(sorted.begin(), sorted.end());
    return sorted[std::min(sorted.size() - 1, static_cast<std::size_t>(q * static_cast<double>(sorted.size())))];
  }
};

enum TOp { OpenMissing, Make, Rename, Delete, SearchFirst, ReadByAlias, ReadByShortName, kOps };
const char* const kOpNames[kOps] = {"open of a missing file", "make",           "rename",
                                    "delete",                 "search first",   "record by alias",
                                    "record by short name"};

class TBoard {
public:
  explicit TBoard(int fd) : fd(fd) {}

  // Sends a frame and takes a reply of `size` bytes; the time runs from the frame's last
  // byte (read before it goes out, so a preempted thread only makes replies look later).
  // After a reply that never came the line is out of step: nothing more is asked.
  bool Call(const std::string& frame, std::size_t size, std::string& reply, double* ms = nullptr) {
    reply.clear();
    if (lost || !WriteAll(fd, frame.substr(0, frame.size() - 1))) return false;
    auto lastByte = Clock::now();
    reply.resize(size);
    lost = !WriteAll(fd, frame.substr(frame.size() - 1)) ||
           !ReadExactly(fd, reinterpret_cast<std::uint8_t*>(reply.data()), size, kReplySilence);
    if (lost) return false;
    if (ms) *ms = Millis(Clock::now() - lastByte).count();
    return true;
  }
  // A one-byte reply, timed into `times`, that must be `expected`.
  void Simple(std::uint8_t type, const std::string& params, int expected, TTimes* times = nullptr) {
    std::string reply;
    double ms = 0;
    bool ok = Call(Frame(type, params), 1, reply, &ms) && static_cast<std::uint8_t>(reply[0]) == expected;
    if (!ok && !failed)
      std::fprintf(stderr, "type %d answered %d\n", type, reply.empty() ? -1 : static_cast<std::uint8_t>(reply[0]));
    if (times) {
      times->ms.push_back(ms);
      times->ok = times->ok && ok;
    }
    failed = failed || !ok;
  }

  void Rounds(int rounds, TTimes (&times)[kOps]) {
    for (int i = 0; i < rounds; ++i) {
      std::string made = NameBlock(Numbered("NEW%05d.DAT", i));
      std::string renamed = NameBlock(Numbered("REN%05d.DAT", i));
      Simple(15, NameBlock(Numbered("MISS%04d.DAT", i)), 255, &times[OpenMissing]);
      Simple(22, made, 0, &times[Make]);
      Simple(16, made, 0);
      Simple(23, made + renamed.substr(1), 0, &times[Rename]);
      Simple(19, renamed, 0, &times[Delete]);
      std::string reply;
      double ms = 0;
      bool ok = Call(Frame(17, NameBlock("????????.???")), 13, reply, &ms) && static_cast<std::uint8_t>(reply[0]) < 4;
      times[SearchFirst].ms.push_back(ms);
      times[SearchFirst].ok = times[SearchFirst].ok && ok;
    }
  }

  void ReadFile(const std::string& name, TTimes& times) {
    std::string block = NameBlock(name);
    Simple(15, block, 0);
    auto start = Clock::now();
    std::string reply;
    for (int r = 0; r < kFileRecords && Clock::now() - start < kReadBudget; ++r) {
      double ms = 0;
      bool ok = Call(Frame(20, block), 129, reply, &ms) && reply[0] == 0 && reply.substr(1) == RecordBytes(r);
      times.ms.push_back(ms);
      if (!ok) {
        times.ok = false;
        break;
      }
    }
    Simple(16, block, 0);
  }

  bool failed = false;

private:
  int fd;
  bool lost = false;
};

fs::path BenchRoot() {
  std::string pattern = fs::temp_directory_path() / "mirte-large-XXXXXX";
  if (!mkdtemp(pattern.data())) return {};
  return pattern;
}

// The program as a whole in a program folder of its own (a copy of it, its settings, its
// dosdevices/com1 the pseudo-terminal), serving `work`. Ended and waited for on destruction.
class TProgramRun {
public:
  TProgramRun(const fs::path& program, const fs::path& work)
      : pid(mirte::bench::StartQuietly(mirte::bench::MakeProgramFolder(folder.path(), program, pty.slavePath(), work))) {}
  ~TProgramRun() { mirte::bench::EndProgram(pid); }
  int Board() const { return pty.master(); }
  long ResidentKb() const { return mirte::bench::ResidentKb(pid); }
  // The splash and the port's opening take a while: asks for the current drive until the
  // program answers, then lets stray answers die away.
  bool WaitUntilServing() {
    for (int i = 0; i < 120; ++i) {
      if (!WriteAll(pty.master(), std::string("\x10\x11\x19"))) return false;
      // Until the program opens its end, the master only hangs up.
      pollfd p{pty.master(), POLLIN, 0};
      char drain[256];
      if (::poll(&p, 1, 250) > 0 && ::read(pty.master(), drain, sizeof drain) > 0) {
        while (::poll(&p, 1, 300) > 0 && ::read(pty.master(), drain, sizeof drain) > 0) {
        }
        return true;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return false;
  }

private:
  testing::TempFolder folder;
  testing::PtyPair pty;
  pid_t pid = -1;
};

void Report(const char* folder, TTimes (&times)[kOps]) {
  for (int op = 0; op < kOps; ++op) {
    const TTimes& t = times[op];
    std::printf("%-10s %-24s %5zu  median %8.3f ms  p90 %8.3f ms  max %8.3f ms%s\n", folder, kOpNames[op], t.ms.size(),
                t.At(0.5), t.At(0.9), t.ms.empty() ? 0.0 : *std::max_element(t.ms.begin(), t.ms.end()),
                t.ok ? "" : "  FAILED");
  }
}

}  // namespace

int main(int argc, char** argv) {
  int files = argc > 1 ? std::max(10, std::atoi(argv[1])) : 100000;
  int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 20;
  const fs::path program = argc > 3 ? fs::path(argv[3]) : fs::path();

  fs::path root = BenchRoot();
  if (root.empty()) {
    std::perror("large_folder_bench: no temporary folder");
    return 2;
  }
  auto made = Clock::now();
  MakeFolder(root / "small", 10);
  MakeFolder(root / "large", files);
  std::printf("folders in %s: 10 and %d files (every tenth a long name), made in %.1f s\n", root.c_str(), files,
              std::chrono::duration<double>(Clock::now() - made).count());

  bool sound = true;
  auto play = [&](const char* which, int fd) {
    const std::string alias = ShortFileName((root / which / kLongName).string());
    std::printf("alias of \"%s\" in %s: %s\n", kLongName, which, alias.c_str());
    TTimes times[kOps];
    TBoard board(fd);
    board.Rounds(rounds, times);
    board.ReadFile(alias, times[ReadByAlias]);
    board.ReadFile(kShortName, times[ReadByShortName]);
    Report(which, times);
    for (const TTimes& t : times) sound = sound && t.ok;
    sound = sound && !board.failed;
  };
  if (!program.empty()) {
    std::printf("the whole program, %s\n", program.c_str());
    for (const char* which : {"small", "large"}) {
      TProgramRun run(program, root / which);
      if (!run.WaitUntilServing()) {
        std::fprintf(stderr, "the program did not answer on its line\n");
        return 1;
      }
      play(which, run.Board());
      std::printf("%s: program resident %ld kB\n", which, run.ResidentKb());
    }
    std::error_code ignored;
    fs::remove_all(root, ignored);
    return sound ? 0 : 1;
  }

  bench::TInProcessBoard pc;
  pc.service.SetReplyDelay(std::chrono::microseconds(0));
  for (const char* which : {"small", "large"}) {
    pc.service.FileService().SetWorkingFolder((root / which).string());
    pc.Play([&](int fd) { play(which, fd); }, std::chrono::minutes(30));
  }
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  std::printf("%d KB file, reads stop after %lld s; peak memory %.1f MB\n", kFileKb, static_cast<long long>(kReadBudget.count()),
              static_cast<double>(usage.ru_maxrss) / 1024);
  std::error_code ignored;
  fs::remove_all(root, ignored);
  return sound ? 0 : 1;
}
