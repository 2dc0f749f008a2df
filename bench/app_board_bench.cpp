// The whole program serving a board. The built program is copied into a program folder of
// its own, whose dosdevices/com1 is a pseudo-terminal, and started there on the offscreen
// platform; this process plays the board on the master side, as a real board would: each
// frame goes out as soon as the previous reply is in. Prints, per frame type, the time
// from the frame's last byte to its reply's last byte (median, p99, minimum) and, for a
// long listing sent at once, the list characters the program takes per second; and the
// time a copy program takes for a 76 KB file, one record read and one written at a time.
//
//   app_board_bench [frames per type (200)] [list characters (76000)] [program (build/mirte)]
//
// With the program `both`, the window and mirte-serve are measured one after the other and
// each row of figures is given for both.
//
// A program named mirte-serve (the word `serve` stands for the built one) is started with
// the same settings file named on its command line, so both programs are measured on the
// same set-up. Resident memory and CPU are given at idle and during the listing.
//
// The parts (TProgramRun, TBoardEnd, TLatencies, and board_wire.h's frames) are meant to be
// reused: a new measurement is a function that drives a TBoardEnd and fills TLatencies.
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "board_wire.h"
#include "common/settings.h"
#include "program_folder.h"
#include "support/pty_pair.h"
#include "support/serve_process.h"
#include "support/temp_folder.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using Bytes = std::string;
using mirte::bench::Frame;
using mirte::bench::NameBlock;

double Millis(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

// The board's end of the line: the pseudo-terminal's master side.
class TBoardEnd {
public:
  explicit TBoardEnd(int fd) : fd(fd) {}

  // Writes every byte, waiting while the line is full; false when the line has gone.
  bool Send(const Bytes& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
      ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
      if (n > 0) {
        done += static_cast<std::size_t>(n);
      } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
        pollfd p{fd, POLLOUT, 0};
        ::poll(&p, 1, 100);
      } else {
        return false;
      }
    }
    return true;
  }

  // Sends a frame and notes the time of its last byte. The clock is read before the last
  // byte goes out, so a board preempted after its write can only make a reply look
  // later, never sooner.
  bool SendFrame(const Bytes& frame, Clock::time_point& lastByte) {
    if (!Send(frame.substr(0, frame.size() - 1))) return false;
    lastByte = Clock::now();
    return Send(frame.substr(frame.size() - 1));
  }

  // Reads exactly `count` bytes; fewer when `limit` passes without them.
  Bytes Receive(std::size_t count, std::chrono::milliseconds limit) { return mirte::bench::Receive(fd, count, limit); }

  // Discards whatever arrives until the line has been quiet for `quiet`.
  void Drain(std::chrono::milliseconds quiet) {
    while (Receive(4096, quiet).size() > 0) {
    }
  }

private:
  int fd;
};

// The built program running on the offscreen platform in a folder of its own, its COM1
// the pseudo-terminal, its working folder `Work()`. Ended (and waited for) on destruction.
class TProgramRun {
public:
  explicit TProgramRun(const fs::path& program) {
    fs::create_directory(Work());
    pid = mirte::bench::StartQuietly(mirte::bench::MakeProgramFolder(folder.path(), program, pty.slavePath(), Work()));
  }

  ~TProgramRun() { mirte::bench::EndProgram(pid); }

  bool Started() const { return pid > 0; }
  // Resident memory in kB, and CPU time used so far in seconds.
  long ResidentKb() const { return mirte::bench::ResidentKb(pid); }
  double CpuSeconds() const { return mirte::testing::ProcessCpuSeconds(pid); }
  TBoardEnd Board() { return TBoardEnd(pty.master()); }
  fs::path Work() const { return folder / "work"; }

