#include "support/serve_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <thread>

extern char** environ;

namespace mirte::testing {

using Clock = std::chrono::steady_clock;

void ReadUntil(int fd, std::string& seen, const std::function<bool(const std::string&)>& done,
               std::chrono::milliseconds limit) {
  const auto end = Clock::now() + limit;
  while (!done(seen) && Clock::now() < end) {
    pollfd ready{fd, POLLIN, 0};
    if (::poll(&ready, 1, 20) <= 0) continue;
    char chunk[512];
    const ssize_t got = ::read(fd, chunk, sizeof chunk);
    if (got <= 0) break;
    seen.append(chunk, static_cast<std::size_t>(got));
  }
}

double ProcessCpuSeconds(pid_t pid) {
  std::FILE* stat = std::fopen(("/proc/" + std::to_string(pid) + "/stat").c_str(), "r");
  if (!stat) return -1;
  char text[1024] = {};
  const std::size_t got = std::fread(text, 1, sizeof text - 1, stat);
  std::fclose(stat);
  const char* after = std::strrchr(text, ')');
  if (!after || got == 0) return -1;
  unsigned long user = 0, system = 0;
  // utime and stime, the 14th and 15th fields, counted from the state after the name.
  if (std::sscanf(after + 2, "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %lu %lu", &user, &system) != 2) return -1;
  return static_cast<double>(user + system) / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

ServeProcess::ServeProcess(const std::string& program, const std::vector<std::string>& args, bool stdio,
                           const std::vector<std::pair<std::string, std::string>>& environment) {
  int pipeFds[2], inFds[2] = {-1, -1}, outFds[2] = {-1, -1};
  if (::pipe2(pipeFds, O_CLOEXEC) != 0) return;
  if (stdio && (::pipe2(inFds, O_CLOEXEC) != 0 || ::pipe2(outFds, O_CLOEXEC) != 0)) return;
  errFd = pipeFds[0];
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 2);
  if (stdio) {
    posix_spawn_file_actions_adddup2(&actions, inFds[0], 0);
    posix_spawn_file_actions_adddup2(&actions, outFds[1], 1);
  } else {
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  }
  std::vector<std::string> all{program};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& arg : all) argv.push_back(arg.data());
  argv.push_back(nullptr);
  // The child's environment: this one's, with the given names replaced or added.
  std::vector<std::string> variables;
  for (char** entry = environ; *entry; ++entry) {
    const std::string variable = *entry;
    bool replaced = false;
    for (const auto& [name, value] : environment) replaced = replaced || variable.rfind(name + "=", 0) == 0;
    if (!replaced) variables.push_back(variable);
  }
  for (const auto& [name, value] : environment) variables.push_back(name + "=" + value);
  std::vector<char*> envp;
  for (std::string& variable : variables) envp.push_back(variable.data());
  envp.push_back(nullptr);
  if (posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data()) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  ::close(pipeFds[1]);
  if (stdio) {
    ::close(inFds[0]);
    ::close(outFds[1]);
    inFd = inFds[1];
    outFd = outFds[0];
  }
}

// A program the test left running is asked to stop first, so that it removes its private
// device folder from /tmp; one that does not go within 5 s is killed.
ServeProcess::~ServeProcess() {
  if (pid > 0 && !exited) {
    ::kill(pid, SIGTERM);
    if (Wait(std::chrono::milliseconds(5000)) < 0) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, nullptr, 0);
    }
  }
  for (int fd : {errFd, inFd, outFd})
    if (fd >= 0) ::close(fd);
}

void ServeProcess::CloseIn() {
  ::close(inFd);
  inFd = -1;
}

bool ServeProcess::Says(const std::string& text, std::chrono::milliseconds limit) {
  ReadUntil(errFd, errors, [&](const std::string& seen) { return seen.find(text) != std::string::npos; }, limit);
  return errors.find(text) != std::string::npos;
}

const std::string& ServeProcess::ErrorsSoFar() {
  for (;;) {
    pollfd ready{errFd, POLLIN, 0};
    if (::poll(&ready, 1, 0) <= 0) break;
    char chunk[512];
    const ssize_t got = ::read(errFd, chunk, sizeof chunk);
    if (got <= 0) break;
    errors.append(chunk, static_cast<std::size_t>(got));
  }
  return errors;
}

int ServeProcess::Wait(std::chrono::milliseconds limit) {
  const auto end = Clock::now() + limit;
  int status = 0;
  while (Clock::now() < end) {
    if (::waitpid(pid, &status, WNOHANG) == pid) {
      exited = true;
      ReadUntil(errFd, errors, [](const std::string&) { return false; }, std::chrono::milliseconds(200));
      return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return -1;
}

void ServeProcess::Signal(int number) {
  if (pid > 0 && !exited) ::kill(pid, number);
}

double ServeProcess::CpuSeconds() const { return ProcessCpuSeconds(pid); }

}  // namespace mirte::testing
