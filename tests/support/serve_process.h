#pragma once
// mirte-serve (or any program) started with its options as a process of its own: its
// standard error is kept for the test to read, its standard input and output are pipes the
// test holds or /dev/null. Killed and waited for when it goes, unless it ended before.
#include <sys/types.h>

#include <chrono>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace mirte::testing {

// Reads what a descriptor gives into `seen` until `done` holds, the descriptor ends or the
// time is up.
void ReadUntil(int fd, std::string& seen, const std::function<bool(const std::string&)>& done,
               std::chrono::milliseconds limit);

// Processor time a process of this user has used so far, in seconds (user and system);
// negative when it cannot be read.
double ProcessCpuSeconds(pid_t pid);

class ServeProcess {
public:
  // With `stdio`, the program's standard input and output are pipes the test holds.
  // `environment` is set in the child on top of this process's own.
  ServeProcess(const std::string& program, const std::vector<std::string>& args, bool stdio = false,
               const std::vector<std::pair<std::string, std::string>>& environment = {});
  ~ServeProcess();
  ServeProcess(const ServeProcess&) = delete;
  ServeProcess& operator=(const ServeProcess&) = delete;

  pid_t Pid() const { return pid; }
  int In() const { return inFd; }
  int Out() const { return outFd; }
  void CloseIn();

  // Waits until standard error has said `text`.
  bool Says(const std::string& text, std::chrono::milliseconds limit);
  // Waits for the line that says the board is served.
  bool Serving() { return Says("serving", std::chrono::milliseconds(5000)); }
  // The exit status, or -1 when the program did not end within the limit.
  int Wait(std::chrono::milliseconds limit);
  void Signal(int number);
  const std::string& Errors() const { return errors; }
  // Standard error up to now, without waiting for more.
  const std::string& ErrorsSoFar();
  // Processor time the process has used so far, in seconds (user and system).
  double CpuSeconds() const;

private:
  pid_t pid = -1;
  int errFd = -1;
  int inFd = -1;
  int outFd = -1;
  bool exited = false;
  std::string errors;
};

}  // namespace mirte::testing
