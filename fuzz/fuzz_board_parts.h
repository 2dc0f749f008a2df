#pragma once
// What the board targets serve through: a main window that only keeps what it is told, a
// small printer page that checks it is used inside a document, and the board target's
// drive sandbox.
//
// The sandbox is built once per process, in memory where it can be (see ScratchFolder; else the
// temporary folder): drives C (the working folder), A and B, each with the same few files,
// and around them the things no board command may reach (a file and a folder above the
// drives, a link in drive C to a file outside, a subfolder of drive C). Every entry carries
// one fixed, old modification time, so anything that writes, creates, deletes or renames
// shows at once in a single stat; restoring puts back only the drives that show it. Every
// entry is held open (O_PATH) for the whole process and looked at by fstat, which walks no
// path: a file replaced or renamed under its name changes its folder's time, and a file
// removed drops its link count to 0, so the held descriptor still tells.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "board/board_window.h"
#include "board/printer_canvas.h"
#include "fuzz_scratch.h"
#include "platform/dos_files.h"

namespace mirte::fuzzing {

class QuietBoardWindow : public IBoardWindow {
public:
  TShellFlags& Flags() override { return flags; }
  int Language() const override { return kLanguageEnglish; }
  void SetCursorShape(TCursorType) override {}
  void RemoveSelect() override {}
  void Beep() override {}
  std::string StatusText() const override { return status; }
  void SetStatusText(std::string_view text) override { status = text; }
  void RestartDeSelectTimer() override {}
  void SetPrintJobOpen(bool open) override { printJobOpen = open; }
  void WaitForPortNews() override {}
  void ProcessPendingEvents() override {}

  static constexpr int kLanguageEnglish = 2;
  TShellFlags flags;
  std::string status;
  bool printJobOpen = false;
};

// A small page, so that lines wrap and pages break often.
class SmallPage : public IPrinterCanvas {
public:
  void BeginDoc(const std::string&) override {
    Check(!open);
    open = true;
  }
  void NewPage() override { Check(open); }
  void EndDoc() override {
    Check(open);
    open = false;
  }
  void Abort() override { EndDoc(); }
  int PageWidth() const override { return 600; }
  int PageHeight() const override { return 700; }
  int TextHeight(std::string_view) const override { return 40; }
  int TextWidth(std::string_view text) const override { return 30 * static_cast<int>(text.size()); }
  void TextOut(int x, int y, std::string_view) override { Check(open && x >= 0 && y >= 0); }

  static void Check(bool condition) {
    if (!condition) {
      std::fprintf(stderr, "printer used out of a document\n");
      std::abort();
    }
  }
  bool open = false;
};

class BoardSandbox {
public:
  BoardSandbox() {
    namespace fs = std::filesystem;
    drives_ = {root_ + "/work", root_ + "/drive-a", root_ + "/drive-b"};
    for (const auto& drive : drives_) fs::create_directories(drive);
    fs::create_directories(root_ + "/prog/dosdevices");
    fs::create_symlink(drives_[1], root_ + "/prog/dosdevices/a:");
    fs::create_symlink(drives_[2], root_ + "/prog/dosdevices/b:");
    WriteFile(root_ + "/SECRET.TXT", "outside", 0644);
    fs::create_directories(root_ + "/outside");
    WriteFile(root_ + "/outside/TARGET.TXT", "outside", 0644);
    fs::create_symlink(root_ + "/outside/TARGET.TXT", drives_[0] + "/LINK.TXT");
    fs::create_directories(drives_[0] + "/SUBDIR");
    WriteFile(drives_[0] + "/SUBDIR/INNER.TXT", "nested", 0644);
    seeds_ = {{"SEED.TXT", std::string(200, 's'), 0644},
              {"A Long Name.text", std::string(300, 'l'), 0644},
              {"RO.DAT", std::string(128, 'r'), 0444}};
    for (const auto& drive : drives_) {
      for (const auto& seed : seeds_) WriteFile(drive + "/" + seed.name, seed.text, seed.mode);
      MarkOld(drive);
    }
    for (const char* path : {"", "/SECRET.TXT", "/outside", "/outside/TARGET.TXT", "/prog", "/prog/dosdevices",
                             "/prog/dosdevices/a:", "/prog/dosdevices/b:", "/work/LINK.TXT", "/work/SUBDIR",
                             "/work/SUBDIR/INNER.TXT"}) {
      MarkOld(root_ + path);
      AddSentinel(root_ + path, true);
    }
    for (const auto& drive : drives_) AddSentinel(drive, false);
    for (const auto& drive : drives_) {
      held_.emplace_back();
      for (const auto& seed : seeds_) held_.back().push_back(Hold(drive + "/" + seed.name));
    }
  }

  ~BoardSandbox() {
    for (const auto& sentinel : sentinels_) ::close(sentinel.fd);
    for (const auto& drive : held_)
      for (int fd : drive) ::close(fd);
  }

  BoardSandbox(const BoardSandbox&) = delete;
  BoardSandbox& operator=(const BoardSandbox&) = delete;

