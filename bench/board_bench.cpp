// A board that writes a file of 1 MB to the PC record by record (type 21) and reads it back
// sequentially (type 20), over a pseudo-terminal and the real port. Reports records per
// second and the time from a frame's last byte to the first byte of its reply, less the
// mandated 5 ms (median, 99th percentile, maximum), and the shortest such time, which must
// never be under 5 ms. A last pass reads the file again without the wait, to show what the
// serial layer and the service themselves cost. The size in KB can be given as the first
// argument.
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "board_wire.h"
#include "in_process_board.h"

namespace {

using namespace mirte;
using Clock = std::chrono::steady_clock;
using Micros = std::chrono::duration<double, std::micro>;

using mirte::bench::Frame;
using mirte::bench::ReadExactly;
using mirte::bench::WriteAll;

struct TRun {
  const char* what;
  double mandatedMicros;  // the wait the service must keep before replying
  std::vector<double> latencies;  // microseconds from the frame's last byte to the first reply byte
  double seconds = 0;
  bool ok = true;
};

// The board's side of one transfer: open (or make) the file, move every record, close.
void RunBoard(int fd, bool writing, int records, TRun& run) {
  const std::string name = std::string("\0", 1) + "BENCH   DAT";
  std::uint8_t reply[129];
  auto simple = [&](std::uint8_t type) {
    return WriteAll(fd, Frame(type, name)) && ReadExactly(fd, reply, 1) && reply[0] == 0;
  };
  if (!simple(writing ? 22 : 15)) {
    run.ok = false;
    return;
  }
  std::string record(128, '\0');
  auto start = Clock::now();
  for (int i = 0; i < records; ++i) {
    for (int k = 0; k < 128; ++k) record[static_cast<std::size_t>(k)] = static_cast<char>(i + k);
    std::string frame = writing ? Frame(21, name) + record : Frame(20, name);
    // The clock is read before the last byte goes out, so that a board thread preempted
    // after its write can only make a reply look later, never sooner.
    if (!WriteAll(fd, frame.substr(0, frame.size() - 1))) break;
    auto lastByte = Clock::now();
    if (!WriteAll(fd, frame.substr(frame.size() - 1))) break;
    if (!ReadExactly(fd, reply, 1)) {
      run.ok = false;
      break;
    }
    run.latencies.push_back(Micros(Clock::now() - lastByte).count());
    bool recordIntact = writing || (ReadExactly(fd, reply + 1, 128) && reply[0] == 0 &&
                                    reply[1 + 5] == static_cast<std::uint8_t>(i + 5));
    if (!recordIntact) {
      run.ok = false;
      break;
    }
    if (writing && reply[0] != 0) {
      run.ok = false;
      break;
    }
  }
  run.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  if (!simple(16)) run.ok = false;
}

void Report(TRun& run) {
  auto& l = run.latencies;
  if (l.empty()) {
    std::printf("%-28s no records\n", run.what);
    return;
  }
  std::sort(l.begin(), l.end());
  auto at = [&](double q) { return l[std::min(l.size() - 1, static_cast<std::size_t>(q * static_cast<double>(l.size())))]; };
  const double wait = run.mandatedMicros;
  std::printf("%-34s %6zu records  %7.1f records/s  overhead beyond the wait: median %6.3f ms"
              "  p99 %6.3f ms  max %6.3f ms  shortest reply %6.3f ms%s\n",
              run.what, l.size(), static_cast<double>(l.size()) / run.seconds, (at(0.5) - wait) / 1000,
              (at(0.99) - wait) / 1000, (l.back() - wait) / 1000, l.front() / 1000, run.ok ? "" : "  FAILED");
}

}  // namespace

int main(int argc, char** argv) {
  int kilobytes = argc > 1 ? std::max(1, std::atoi(argv[1])) : 1024;
  int records = kilobytes * 1024 / 128;

  bench::TInProcessBoard pc;
  std::filesystem::create_directories(pc.rig.folder / "work");
  pc.service.FileService().SetWorkingFolder((pc.rig.folder / "work").string());

  // The third pass shows what the serial layer and the service cost without the wait.
  TRun runs[3] = {{"write (type 21)", 5000, {}, 0, true},
                  {"read (type 20)", 5000, {}, 0, true},
                  {"read (type 20) without the wait", 0, {}, 0, true}};
  for (int pass = 0; pass < 3; ++pass) {
    pc.service.SetReplyDelay(std::chrono::microseconds(static_cast<long>(runs[pass].mandatedMicros)));
    pc.Play([&](int fd) { RunBoard(fd, pass == 0, records, runs[pass]); }, std::chrono::minutes(10));
  }
  std::printf("board file service over a pty, %d KB in %d records of 128 bytes\n", kilobytes, records);
  for (auto& run : runs) Report(run);
  bool sound = runs[0].ok && runs[1].ok;
  for (auto& run : runs)
    if (!run.latencies.empty() && run.latencies.front() < run.mandatedMicros) sound = false;
  return sound ? 0 : 1;
}
