#include "platform/dos_folder.h"

#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <climits>
#include <cstdlib>

namespace mirte {

namespace {

constexpr std::array<const char*, 5> kRefusedRoots = {"/", "/run", "/proc", "/sys", "/dev"};
// Everything below these is the kernel's or the devices', never a user's folder. /run is
// refused only itself: removable media are mounted below it.
constexpr std::array<const char*, 3> kRefusedTrees = {"/proc", "/sys", "/dev"};

constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

bool Below(const std::string& path, std::string_view tree) {
  return path.size() > tree.size() && path.compare(0, tree.size(), tree) == 0 && path[tree.size()] == '/';
}

// A folder reached through no link at all; `beneath` also keeps a relative path inside `at`.
int OpenAt2Folder(int at, const char* path, bool beneath) {
  struct open_how how {};
  how.flags = static_cast<std::uint64_t>(O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  how.resolve = RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS | (beneath ? RESOLVE_BENEATH : 0);
  long fd;
  do {
    fd = syscall(SYS_openat2, at, path, &how, sizeof how);
  } while (fd < 0 && (errno == EINTR || errno == EAGAIN));
  return static_cast<int>(fd);
}

bool WithoutOpenAt2(int fd) {
  return fd < 0 && (errno == ENOSYS || errno == EPERM || errno == E2BIG);
}

// The walk for kernels without openat2 (or where it is filtered out).
int WalkBeneath(int root, std::string_view relative) {
  int current = fcntl(root, F_DUPFD_CLOEXEC, 0);
  std::size_t start = 0;
  while (current >= 0 && start <= relative.size()) {
    std::size_t slash = relative.find('/', start);
    std::string_view part = relative.substr(start, slash == std::string_view::npos ? std::string_view::npos : slash - start);
    start = slash == std::string_view::npos ? relative.size() + 1 : slash + 1;
    if (part.empty() || part == ".") continue;
    if (part == "..") {
      close(current);
      errno = EXDEV;
      return -1;
    }
    int next;
    do {
      next = openat(current, std::string(part).c_str(), kFolderFlags);
    } while (next < 0 && errno == EINTR);
    int error = errno;
    close(current);
    errno = error;
    current = next;
  }
  return current;
}

}  // namespace

TRefusedRoots::TRefusedRoots() {
  struct stat top {};
  bool haveTop = stat("/", &top) == 0;
  for (const char* refused : kRefusedRoots) {
    struct stat st {};
    if (stat(refused, &st) == 0) roots_[rootCount_++] = {st.st_dev, st.st_ino};
  }
  // A folder on the kernel's own file systems, wherever it is mounted. Where such a tree
  // shares the root's file system (some containers) only the tree itself is refused.
  for (const char* tree : kRefusedTrees) {
    struct stat st {};
    if (stat(tree, &st) == 0 && haveTop && st.st_dev != top.st_dev) kernelDevices_[kernelCount_++] = st.st_dev;
  }
}

bool TRefusedRoots::Refuses(const struct stat& folder) const {
  for (int i = 0; i < rootCount_; ++i)
    if (roots_[i].Device == folder.st_dev && roots_[i].Inode == folder.st_ino) return true;
  for (int i = 0; i < kernelCount_; ++i)
    if (kernelDevices_[i] == folder.st_dev) return true;
  return false;
}

bool IsRefusedRoot(const std::string& folder) {
  return IsRefusedRoot(folder, TRefusedRoots());
}

bool IsRefusedRoot(const std::string& folder, const TRefusedRoots& refused) {
  if (folder.empty()) return false;
  char resolved[PATH_MAX];
  if (!realpath(folder.c_str(), resolved)) return false;
  std::string canonical = resolved;
  for (const char* refused : kRefusedRoots)
    if (canonical == refused) return true;
  for (const char* tree : kRefusedTrees)
    if (Below(canonical, tree)) return true;
  struct stat st {};
  return stat(resolved, &st) == 0 && refused.Refuses(st);
}

TFolderHandle& TFolderHandle::operator=(TFolderHandle&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) close(fd_);
    status_ = other.status_;
    statusKnown_ = other.statusKnown_;
    fd_ = other.Release();
  }
  return *this;
}

