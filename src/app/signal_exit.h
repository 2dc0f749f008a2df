#pragma once
// Ends the program on SIGTERM, SIGINT and SIGHUP (log-out, kill, Ctrl+C in a terminal) the
// way the Exit command does: the first signal is handed to the event loop, which runs
// `onSignal` there, so an open print job is ended and kept and the port closed as usual. A
// second signal before the program is gone ends the process at once, for a program that
// no longer gets to its event loop. A signal that was ignored when the object came (a
// hang-up under nohup) stays ignored. The previous handlers come back with the object.
#include <QObject>

#include <csignal>
#include <functional>

class QSocketNotifier;

namespace mirte {

class TSignalExit : public QObject {
public:
  explicit TSignalExit(std::function<void()> onSignal, QObject* parent = nullptr);
  ~TSignalExit() override;
  TSignalExit(const TSignalExit&) = delete;
  TSignalExit& operator=(const TSignalExit&) = delete;

  // What the event loop runs from now on: the handling is installed before the windows
  // exist, and the main window takes over once it does.
  void SetOnSignal(std::function<void()> handler) { onSignal_ = std::move(handler); }

private:
  std::function<void()> onSignal_;
  QSocketNotifier* notifier_ = nullptr;
  int pipeFds_[2] = {-1, -1};
  struct sigaction previous_[3] {};
  bool installed_[3] = {false, false, false};
};

}  // namespace mirte
