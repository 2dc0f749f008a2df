#pragma once
// What the board targets serve through: a main window that only keeps what it is told, a
// small printer page that checks it is used inside a document, and the board target's
// drive sandbox.
//
// The sandbox is built once per process, in memory where it can be (the target asks
// ScratchFolder for a file system of its own): drives C (the working folder), A and B, each
// with the same few files, and around them the things no board command may reach (a file
// and a folder above the drives, a link in drive C to a file outside, a subfolder of drive
// C). Every entry carries one fixed, old modification time, so anything that writes or
// replaces it shows in a single stat. The entries outside the drives are held open (O_PATH)
// for the whole process and looked at by fstat, which walks no path: a file removed drops
// its link count to 0, so the held descriptor still tells.
//
// Every folder of the sandbox is watched by one inotify instance, and only what its events
// name is looked at: nothing outside the drives when no event came from there, and in a
// drive only the names an event carried. A name that is no seed file is removed, a seed
// file that is not as it was made is written again. The kernel raises the events inside
// the very calls that create, remove, rename, write, truncate or change the attributes of
// an entry, so none can be missed by the time the input ends; only writes through a shared
// mapping raise none, and the file service maps no file. A queue that overflowed counts as
// news of every name everywhere.
#include <dirent.h>
#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
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

  FUZZ_TARGET_CODE static void Check(bool condition) {
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
    for (std::size_t d = 0; d < drives_.size(); ++d) {
      for (std::size_t i = 0; i < seeds_.size(); ++i)
        seedInodes_[d][i] = WriteFile(drives_[d] + "/" + seeds_[i].name, seeds_[i].text, seeds_[i].mode);
      MarkOld(drives_[d]);
    }
    for (const char* path : {"", "/SECRET.TXT", "/outside", "/outside/TARGET.TXT", "/prog", "/prog/dosdevices",
                             "/prog/dosdevices/a:", "/prog/dosdevices/b:", "/work/LINK.TXT", "/work/SUBDIR",
                             "/work/SUBDIR/INNER.TXT"}) {
      MarkOld(root_ + path);
      AddSentinel(root_ + path, true);
    }
    for (std::size_t d = 0; d < drives_.size(); ++d) {
      AddSentinel(drives_[d], false);
      folders_[d] = ::open(drives_[d].c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
      if (folders_[d] < 0) std::abort();
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
    for (int folder : folders_) ::close(folder);
  }

  BoardSandbox(const BoardSandbox&) = delete;
  BoardSandbox& operator=(const BoardSandbox&) = delete;

  const std::string& Root() const { return root_; }
  bool InOwnMemory() const { return scratch_.InOwnMemory(); }
  // 0: the working folder (drive C), 1: drive A, 2: drive B.
  const std::string& Drive(int index) const { return drives_[std::size_t(index)]; }
  // The drive's folder, open for reading for the whole process.
  int DriveFolder(int index) const { return folders_[std::size_t(index)]; }
  TProgramFiles ProgramFiles() const { return {"", "", root_ + "/prog/dosdevices"}; }

  // Everything outside the drives' own files is as it was made: the drive folders keep
  // their inode and mode, everything else also its size, link count and time.
  FUZZ_TARGET_CODE bool OutsideUntouched() const {
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
  FUZZ_TARGET_CODE void TakeNews() { ReadNews(); }

  // Whether anything in the drive may differ from how it was made since the last restore:
  // a name in it came, went or was renamed, or a file in it was written or changed its mode.
  bool DriveTouched(int index) const { return driveNews_[std::size_t(index)].Any; }

  // Puts back the seed files of every drive an input changed, as the news taken last tells,
  // and removes what it added; tells which drives the restore itself changed.
  FUZZ_TARGET_CODE std::array<bool, 3> RestoreDrives() {
    std::array<bool, 3> restored{};
    for (std::size_t d = 0; d < drives_.size(); ++d) {
      const TDriveNews& news = driveNews_[d];
      if (!news.Any) continue;
      const std::string& drive = drives_[d];
      if (news.Everything) restored[d] = RemoveAdded(drive, d == 0);
      for (const std::string& name : news.Others) restored[d] = Remove(drive + "/" + name) || restored[d];
      for (std::size_t i = 0; i < seeds_.size(); ++i) {
        if (!news.Everything && !news.Seeds[i]) continue;
        const Seed& seed = seeds_[i];
        const std::string path = drive + "/" + seed.name;
        const struct stat now = Stat(path);
        if (AsMade(now, seed) && now.st_ino == seedInodes_[d][i]) continue;
        Remove(path);
        seedInodes_[d][i] = WriteFile(path, seed.text, seed.mode);
        restored[d] = true;
      }
    }
    // What the restore itself raised is no news of the next input.
    if (restored != std::array<bool, 3>{}) ReadNews();
    for (TDriveNews& news : driveNews_) news.Clear();
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
  // What a drive's events named since the last restore. The names other than the seeds'
  // keep their storage from input to input, so that an input allocates no more than the
  // one before it did.
  struct TDriveNews {
    bool Any = false;
    bool Everything = false;  // the queue overflowed: any name may have changed
    std::array<bool, 3> Seeds{};
    std::vector<std::string> Others;
    void Clear() {
      Any = Everything = false;
      Seeds = {};
      Others.clear();
    }
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
  FUZZ_TARGET_CODE void ReadNews() {
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
          for (TDriveNews& news : driveNews_) news.Any = news.Everything = true;
          outsideNews_ = true;
          continue;
        }
        bool onADrive = false;
        for (std::size_t d = 0; d < drives_.size(); ++d) {
          if (event->wd != driveWatches_[d]) continue;
          onADrive = true;
          const std::string_view name = event->len ? std::string_view(event->name) : std::string_view();
          if (name.empty() || (d == 0 && OutsideInDriveC(name)))
            outsideNews_ = true;
          else
            Note(driveNews_[d], name);
        }
        if (!onADrive) outsideNews_ = true;
      }
      if (all) return;
    }
  }

  // Drive C's link to a file outside and its subfolder belong to the outside.
  static bool OutsideInDriveC(std::string_view name) { return name == "LINK.TXT" || name == "SUBDIR"; }

  // The index of the seed file of that name in seeds_, or -1.
  int SeedIndex(std::string_view name) const {
    for (std::size_t i = 0; i < seeds_.size(); ++i)
      if (seeds_[i].name == name) return int(i);
    return -1;
  }

  void Note(TDriveNews& news, std::string_view name) const {
    news.Any = true;
    if (const int seed = SeedIndex(name); seed >= 0)
      news.Seeds[std::size_t(seed)] = true;
    else if (std::find(news.Others.begin(), news.Others.end(), name) == news.Others.end())
      news.Others.emplace_back(name);
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
  // Writes the file afresh, with the old time, and tells its inode.
  static ino_t WriteFile(const std::string& path, const std::string& text, mode_t mode) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0 || ::write(fd, text.data(), text.size()) != ssize_t(text.size())) std::abort();
    ::fchmod(fd, mode);
    const timespec times[2] = {{kOldTime, 0}, {kOldTime, 0}};
    struct stat st {};
    if (::futimens(fd, times) != 0 || ::fstat(fd, &st) != 0) std::abort();
    ::close(fd);
    return st.st_ino;
  }

  // Removes whatever is at the path, a folder with all it holds; tells whether it was there.
  static bool Remove(const std::string& path) {
    if (::unlink(path.c_str()) == 0) return true;
    if (errno != EISDIR && errno != EPERM) return false;
    std::error_code ignored;
    return std::filesystem::remove_all(path, ignored) > 0;
  }

  // Removes every name in the drive that no seed file has; tells whether there was any.
  bool RemoveAdded(const std::string& drive, bool workingFolder) {
    std::vector<std::string> added;
    if (DIR* dir = ::opendir(drive.c_str())) {
      while (const dirent* entry = ::readdir(dir)) {
        std::string_view name = entry->d_name;
        if (name == "." || name == "..") continue;
        if (workingFolder && OutsideInDriveC(name)) continue;
        if (SeedIndex(name) < 0) added.emplace_back(name);
      }
      ::closedir(dir);
    }
    for (const auto& name : added) Remove(drive + "/" + name);
    return !added.empty();
  }

  ScratchFolder scratch_;
  const std::string& root_ = scratch_.Path();
  std::vector<std::string> drives_;
  std::vector<Seed> seeds_;
  std::vector<Sentinel> sentinels_;
  std::array<int, 3> folders_{};
  // Per drive, the inode of each seed file as last written, in seeds_ order.
  std::array<std::array<ino_t, 3>, 3> seedInodes_{};
  int news_ = -1;  // the inotify instance
  std::vector<int> outsideWatches_;
  std::array<int, 3> driveWatches_{};
  std::array<TDriveNews, 3> driveNews_{};
  bool outsideNews_ = false;
};

}  // namespace mirte::fuzzing
