// What this machine allows any program, before MIRTE's own work: the floors under the
// figures of app_board_bench and console_cpu_bench.
//   wake_chain    five threads woken one after the other by eventfd, once per burst, at
//                 100 and 1000 bursts a second: the handoffs one received burst takes in
//                 an open port (device worker, dispatcher worker, main thread, dispatcher
//                 worker again, device worker again). Prints the CPU of the chain alone.
//   pty_responder one thread serving a board on a pty: it reads a 4-byte frame, waits until
//                 5 ms after the read and writes a reply. Prints, from the frame's last
//                 byte to the reply's last byte, median, p99 and minimum.
// On a machine where these floors are already past a goal, no program meets that goal.
// Usage: machine_floor_bench [seconds per chain run, default 5] [frames, default 400]
#include <poll.h>
#include <pthread.h>
#include <pty.h>
#include <sys/eventfd.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double threadCpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

void signal(int fd) {
  std::uint64_t one = 1;
  while (::write(fd, &one, sizeof one) < 0) {
  }
}

void runWakeChain(int threads, int perSecond, int seconds) {
  std::vector<int> events(threads + 1);
  for (int& fd : events) fd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  std::atomic<bool> stop{false};
  std::vector<double> used(threads);
  std::vector<std::thread> chain;
  for (int i = 0; i < threads; ++i)
    chain.emplace_back([&, i] {
      const double start = threadCpuSeconds();
      pollfd wait{events[i], POLLIN, 0};
      std::uint64_t value;
      for (;;) {
        ::poll(&wait, 1, -1);
        if (::read(events[i], &value, sizeof value) != sizeof value) continue;
        if (stop.load()) break;
        signal(events[i + 1]);
      }
      used[i] = threadCpuSeconds() - start;
    });

  const long bursts = long(perSecond) * seconds;
  timespec next{};
  clock_gettime(CLOCK_MONOTONIC, &next);
  for (long b = 0; b < bursts; ++b) {
    next.tv_nsec += 1'000'000'000L / perSecond;
    if (next.tv_nsec >= 1'000'000'000L) {
      ++next.tv_sec;
      next.tv_nsec -= 1'000'000'000L;
    }
    clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, nullptr);
    signal(events[0]);
  }
  stop = true;
  for (int i = 0; i < threads; ++i) signal(events[i]);
  for (auto& t : chain) t.join();
  for (int fd : events) ::close(fd);

  double total = 0;
  for (double u : used) total += u;
  std::printf("wake_chain     %d threads, %4d bursts/s: %6.2f%% of a core, %5.1f us CPU per wake-up\n", threads,
              perSecond, total / seconds * 100.0, total / double(bursts) / threads * 1e6);
}

void makeRaw(int fd) {
  termios t{};
  tcgetattr(fd, &t);
  cfmakeraw(&t);
  tcsetattr(fd, TCSANOW, &t);
}

void runPtyResponder(int frames, std::size_t replyBytes) {
  int board = -1, device = -1;
  if (openpty(&board, &device, nullptr, nullptr, nullptr) != 0) {
    std::perror("openpty");
    return;
  }
  makeRaw(board);
  makeRaw(device);

  std::thread responder([&] {
    std::vector<std::uint8_t> reply(replyBytes, 0x55);
    std::uint8_t in[256];
    std::size_t got = 0;
    for (;;) {
      pollfd wait{device, POLLIN, 0};
      ::poll(&wait, 1, -1);
      const ssize_t n = ::read(device, in, sizeof in);
      if (n <= 0) return;
      const auto readAt = Clock::now();
      if (in[n - 1] == 0xFF) return;
      got += std::size_t(n);
      if (got < 4) continue;
      got = 0;
      std::this_thread::sleep_until(readAt + std::chrono::milliseconds(5));
      if (::write(device, reply.data(), reply.size()) < 0) return;
    }
  });

  std::vector<double> ms;
  const std::uint8_t frame[4] = {0x01, 0x14, 0x00, 0x00};
  std::uint8_t in[512];
  for (int f = 0; f < frames; ++f) {
    if (::write(board, frame, sizeof frame) != sizeof frame) break;
    const auto sent = Clock::now();
    std::size_t got = 0;
    while (got < replyBytes) {
      pollfd wait{board, POLLIN, 0};
      if (::poll(&wait, 1, 1000) <= 0) break;
      const ssize_t n = ::read(board, in, sizeof in);
      if (n <= 0) break;
      got += std::size_t(n);
    }
    ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - sent).count());
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  const std::uint8_t end = 0xFF;
  if (::write(board, &end, 1) != 1) std::perror("write");
  responder.join();
  ::close(board);
  ::close(device);
  if (ms.empty()) return;

  std::sort(ms.begin(), ms.end());
  std::printf("pty_responder  %3zu-byte reply, %d frames: median %.2f ms, p99 %.2f ms, min %.2f ms\n", replyBytes,
              int(ms.size()), ms[ms.size() / 2], ms[ms.size() * 99 / 100], ms.front());
}

}  // namespace

int main(int argc, char** argv) {
  const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
  const int frames = argc > 2 ? std::max(1, std::atoi(argv[2])) : 400;
  runWakeChain(5, 100, seconds);
  runWakeChain(5, 1000, seconds);
  runPtyResponder(frames, 3);
  runPtyResponder(frames, 130);
  return 0;
}
