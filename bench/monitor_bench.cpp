// What the board monitor costs the board: the whole program (main window offscreen, its
// port on a pseudo-terminal board reached as COM1 through dosdevices/) serves a board that
// reads a file record by record (type 20), in rounds that alternate between the monitor
// closed and the monitor open. Prints records per second for each state (median of the
// rounds) and the difference, with the 5 ms reply wait and once more without it, where
// the monitor's own share of a frame shows most. On a loaded machine wall time is noisy,
// so the process's CPU time per record (the board's thread included, the same in both
// states) is printed too. Then the same for list output: a listing of list characters
// (type 5) sent at once, fenced by a current-drive frame whose reply ends the round.
// Arguments: records per round (50), rounds per state (15), list characters per round
// (20000).
#include <poll.h>
#include <sys/resource.h>
#include <unistd.h>

#include <QApplication>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "board_wire.h"
#include "app/monitor_form.h"
#include "app/term_form.h"
#include "board/board_service.h"
#include "common/settings.h"
#include "support/pty_pair.h"
#include "support/temp_folder.h"

namespace {

using Clock = std::chrono::steady_clock;

using mirte::bench::Frame;
using mirte::bench::ReadExactly;
using mirte::bench::WriteAll;

// The board's side of one round: open, read `records` records, close. Records per second
// of the reads, or a negative number when the exchange went wrong.
double ReadRound(int fd, int records) {
  const std::string name = std::string("\0", 1) + "BENCH   DAT";
  std::uint8_t reply[129];
  if (!WriteAll(fd, Frame(15, name)) || !ReadExactly(fd, reply, 1) || reply[0] != 0) return -1;
  const auto start = Clock::now();
  for (int i = 0; i < records; ++i)
    if (!WriteAll(fd, Frame(20, name)) || !ReadExactly(fd, reply, 129) || reply[0] != 0) return -1;
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  if (!WriteAll(fd, Frame(16, name)) || !ReadExactly(fd, reply, 1)) return -1;
  return records / seconds;
}

// The board's side of a listing round: list characters per second, negative when the
// fence got no answer.
double ListRound(int fd, int characters) {
  std::string listing;
  for (int i = 0; i < characters; ++i) {
    const char ch = i % 64 == 63 ? '\n' : static_cast<char>('A' + i % 26);
    listing += Frame(5, std::string(1, ch));
  }
  listing += Frame(25, "");
  std::uint8_t reply[1];
  const auto start = Clock::now();
  if (!WriteAll(fd, listing) || !ReadExactly(fd, reply, 1)) return -1;
  return characters / std::chrono::duration<double>(Clock::now() - start).count();
}

// Runs the board's round in a thread of its own while the program's event loop serves it.
template <typename Round>
double ServeRound(Round round) {
  std::atomic<bool> done{false};
  double rate = -1;
  std::thread boardSide([&] {
    rate = round();
    done = true;
  });
  QEventLoop loop;
  QTimer check;
  QObject::connect(&check, &QTimer::timeout, &loop, [&] {
    if (done) loop.quit();
  });
  check.start(20);
  loop.exec();
  boardSide.join();
  return rate;
}

double CpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values.empty() ? 0 : values[values.size() / 2];
}

// Medians of the rounds in each state: units (records, characters) per second and CPU
// microseconds per unit.
struct TStates {
  double Closed, Open, ClosedCpu, OpenCpu;
};

// Rounds that alternate between the monitor closed and open; `sound` turns false when a
// round went wrong.
template <typename Round>
TStates Alternate(mirte::TTermFrm& frm, int rounds, int units, bool& sound, Round round) {
  std::vector<double> closed, open, closedCpu, openCpu;
  for (int i = 0; i < 2 * rounds; ++i) {
    const bool watching = i % 2 == 1;
    if (watching) {
      frm.MonitorCmd->trigger();
    } else if (frm.MonitorFrm()) {
      frm.MonitorFrm()->close();
    }
    QApplication::processEvents();
    const double cpuBefore = CpuSeconds();
    const double rate = ServeRound(round);
    const double cpuMicros = 1e6 * (CpuSeconds() - cpuBefore) / units;
    if (rate < 0) sound = false;
    (watching ? open : closed).push_back(rate);
    (watching ? openCpu : closedCpu).push_back(cpuMicros);
  }
  return {Median(closed), Median(open), Median(closedCpu), Median(openCpu)};
}

}  // namespace