  const std::string& Root() const { return root_; }
  // 0: the working folder (drive C), 1: drive A, 2: drive B.
  const std::string& Drive(int index) const { return drives_[std::size_t(index)]; }
  TProgramFiles ProgramFiles() const { return {"", "", root_ + "/prog/dosdevices"}; }

  // Everything outside the drives' own files is as it was made: the drive folders keep
  // their inode and mode, everything else also its size, link count and time.
  bool OutsideUntouched() const {
    for (const auto& sentinel : sentinels_) {
      const struct stat now = HeldStat(sentinel.fd);
      const struct stat& was = sentinel.was;
      if (now.st_ino != was.st_ino || now.st_mode != was.st_mode || now.st_nlink == 0) return false;
      if (!sentinel.timed) continue;
      if (now.st_size != was.st_size || now.st_nlink != was.st_nlink || !Old(now)) return false;
    }
    return true;
  }

  // Whether anything in the drive differs from how it was made: a name came, went or was
  // renamed (the folder's time tells), or a seed file was written or changed its mode.
  bool DriveChanged(int index) const {
    const std::size_t d = std::size_t(index);
    if (!Old(Stat(drives_[d]))) return true;
    for (std::size_t i = 0; i < seeds_.size(); ++i)
      if (!AsMade(HeldStat(held_[d][i]), seeds_[i])) return true;
    return false;
  }

  // Puts back the seed files of every drive an input changed, and removes what it added.
  void RestoreDrives() {
    for (std::size_t d = 0; d < drives_.size(); ++d) {
      const std::string& drive = drives_[d];
      // The folder's time is untouched while no name in it changed: then each held
      // descriptor is still the file of its name, and one fstat tells whether it was written.
      const bool renamed = !Old(Stat(drive));
      if (renamed) RemoveAdded(drive, d == 0);
      bool touched = renamed;
      for (std::size_t i = 0; i < seeds_.size(); ++i) {
        const Seed& seed = seeds_[i];
        int& fd = held_[d][i];
        const std::string path = drive + "/" + seed.name;
        const bool same = AsMade(renamed ? Stat(path) : HeldStat(fd), seed);
        if (!same) {
          ::unlink(path.c_str());
          WriteFile(path, seed.text, seed.mode);
          touched = true;
        }
        if (!same || renamed) {
          ::close(fd);
          fd = Hold(path);
        }
      }
      if (touched) MarkOld(drive);
    }
  }

private:
  struct Seed {
    std::string name;
    std::string text;
    mode_t mode;
  };
  struct Sentinel {
    int fd;
    struct stat was;
    bool timed;
  };

  static constexpr time_t kOldTime = 1000000000;

  static struct stat Stat(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) st = {};
    return st;
  }
  static int Hold(const std::string& path) {
    const int fd = ::open(path.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) std::abort();
    return fd;
  }
  static struct stat HeldStat(int fd) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) st = {};
    return st;
  }
  void AddSentinel(const std::string& path, bool timed) {
    const int fd = Hold(path);
    sentinels_.push_back({fd, HeldStat(fd), timed});
  }
  static bool Old(const struct stat& st) { return st.st_mtim.tv_sec == kOldTime && st.st_mtim.tv_nsec == 0; }
  static bool AsMade(const struct stat& st, const Seed& seed) {
    return S_ISREG(st.st_mode) && (st.st_mode & 07777) == seed.mode && st.st_nlink == 1 &&
           std::size_t(st.st_size) == seed.text.size() && Old(st);
  }
  static void MarkOld(const std::string& path) {
    const timespec times[2] = {{kOldTime, 0}, {kOldTime, 0}};
    if (::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW) != 0) std::abort();
  }
  static void WriteFile(const std::string& path, const std::string& text, mode_t mode) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0 || ::write(fd, text.data(), text.size()) != ssize_t(text.size())) std::abort();
    ::fchmod(fd, mode);
    ::close(fd);
    MarkOld(path);
  }

  void RemoveAdded(const std::string& drive, bool workingFolder) {
    std::vector<std::string> added;
    if (DIR* dir = ::opendir(drive.c_str())) {
      while (const dirent* entry = ::readdir(dir)) {
        std::string_view name = entry->d_name;
        if (name == "." || name == "..") continue;
        if (workingFolder && (name == "LINK.TXT" || name == "SUBDIR")) continue;
        bool seed = false;
        for (const auto& s : seeds_) seed = seed || s.name == name;
        if (!seed) added.emplace_back(name);
      }
      ::closedir(dir);
    }
    std::error_code ignored;
    for (const auto& name : added) std::filesystem::remove_all(drive + "/" + name, ignored);
  }

  ScratchFolder scratch_{"mirte-board-fuzz", ScratchFolder::kServedDrives};
  const std::string& root_ = scratch_.Path();
  std::vector<std::string> drives_;
  std::vector<Seed> seeds_;
  std::vector<Sentinel> sentinels_;
  // Per drive, a descriptor of each seed file, in seeds_ order.
  std::vector<std::vector<int>> held_;
};

}  // namespace mirte::fuzzing
