// Start-up and idle cost of the main window, on a pseudo-terminal board reached as COM1
// through dosdevices/ in a temporary program folder. Prints:
//   startup_ms  from before the toolkit starts until a typed key has reached the board,
//               the splash shown but its 2.5 s wait left out
//   idle_cpu_%  CPU time of the whole process over 5 s of an idle window with the port open
// Runs on the offscreen platform unless a display is chosen with QT_QPA_PLATFORM.
#include <QApplication>
#include <QEventLoop>
#include <QTest>
#include <QTimer>

#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>

#include "common/settings.h"
#include "app/term_form.h"
#include "support/pty_pair.h"
#include "support/temp_folder.h"
#include "terminal/terminal_widget.h"

namespace {

double CpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

}  // namespace

int main(int argc, char* argv[]) {
  using Clock = std::chrono::steady_clock;
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  mirte::testing::TempFolder folder;
  mirte::testing::PtyPair board;
  std::filesystem::create_directory(folder / "dosdevices");
  std::filesystem::create_symlink(board.slavePath(), folder / "dosdevices" / "com1");

  const auto start = Clock::now();
  QApplication app(argc, argv);
  mirte::TTermFrmOptions options;
  options.ProgramFile = (folder / "mirte").string();
  options.SplashWait = std::chrono::milliseconds(0);
  options.Terminate = [] {};
  auto frm = std::make_unique<mirte::TTermFrm>(options);
  frm->CreateToolWindows();
  frm->show();
  QApplication::processEvents();
  board.readUntilQuiet(std::chrono::milliseconds(0));
  QTest::keyClick(frm->TerminalWn, Qt::Key_A);
  auto typed = board.read(1, std::chrono::milliseconds(2000));
  const double startupMs = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
  if (typed.size() != 1 || typed[0] != 'a') {
    std::fprintf(stderr, "the key did not reach the board\n");
    return 1;
  }

  const double cpuBefore = CpuSeconds();
  const auto idleStart = Clock::now();
  {
    // A plain event loop, as the program runs it (a test wait would poll on its own).
    QEventLoop idle;
    QTimer::singleShot(5000, &idle, &QEventLoop::quit);
    idle.exec();
  }
  const double wall = std::chrono::duration<double>(Clock::now() - idleStart).count();
  const double idlePercent = 100.0 * (CpuSeconds() - cpuBefore) / wall;

  std::printf("startup_ms %.1f\nidle_cpu_%% %.2f\nport_open %d\n", startupMs, idlePercent, frm->ComPort.Open() ? 1 : 0);
  frm.reset();
  return 0;
}