int main(int argc, char* argv[]) {
  const int records = argc > 1 ? std::max(10, std::atoi(argv[1])) : 50;
  const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 15;
  const int characters = argc > 3 ? std::max(100, std::atoi(argv[3])) : 20000;
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  mirte::testing::TempFolder folder;
  mirte::testing::PtyPair board;
  std::filesystem::create_directory(folder / "dosdevices");
  std::filesystem::create_symlink(board.slavePath(), folder / "dosdevices" / "com1");

  {
    // COM1 and the temporary folder as working folder, where the file to read lies.
    mirte::TSettings settings;
    settings.ProgramFolder = folder.path().string() + "/";
    settings.SetDefaultSettings();
    settings.Rec.ComNumber = 1;
    settings.Rec.WorkFolder.Assign(folder.path().string());
    std::string bytes(sizeof(mirte::SettingsRec), '\0');
    std::memcpy(bytes.data(), &settings.Rec, sizeof(mirte::SettingsRec));
    folder.write("mirte.SET", bytes);
  }
  folder.write("BENCH.DAT", std::string(static_cast<std::size_t>(records) * 128, 'b'));

  QApplication app(argc, argv);
  mirte::TTermFrmOptions options;
  options.ProgramFile = (folder / "mirte").string();
  options.ShowSplash = false;
  options.Terminate = [] {};
  auto frm = std::make_unique<mirte::TTermFrm>(options);
  frm->show();
  QApplication::processEvents();
  if (!frm->ComPort.Open()) {
    std::fprintf(stderr, "the port did not open\n");
    return 1;
  }
  board.readUntilQuiet(std::chrono::milliseconds(50));

  bool sound = true;
  std::printf("board monitor cost: %d records (type 20) per round, %d rounds per state, alternating\n", records,
              rounds);
  for (long wait : {5000L, 0L}) {
    frm->Board().SetReplyDelay(std::chrono::microseconds(wait));
    const TStates r = Alternate(*frm, rounds, records, sound, [&] { return ReadRound(board.master(), records); });
    std::printf("reply wait %.0f ms: monitor closed %8.1f records/s  open %8.1f records/s  difference %+6.2f %%"
                "   CPU per record: closed %7.1f us  open %7.1f us\n",
                wait / 1000.0, r.Closed, r.Open, 100.0 * (r.Open - r.Closed) / r.Closed, r.ClosedCpu, r.OpenCpu);
  }
  frm->Board().SetReplyDelay(std::chrono::microseconds(5000));
  const TStates r = Alternate(*frm, rounds, characters, sound, [&] { return ListRound(board.master(), characters); });
  frm->Board().EndPrintJob(true);
  std::printf("list output, %d characters per round: monitor closed %8.0f characters/s  open %8.0f characters/s"
              "  open/closed %5.1f %%   CPU per character: closed %5.2f us  open %5.2f us\n",
              characters, r.Closed, r.Open, 100.0 * r.Open / r.Closed, r.ClosedCpu, r.OpenCpu);
  if (auto* monitor = frm->MonitorFrm())
    std::printf("rows in the monitor %llu, frames counted %llu\n",
                static_cast<unsigned long long>(monitor->Log().EndIndex() - monitor->Log().FirstIndex()),
                static_cast<unsigned long long>(monitor->Log().Totals().Frames));
  frm.reset();
  if (!sound) std::fprintf(stderr, "an exchange with the board went wrong\n");
  return sound ? 0 : 1;
}
