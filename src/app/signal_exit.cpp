#include "app/signal_exit.h"

#include <QSocketNotifier>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace mirte {

namespace {

constexpr int kEndingSignals[3] = {SIGTERM, SIGINT, SIGHUP};

// A signal handler reaches nothing but what lives at file scope, and may only use
// async-signal-safe calls: it writes to a pipe that the event loop watches. One program has
// one set of signal handlers, so one write end and one mark serve the whole process.
volatile std::sig_atomic_t signalPipe = -1;
volatile std::sig_atomic_t signalSeen = 0;

void OnEndingSignal(int number) {
  if (signalSeen) _exit(128 + number);
  signalSeen = 1;
  const int saved = errno;
  const char byte = static_cast<char>(number);
  if (signalPipe >= 0) {
    ssize_t ignored = write(signalPipe, &byte, 1);
    (void)ignored;
  }
  errno = saved;
}

}  // namespace

TSignalExit::TSignalExit(std::function<void()> handler, QObject* parent)
    : QObject(parent), onSignal_(std::move(handler)) {
  if (pipe2(pipeFds_, O_CLOEXEC | O_NONBLOCK) != 0) return;
  signalSeen = 0;
  signalPipe = pipeFds_[1];
  notifier_ = new QSocketNotifier(pipeFds_[0], QSocketNotifier::Read, this);
  connect(notifier_, &QSocketNotifier::activated, this, [this] {
    char bytes[16];
    while (read(pipeFds_[0], bytes, sizeof bytes) > 0) {
    }
    if (onSignal_) onSignal_();
  });
  struct sigaction action {};
  action.sa_handler = OnEndingSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (int i = 0; i < 3; ++i) {
    // Whoever started the program chose to have this signal ignored; that choice holds.
    if (sigaction(kEndingSignals[i], nullptr, &previous_[i]) != 0 || previous_[i].sa_handler == SIG_IGN) continue;
    installed_[i] = sigaction(kEndingSignals[i], &action, nullptr) == 0;
  }
}

TSignalExit::~TSignalExit() {
  if (pipeFds_[0] < 0) return;
  for (int i = 0; i < 3; ++i)
    if (installed_[i]) sigaction(kEndingSignals[i], &previous_[i], nullptr);
  signalPipe = -1;
  delete notifier_;
  close(pipeFds_[0]);
  close(pipeFds_[1]);
}

}  // namespace mirte