  // Waits until the program answers on the line (the splash and the port's opening take
  // a while), then lets stray replies to the probes die away.
  bool WaitUntilServing(std::chrono::seconds limit) {
    TBoardEnd board = Board();
    const auto deadline = Clock::now() + limit;
    while (Clock::now() < deadline) {
      board.Send(Bytes("\x10\x11\x19", 3));  // current drive
      if (!board.Receive(1, std::chrono::milliseconds(250)).empty()) {
        board.Drain(std::chrono::milliseconds(300));
        return true;
      }
    }
    return false;
  }

private:
  mirte::testing::TempFolder folder;
  mirte::testing::PtyPair pty;
  pid_t pid = -1;
};

// The lines a run reports: a label in the first 23 columns, then the figures.
class TReport {
public:
  __attribute__((format(printf, 2, 3))) void Line(const char* format, ...) {
    char text[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    std::string line = text;
    while (!line.empty() && line.back() == '\n') line.pop_back();
    lines.push_back(line);
  }
  const std::vector<std::string>& Lines() const { return lines; }

private:
  std::vector<std::string> lines;
};

// Durations of one kind of exchange, in milliseconds.
class TLatencies {
public:
  explicit TLatencies(std::string what) : what(std::move(what)) {}

  void Add(double millis) { samples.push_back(millis); }
  void Fail(const std::string& why) {
    if (failure.empty()) failure = why;
  }

