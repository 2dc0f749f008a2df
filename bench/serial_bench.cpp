// Figures of the serial port over a pseudo-terminal pair, as a plain timed program:
//  (a) one-byte round trip board -> OnTriggerAvail -> WriteChar -> board (median, p99)
//  (b) receive throughput with a handler that reads everything
//  (c) CPU time per second of an open, idle port
//  (d) probing all 50 port numbers when none exists
#include <poll.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <thread>
#include <vector>

#include "platform/com_devices.h"
#include "serial/com_port.h"
#include "serial/dispatcher.h"
#include "serial/plain_main_thread_queue.h"
#include "serial/port_list.h"
#include "support/pty_pair.h"
#include "support/temp_folder.h"

#ifdef MIRTE_BENCH_QT
#include <QCoreApplication>
#include <QTimer>

#include "serial/qt_main_thread_queue.h"
#endif

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

double cpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

struct Bench {
  mirte::testing::TempFolder folder;
  mirte::testing::PtyPair board;
  mirte::TPlainMainThreadQueue queue;
  mirte::TComPort port{&queue};

  Bench() {
    std::filesystem::create_directory(folder / "dosdevices");
    mirte::SetComDevicesFolder(folder / "dosdevices");
    std::filesystem::create_symlink(board.slavePath(), folder / "dosdevices" / "com1");
    port.SetComNumber(1);
    port.SetBaud(115200);
    port.SetStopBits(2);
    port.SetAutoOpen(false);
  }

  // The main thread's message loop until `done`.
  void loopUntil(const std::atomic<bool>& done) {
    while (!done.load()) {
      queue.WaitForMessages(5ms);
      queue.ProcessMessages();
    }
  }
};

// The board's side of the round trip: one byte out, wait for the echo, 3000 times. The
// first hundred warm the path up and are not counted. Answers microseconds per exchange.
std::vector<double> BoardRoundTrips(int fd) {
  std::vector<double> micros;
  for (int i = 0; i < 3000; ++i) {
    std::uint8_t out = static_cast<std::uint8_t>(i), in = 0;
    auto start = Clock::now();
    if (::write(fd, &out, 1) != 1) break;
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 1000) != 1 || ::read(fd, &in, 1) != 1) break;
    if (i >= 100) micros.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
  }
  return micros;
}

void roundTrip() {
  Bench bench;
  bench.port.SetOnTriggerAvail([](mirte::TCustomComPort& port, std::uint16_t) {
    while (port.InputReady()) port.WriteChar(port.ReadChar());
  });
  bench.port.SetOpen(true);
  std::vector<double> micros;
  std::atomic<bool> done{false};
  std::thread boardSide([&] {
    micros = BoardRoundTrips(bench.board.master());
    done = true;
  });
  bench.loopUntil(done);
  boardSide.join();
  std::sort(micros.begin(), micros.end());
  if (micros.empty()) {
    std::printf("(a) round trip: failed\n");
    return;
  }
  std::printf("(a) round trip over %zu exchanges: median %.3f ms, p99 %.3f ms (goal: median < 0.3 ms)\n",
              micros.size(), micros[micros.size() / 2] / 1000, micros[micros.size() * 99 / 100] / 1000);
}

#ifdef MIRTE_BENCH_QT
void qtRoundTrip() {
  int argc = 1;
  char name[] = "serial_bench";
  char* argv[] = {name, nullptr};
  QCoreApplication app(argc, argv);
  mirte::testing::TempFolder folder;
  mirte::testing::PtyPair board;
  std::filesystem::create_directory(folder / "dosdevices");
  mirte::SetComDevicesFolder(folder / "dosdevices");
  std::filesystem::create_symlink(board.slavePath(), folder / "dosdevices" / "com1");
  mirte::TQtMainThreadQueue queue;
  mirte::TComPort port(&queue);
  port.SetComNumber(1);
  port.SetBaud(115200);
  port.SetAutoOpen(false);
  port.SetOnTriggerAvail([](mirte::TCustomComPort& p, std::uint16_t) {
    while (p.InputReady()) {
      p.WriteChar(p.ReadChar());
      p.SetDTR(!p.DTR());
    }
  });
  port.SetOpen(true);
  std::vector<double> micros;
  std::thread boardSide([&] {
    micros = BoardRoundTrips(board.master());
    QMetaObject::invokeMethod(&app, &QCoreApplication::quit, Qt::QueuedConnection);
  });
  app.exec();
  boardSide.join();
  port.SetOpen(false);
  std::sort(micros.begin(), micros.end());
  if (micros.empty()) return;
  std::printf("(a') round trip through the Qt event loop, DTR toggled per byte: median %.3f ms, p99 %.3f ms\n",
              micros[micros.size() / 2] / 1000, micros[micros.size() * 99 / 100] / 1000);
}
#endif

void throughput() {
  Bench bench;
  constexpr std::size_t total = 32u << 20;
  std::size_t received = 0;
  bench.port.SetOnTriggerAvail([&](mirte::TCustomComPort& port, std::uint16_t) {
    while (port.InputReady()) {
      port.ReadChar();
      ++received;
    }
  });
  bench.port.SetOpen(true);
  std::atomic<bool> done{false};
  auto start = Clock::now();
  std::thread boardSide([&] {
    std::vector<std::uint8_t> chunk(65536, 0x55);
    for (std::size_t sent = 0; sent < total; sent += chunk.size()) bench.board.write(chunk);
  });
  while (received < total) {
    bench.queue.WaitForMessages(5ms);
    bench.queue.ProcessMessages();
  }
  double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  boardSide.join();
  done = true;
  std::printf("(b) receive throughput: %.1f MB/s (%zu MB in %.2f s, ReadChar per byte; goal > 5 MB/s)\n",
              total / seconds / 1e6, total >> 20, seconds);
}

void idleCost() {
  Bench bench;
  bench.port.SetOnTriggerAvail([](mirte::TCustomComPort& port, std::uint16_t) {
    while (port.InputReady()) port.ReadChar();
  });
  bench.port.SetOpen(true);
  double before = cpuSeconds();
  auto start = Clock::now();
  while (Clock::now() - start < 3s) {
    bench.queue.WaitForMessages(1000ms);
    bench.queue.ProcessMessages();
  }
  double wall = std::chrono::duration<double>(Clock::now() - start).count();
  std::printf("(c) open, idle port: %.3f ms CPU per second (goal < 5 ms)\n", (cpuSeconds() - before) / wall * 1000);
}

void probing() {
  mirte::testing::TempFolder folder;
  std::filesystem::create_directory(folder / "dosdevices");
  mirte::SetComDevicesFolder(folder / "dosdevices");
  auto start = Clock::now();
  mirte::TDeviceSelectionForm form;
  form.EnumAllPorts();
  double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
  std::printf("(d) probing COM1-50: %.2f ms, %zu found (machine's own ports only)\n", ms, form.DeviceList.size());
}

}  // namespace

int main() {
  roundTrip();
#ifdef MIRTE_BENCH_QT
  qtRoundTrip();
#endif
  throughput();
  idleCost();
  probing();
  return 0;
}
