#pragma once
// The built program as the whole-program benchmarks run it: a copy in a folder of its own,
// its settings beside it (COM1 through dosdevices/com1 to the board's line, the working
// folder given), started with its output discarded on the offscreen platform, and ended by
// SIGTERM, then SIGKILL if it has not gone within 3 s.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "common/settings.h"

extern char** environ;

namespace mirte::bench {

struct TProgramFolder {
  std::string Program;       // the copy that is started
  std::string SettingsFile;  // handed to mirte-serve; the window finds it beside itself
  bool Serve = false;
};

inline TProgramFolder MakeProgramFolder(const std::filesystem::path& folder, const std::filesystem::path& program,
                                        const std::string& line, const std::filesystem::path& work) {
  namespace fs = std::filesystem;
  TProgramFolder made;
  made.Serve = program.filename() == "mirte-serve";
  made.Program = (folder / program.filename()).string();
  fs::copy_file(program, made.Program);
  fs::create_directory(folder / "dosdevices");
  fs::create_symlink(line, folder / "dosdevices" / "com1");
  TSettings settings;
  settings.ProgramFolder = folder.string() + "/";
  settings.SettingsPath = (folder / "mirte.SET").string();
  settings.SetDefaultSettings();
  settings.Rec.ComNumber = 1;
  settings.SetWorkFolder(work.string());
  settings.SaveSettings();
  made.SettingsFile = settings.SettingsPath;
  return made;
}

// The process, or -1 when it could not be started; it inherits this process's environment.
inline pid_t StartQuietly(const TProgramFolder& made) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  std::string path = made.Program;
  std::string settingsOption = "--settings";
  std::string settingsFile = made.SettingsFile;
  char* argv[] = {path.data(), made.Serve ? settingsOption.data() : nullptr,
                  made.Serve ? settingsFile.data() : nullptr, nullptr};
  pid_t pid = -1;
  if (posix_spawn(&pid, path.c_str(), &actions, nullptr, argv, environ) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

inline void EndProgram(pid_t pid) {
  if (pid <= 0) return;
  ::kill(pid, SIGTERM);
  for (int i = 0; i < 300; ++i) {
    if (::waitpid(pid, nullptr, WNOHANG) == pid) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ::kill(pid, SIGKILL);
  ::waitpid(pid, nullptr, 0);
}

// Resident memory in kB, -1 when the process is gone.
inline long ResidentKb(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
  return -1;
}

}  // namespace mirte::bench