  // One line: count, median, p99, minimum (and maximum), or why the run failed.
  void Report(TReport& report) {
    std::sort(samples.begin(), samples.end());
    if (samples.empty()) {
      report.Line("%-22s no samples  %s", what.c_str(), failure.c_str());
      return;
    }
    auto at = [&](double q) {
      return samples[std::min(samples.size() - 1, static_cast<std::size_t>(q * static_cast<double>(samples.size())))];
    };
    report.Line("%-22s %5zu  median %6.3f ms  p99 %6.3f ms  min %6.3f ms  max %7.3f ms%s%s", what.c_str(),
                samples.size(), at(0.5), at(0.99), samples.front(), samples.back(), failure.empty() ? "" : "  FAILED: ",
                failure.c_str());
  }

private:
  std::string what;
  std::vector<double> samples;
  std::string failure;
};

Bytes RecordNumber(int n) {
  return Bytes{static_cast<char>(n & 0xFF), static_cast<char>((n >> 8) & 0xFF)};
}

// Times `count` exchanges: frame(i) out, `replyLength` bytes back, checked by `check`.
void TimeFrames(TBoardEnd& board, TLatencies& latencies, int count, std::size_t replyLength,
                const std::function<Bytes(int)>& frame, const std::function<bool(const Bytes&)>& check = {}) {
  for (int i = 0; i < count; ++i) {
    Clock::time_point lastByte;
    if (!board.SendFrame(frame(i), lastByte)) {
      latencies.Fail("the line went away");
      return;
    }
    const Bytes reply = board.Receive(replyLength, std::chrono::milliseconds(3000));
    if (reply.size() != replyLength) {
      latencies.Fail("no complete reply to frame " + std::to_string(i));
      return;
    }
    latencies.Add(Millis(Clock::now() - lastByte));
    if (check && !check(reply)) latencies.Fail("wrong reply to frame " + std::to_string(i));
  }
}

// A listing of `characters` list-output frames (lines of text, then Ctrl-Z) sent at once,
// then a frame with a reply: characters per second until that reply is in.
double ListCharactersPerSecond(TBoardEnd& board, int characters) {
  Bytes text;
  for (int line = 1; static_cast<int>(text.size()) < characters - 1; ++line) {
    char buffer[80];
    std::snprintf(buffer, sizeof buffer, "%05d THE QUICK BROWN FOX JUMPS OVER THE LAZY DOG 0123456789\r\n", line);
    text += buffer;
  }
  text.resize(static_cast<std::size_t>(characters - 1));
  text += '\x1A';
  Bytes frames;
  for (char c : text) frames += Frame(5, Bytes(1, c));
  const auto start = Clock::now();
  if (!board.Send(frames + Frame(25))) return 0;
  if (board.Receive(1, std::chrono::minutes(10)).size() != 1) return 0;
  return characters / std::chrono::duration<double>(Clock::now() - start).count();
}

// What a copy program does with a file of `records` records: open the source and make the
// copy, then one record read and one record write after another, each waiting for its
// reply, and both closed. Seconds for the whole copy, or a negative value with `failure`
// set; the copy is compared with its source byte for byte.
double PipCopySeconds(TBoardEnd& board, const fs::path& work, int records, std::string& failure) {
  Bytes source;
  for (int i = 0; i < records * 128; ++i) source += static_cast<char>((i * 7 + i / 128) & 0xFF);
  {
    std::FILE* file = std::fopen((work / "PIPSRC.DAT").c_str(), "wb");
    if (!file || std::fwrite(source.data(), 1, source.size(), file) != source.size()) {
      failure = "the source file could not be written";
      if (file) std::fclose(file);
      return -1;
    }
    std::fclose(file);
  }
  const Bytes from = NameBlock("PIPSRC", "DAT"), to = NameBlock("PIPDST", "DAT");
  auto result = [&](const Bytes& frame, std::size_t length) {
    Clock::time_point lastByte;
    if (!board.SendFrame(frame, lastByte)) return Bytes();
    return board.Receive(length, std::chrono::milliseconds(3000));
  };
  const auto start = Clock::now();
  if (result(Frame(15, from), 1) != Bytes(1, '\0') || result(Frame(22, to), 1) != Bytes(1, '\0')) {
    failure = "open or make refused";
    return -1;
  }
  for (int i = 0; i < records; ++i) {
    const Bytes read = result(Frame(20, from), 129);
    if (read.size() != 129 || read[0] != 0) {
      failure = "read " + std::to_string(i) + " failed";
      return -1;
    }
    if (result(Frame(21, to) + read.substr(1), 1) != Bytes(1, '\0')) {
      failure = "write " + std::to_string(i) + " failed";
      return -1;
    }
  }
  if (result(Frame(16, to), 1) != Bytes(1, '\0')) failure = "close refused";
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  std::FILE* copy = std::fopen((work / "PIPDST.DAT").c_str(), "rb");
  Bytes copied(source.size() + 1, '\0');
  const std::size_t got = copy ? std::fread(copied.data(), 1, copied.size(), copy) : 0;
  if (copy) std::fclose(copy);
  copied.resize(got);
  if (copied != source) failure = "the copy differs from its source";
  return failure.empty() ? seconds : -1;
}

double LoadAverage() {
  double load[1] = {0};
  return getloadavg(load, 1) == 1 ? load[0] : -1;
}

// One program measured from its start to its end; false when it never served the line.
bool Measure(const fs::path& program, int frames, int listCharacters, TReport& report) {
  TProgramRun run(program);
  if (!run.Started() || !run.WaitUntilServing(std::chrono::seconds(30))) {
    std::fprintf(stderr, "%s did not answer on its line\n", program.filename().c_str());
    return false;
  }
  TBoardEnd board = run.Board();
  {
    const double before = run.CpuSeconds();
    std::this_thread::sleep_for(std::chrono::seconds(3));
    report.Line("idle                   %ld kB resident, %.2f%% CPU over 3 s\n", run.ResidentKb(),
                (run.CpuSeconds() - before) / 3 * 100);
  }
  report.Line("load average at start %.2f; from a frame's last byte to its reply's last byte, %d frames each\n",
              LoadAverage(), frames);

  const Bytes name = NameBlock("BENCH", "DAT");
  TLatencies driveVector("24 drive vector");
  TimeFrames(board, driveVector, frames, 2, [](int) { return Frame(24); });

  TLatencies make("22 make");
  TimeFrames(board, make, 1, 1, [&](int) { return Frame(22, name); },
             [](const Bytes& r) { return r[0] == 0; });
  TLatencies write("21 write record");
  TimeFrames(board, write, frames, 1, [&](int i) { return Frame(21, name) + Bytes(128, static_cast<char>(i)); },
             [](const Bytes& r) { return r[0] == 0; });

  TLatencies open("15 open");
  TimeFrames(board, open, frames, 1, [&](int) { return Frame(15, name); },
             [](const Bytes& r) { return r[0] == 0; });

  TLatencies read("20 read record");
  TimeFrames(board, read, frames, 129, [&](int) { return Frame(20, name); },
             [](const Bytes& r) { return r[0] == 0; });

  TLatencies randomRead("33 random read");
  TimeFrames(board, randomRead, frames, 129, [&](int i) { return Frame(33, name + RecordNumber(i % frames)); },
             [&](const Bytes& r) { return r[0] == 0; });

  TLatencies search("17 search first");
  TimeFrames(board, search, frames, 13, [&](int) { return Frame(17, NameBlock("????????", "???")); },
             [](const Bytes& r) { return r[0] == 0; });

  for (TLatencies* l : {&driveVector, &open, &write, &read, &randomRead, &search}) l->Report(report);

  // A 76 KB file, as a copy program on the board copies it from drive to drive.
  constexpr int kPipRecords = 608;
  std::string pipFailure;
  const double pipSeconds = PipCopySeconds(board, run.Work(), kPipRecords, pipFailure);
  if (pipSeconds < 0)
    report.Line("PIP copy               FAILED: %s\n", pipFailure.c_str());
  else
    report.Line("PIP copy               %d reads + %d writes of 128 bytes: %.2f s (%.3f ms per record pair)\n",
                kPipRecords, kPipRecords, pipSeconds, pipSeconds * 1000 / kPipRecords);

  const double cpuBefore = run.CpuSeconds();
  const auto listStart = Clock::now();
  const double perSecond = ListCharactersPerSecond(board, listCharacters);
  const double listSeconds = std::chrono::duration<double>(Clock::now() - listStart).count();
  report.Line("listing                %ld kB resident, %.1f%% CPU\n", run.ResidentKb(),
              (run.CpuSeconds() - cpuBefore) / listSeconds * 100);
  // At 115200 baud with 8 data bits, no parity and 2 stop bits a byte takes 11 bits; a
  // list-output frame is 4 bytes.
  const double lineRate = 115200.0 / 11 / 4;
  if (perSecond <= 0)
    report.Line("5 list character       the listing of %d characters got no answer\n", listCharacters);
  else
    report.Line("5 list character       %d characters: %.0f characters/s (the line carries %.0f)\n", listCharacters,
                perSecond, lineRate);
  report.Line("load average at end %.2f\n", LoadAverage());
  return true;
}

}  // namespace