TFolderHandle::~TFolderHandle() {
  if (fd_ >= 0) close(fd_);
}

int TFolderHandle::Release() {
  int out = fd_;
  fd_ = -1;
  statusKnown_ = false;
  return out;
}

TFolderHandle OpenBeneath(int root, std::string_view relative) {
  if (root < 0) return TFolderHandle();
  while (!relative.empty() && relative.front() == '/') relative.remove_prefix(1);
  std::string path = relative.empty() ? std::string(".") : std::string(relative);
  int fd = OpenAt2Folder(root, path.c_str(), true);
  if (WithoutOpenAt2(fd)) fd = WalkBeneath(root, path);
  return TFolderHandle(fd);
}

TFolderHandle OpenDriveRoot(const std::string& canonicalRoot) {
  return OpenDriveRoot(canonicalRoot, TRefusedRoots());
}

TFolderHandle OpenDriveRoot(const std::string& canonicalRoot, const TRefusedRoots& refused) {
  if (canonicalRoot.empty() || canonicalRoot[0] != '/') return TFolderHandle();
  // From "/" nothing lies outside, so the absolute path needs no folder to stay beneath:
  // one call, where the walk needs "/" open first.
  TFolderHandle root(OpenAt2Folder(AT_FDCWD, canonicalRoot.c_str(), false));
  if (WithoutOpenAt2(root.Fd())) {
    TFolderHandle top(open("/", kFolderFlags));
    if (!top.Valid()) return top;
    root = OpenBeneath(top.Fd(), canonicalRoot);
  }
  struct stat status {};
  if (!root.Valid() || fstat(root.Fd(), &status) != 0 || !S_ISDIR(status.st_mode) || refused.Refuses(status))
    return TFolderHandle();
  return TFolderHandle(root.Release(), status);
}

bool StatFileAt(int folder, const std::string& name, struct stat& st) {
  if (fstatat(folder, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return false;
  if (!S_ISREG(st.st_mode)) {
    errno = S_ISLNK(st.st_mode) ? ELOOP : EISDIR;
    return false;
  }
  return true;
}

int OpenFileAt(int folder, const std::string& name, bool write, struct stat& st) {
  int fd;
  do {
    fd = openat(folder, name.c_str(), (write ? O_RDWR : O_RDONLY) | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return -1;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd);
    errno = EISDIR;
    return -1;
  }
  return fd;
}

int CreateFileAt(int folder, const std::string& name) {
  int fd;
  do {
    fd = openat(folder, name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

bool DeleteFileAt(int folder, const std::string& name) {
  struct stat st;
  return StatFileAt(folder, name, st) && unlinkat(folder, name.c_str(), 0) == 0;
}

bool RenameFileAt(int folder, const std::string& from, const std::string& to) {
  struct stat st;
  if (!StatFileAt(folder, from, st)) return false;
  if (from == to) return true;
  if (renameat2(folder, from.c_str(), folder, to.c_str(), RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS) return false;
  // File systems without RENAME_NOREPLACE: a hard link cannot replace either.
  if (linkat(folder, from.c_str(), folder, to.c_str(), 0) != 0) return false;
  return unlinkat(folder, from.c_str(), 0) == 0;
}

bool SetModeAt(int folder, const std::string& name, mode_t mode) {
  int fd = openat(folder, name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st;
  bool done = false;
  if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
    // A descriptor opened without access cannot be changed directly; its /proc name can,
    // and it names exactly the file opened. Without /proc the plain name is the fallback.
    std::string self = "/proc/self/fd/" + std::to_string(fd);
    done = chmod(self.c_str(), mode) == 0 || (errno == ENOENT && fchmodat(folder, name.c_str(), mode, 0) == 0);
  } else {
    errno = EISDIR;
  }
  int error = errno;
  close(fd);
  errno = error;
  return done;
}

}  // namespace mirte
