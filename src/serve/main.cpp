// mirte-serve: serves one board over a serial line without a window (drives, printer and
// console), for rigs that run unattended. Ends on SIGTERM, SIGINT or SIGHUP as the window
// ends on Exit: a print job still open is finished first.
#include <QGuiApplication>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "serve/board_server.h"
#include "serve/serve_options.h"

namespace {

volatile std::sig_atomic_t stopSignal = 0;

// Errors are one line each on standard error; Qt's notes about a platform with no screen
// would only crowd them. What Qt finds critical still comes through.
void QuietQtMessages(QtMsgType type, const QMessageLogContext&, const QString& message) {
  if (type == QtCriticalMsg || type == QtFatalMsg)
    std::fprintf(stderr, "mirte-serve: %s\n", message.toLocal8Bit().constData());
}

void OnStopSignal(int) { stopSignal = 1; }

// The window's program file beside this one: its settings are found the same way.
std::string WindowProgramFile() {
  std::error_code error;
  auto self = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error) return "mirte";
  return (self.parent_path() / "mirte").string();
}

}  // namespace

int main(int argc, char* argv[]) {
  std::vector<std::string> args(argv + 1, argv + argc);
  std::string error;
  auto options = mirte::ParseServeOptions(args, error);
  if (!options) {
    std::fprintf(stderr, "mirte-serve: %s\n", error.c_str());
    return 2;
  }
  if (options->Help) {
    std::fputs(mirte::ServeUsage().c_str(), stdout);
    return 0;
  }
  // PDF files need fonts and a paint engine, not a screen: the platform is this program's
  // choice, whatever the environment says.
  qputenv("QT_QPA_PLATFORM", "offscreen");
  qInstallMessageHandler(QuietQtMessages);
  int qtArgc = 1;
  char* qtArgv[] = {argv[0], nullptr};
  QGuiApplication app(qtArgc, qtArgv);

  mirte::TBoardServer server(std::move(*options), WindowProgramFile());
  if (!server.Start(error)) {
    std::fprintf(stderr, "mirte-serve: %s\n", error.c_str());
    return 1;
  }
  struct sigaction stop {};
  stop.sa_handler = OnStopSignal;
  sigemptyset(&stop.sa_mask);
  for (int signal : {SIGTERM, SIGINT, SIGHUP}) sigaction(signal, &stop, nullptr);
  std::signal(SIGPIPE, SIG_IGN);
  return server.RunUntil([] { return stopSignal != 0; });
}