int main(int argc, char* argv[]) {
  const int frames = argc > 1 ? std::max(1, std::atoi(argv[1])) : 200;
  const int listCharacters = argc > 2 ? std::max(2, std::atoi(argv[2])) : 76000;
  const std::string which = argc > 3 ? argv[3] : "";
  std::vector<fs::path> programs;
  if (which == "both") programs = {MIRTE_PROGRAM, MIRTE_SERVE_PROGRAM};
  else if (which == "serve") programs = {MIRTE_SERVE_PROGRAM};
  else programs = {which.empty() ? fs::path(MIRTE_PROGRAM) : fs::path(which)};

  std::vector<TReport> reports(programs.size());
  for (std::size_t i = 0; i < programs.size(); ++i)
    if (!Measure(programs[i], frames, listCharacters, reports[i])) return 1;
  if (programs.size() == 1) {
    std::printf("%s\n", programs[0].filename().c_str());
    for (const std::string& line : reports[0].Lines()) std::printf("%s\n", line.c_str());
    return 0;
  }
  // Row by row, each program's figures under the row's label.
  const std::size_t rows = std::max(reports[0].Lines().size(), reports[1].Lines().size());
  for (std::size_t row = 0; row < rows; ++row) {
    for (std::size_t i = 0; i < programs.size(); ++i) {
      const auto& lines = reports[i].Lines();
      if (row >= lines.size()) continue;
      std::printf("%-12s %s\n", programs[i].filename().c_str(), lines[row].c_str());
    }
    std::printf("\n");
  }
  return 0;
}
