#pragma once
// What the board targets serve through: a main window that only keeps what it is told, a
// small printer page that checks it is used inside a document, and the board target's
// drive sandbox.
//
// The sandbox is built once per process, in memory where it can be (the target asks
// ScratchFolder for a file system of its own): drives C (the working folder), A and B, each
// with the same few files, and around them the things no board command may reach (a file
// and a folder above the drives, a link in drive C to a file outside, a subfolder of drive C). Every entry carries
// one fixed, old modification time, so anything that writes, creates, deletes or renames
// shows at once in a single stat; restoring puts back only the drives that show it. Every
// entry is held open (O_PATH) for the whole process and looked at by fstat, which walks no
// path: a file replaced or renamed under its name changes its folder's time, and a file
// removed drops its link count to 0, so the held descriptor still tells.
//
// Those stats are made only where something happened: every folder of the sandbox is
// watched by one inotify instance, and an input whose changes raised no event there leaves
// nothing to look at. The kernel raises the events inside the very calls that create,
// remove, rename, write, truncate or change the attributes of an entry, so none can be
// missed by the time the input ends; only writes through a shared mapping raise none, and
// the file service maps no file. A queue that overflowed counts as news everywhere.
#include <dirent.h>
#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "board/board_window.h"
#include "board/printer_canvas.h"
#include "fuzz_check.h"
#include "fuzz_scratch.h"
#include "platform/dos_files.h"

namespace mirte::fuzzing {

class QuietBoardWindow : public IBoardWindow {
public:
  // Room for the longest status text from the start, so that no input grows it for the next.
  QuietBoardWindow() { status.reserve(256); }
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

  FUZZ_CHECK_CODE static void Check(bool condition) {
    if (!condition) {
      std::fprintf(stderr, "printer used out of a document\n");
      std::abort();
    }
  }
  bool open = false;
};

class BoardSandbox {
public:
  explicit BoardSandbox(ScratchFolder::TUse use = ScratchFolder::kServedDrives) : scratch_("mirte-board-fuzz", use) {
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
    news_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (news_ < 0) std::abort();
    for (const char* folder : {"", "/outside", "/prog", "/prog/dosdevices", "/work/SUBDIR"})
      outsideWatches_.push_back(Watch(root_ + folder));
    for (std::size_t d = 0; d < drives_.size(); ++d) driveWatches_[d] = Watch(drives_[d]);
  }

  ~BoardSandbox() {
    ::close(news_);
    for (const auto& sentinel : sentinels_) ::close(sentinel.fd);
    for (const auto& drive : held_)
      for (int fd : drive) ::close(fd);
  }

  BoardSandbox(const BoardSandbox&) = delete;
  BoardSandbox& operator=(const BoardSandbox&) = delete;

  const std::string& Root() const { return root_; }
  bool InOwnMemory() const { return scratch_.InOwnMemory(); }
  // 0: the working folder (drive C), 1: drive A, 2: drive B.
  const std::string& Drive(int index) const { return drives_[std::size_t(index)]; }
  TProgramFiles ProgramFiles() const { return {"", "", root_ + "/prog/dosdevices"}; }

  // Everything outside the drives' own files is as it was made: the drive folders keep
  // their inode and mode, everything else also its size, link count and time.
  FUZZ_CHECK_CODE bool OutsideUntouched() const {
    if (!outsideNews_) return true;
    for (const auto& sentinel : sentinels_) {
      const struct stat now = HeldStat(sentinel.fd);
      const struct stat& was = sentinel.was;
      if (now.st_ino != was.st_ino || now.st_mode != was.st_mode || now.st_nlink == 0) return false;
      if (!sentinel.timed) continue;
      if (now.st_size != was.st_size || now.st_nlink != was.st_nlink || !Old(now)) return false;
    }
    return true;
  }

  // Takes the folder watches' news of everything since the last restore: made once an input
  // has ended, before asking what it touched.
  FUZZ_CHECK_CODE void TakeNews() { ReadNews(); }

  // Whether anything in the drive may differ from how it was made since the last restore:
  // a name in it came, went or was renamed, or a file in it was written or changed its mode.
  bool DriveTouched(int index) const { return driveNews_[std::size_t(index)]; }

  // Puts back the seed files of every drive an input changed, as the news taken last tells,
  // and removes what it added; tells which drives the restore itself changed.
  FUZZ_CHECK_CODE std::array<bool, 3> RestoreDrives() {
    std::array<bool, 3> restored{};
    for (std::size_t d = 0; d < drives_.size(); ++d) {
      if (!driveNews_[d]) continue;
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
      restored[d] = touched;
    }
    // What the restore itself raised is no news of the next input.
    if (restored != std::array<bool, 3>{}) ReadNews();
    driveNews_ = {};
    outsideNews_ = false;
    return restored;
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
  int Watch(const std::string& folder) {
    constexpr std::uint32_t kChanges = IN_ATTRIB | IN_MODIFY | IN_CREATE | IN_DELETE | IN_MOVED_FROM |
                                       IN_MOVED_TO | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR | IN_DONT_FOLLOW;
    const int watch = ::inotify_add_watch(news_, folder.c_str(), kChanges);
    if (watch < 0) std::abort();
    return watch;
  }

  // Takes every event queued since the last call into driveNews_ and outsideNews_. An event
  // on a drive folder itself, or on drive C's link or subfolder, is news outside the drives.
  FUZZ_CHECK_CODE void ReadNews() {
    alignas(inotify_event) char events[16384];
    for (;;) {
      const ssize_t got = ::read(news_, events, sizeof events);
      if (got <= 0) return;
      // Room left for the longest event: the queue was empty, no need to ask again.
      const bool all = std::size_t(got) <= sizeof events - (sizeof(inotify_event) + NAME_MAX + 1);
      for (ssize_t at = 0; at < got;) {
        const auto* event = reinterpret_cast<const inotify_event*>(events + at);
        at += ssize_t(sizeof(inotify_event) + event->len);
        if (event->mask & IN_Q_OVERFLOW) {
          driveNews_ = {true, true, true};
          outsideNews_ = true;
          continue;
        }
        bool onADrive = false;
        for (std::size_t d = 0; d < drives_.size(); ++d) {
          if (event->wd != driveWatches_[d]) continue;
          onADrive = true;
          const std::string_view name = event->len ? std::string_view(event->name) : std::string_view();
          if (name.empty() || (d == 0 && (name == "LINK.TXT" || name == "SUBDIR")))
            outsideNews_ = true;
          else
            driveNews_[d] = true;
        }
        if (!onADrive) outsideNews_ = true;
      }
      if (all) return;
    }
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

  ScratchFolder scratch_;
  const std::string& root_ = scratch_.Path();
  std::vector<std::string> drives_;
  std::vector<Seed> seeds_;
  std::vector<Sentinel> sentinels_;
  // Per drive, a descriptor of each seed file, in seeds_ order.
  std::vector<std::vector<int>> held_;
  int news_ = -1;  // the inotify instance
  std::vector<int> outsideWatches_;
  std::array<int, 3> driveWatches_{};
  std::array<bool, 3> driveNews_{};
  bool outsideNews_ = false;
};

}  // namespace mirte::fuzzing
