#pragma once
// Folders held open by descriptor, so that what the board names is resolved from its drive's
// root one component at a time and never through a link: a folder swapped for a link
// between two commands, or during one, is refused instead of followed. Whatever happens to
// the names above an open folder, names opened from it stay inside it.
#include <sys/stat.h>

#include <string>
#include <string_view>

namespace mirte {

// The refused roots by device and inode, looked up once for as long as the value is kept.
class TRefusedRoots {
public:
  TRefusedRoots();
  bool Refuses(const struct stat& folder) const;

private:
  struct TId {
    dev_t Device = 0;
    ino_t Inode = 0;
  };
  TId roots_[5];
  dev_t kernelDevices_[3] = {};
  int rootCount_ = 0;
  int kernelCount_ = 0;
};

// Folders no drive and no working folder may ever stand for: "/", "/run", and "/proc",
// "/sys" and "/dev" with everything below them. The folder is resolved fully first, and a
// folder that is the same one under another name (a bind mount of "/") is refused too.
// False for a folder that does not exist (that is refused elsewhere, for another reason).
bool IsRefusedRoot(const std::string& folder);
bool IsRefusedRoot(const std::string& folder, const TRefusedRoots& refused);

// One open folder (read-only, close-on-exec). Move-only; closes on destruction. A handle
// whose opener already had to look at the folder keeps that status, so that the next
// question about what folder it is needs no call of its own.
class TFolderHandle {
public:
  TFolderHandle() = default;
  explicit TFolderHandle(int fd) : fd_(fd) {}
  TFolderHandle(int fd, const struct stat& status) : fd_(fd), status_(status), statusKnown_(fd >= 0) {}
  TFolderHandle(TFolderHandle&& other) noexcept
      : fd_(other.fd_), status_(other.status_), statusKnown_(other.statusKnown_) {
    other.Release();
  }
  TFolderHandle& operator=(TFolderHandle&& other) noexcept;
  TFolderHandle(const TFolderHandle&) = delete;
  TFolderHandle& operator=(const TFolderHandle&) = delete;
  ~TFolderHandle();

  bool Valid() const { return fd_ >= 0; }
  int Fd() const { return fd_; }
  // The folder's status as it was opened, or null when the opener did not look.
  const struct stat* Status() const { return statusKnown_ ? &status_ : nullptr; }
  int Release();

private:
  int fd_ = -1;
  struct stat status_ {};
  bool statusKnown_ = false;
};

// Opens `relative` beneath the open folder `root`: no component may be a link (magic links
// of /proc included), "..", or lead outside `root`. Uses openat2 where the kernel has it and
// a walk of O_NOFOLLOW|O_DIRECTORY opens otherwise. An empty `relative` opens `root` again.
TFolderHandle OpenBeneath(int root, std::string_view relative);

// Opens an absolute folder path with no link anywhere on its way, as a drive root is opened
// once per command: invalid for a relative path, a path through a link, a refused root, or
// anything that is not a folder. The handle keeps the root's status.
TFolderHandle OpenDriveRoot(const std::string& canonicalRoot);
TFolderHandle OpenDriveRoot(const std::string& canonicalRoot, const TRefusedRoots& refused);

// Plain names in an open folder, never through a link and only on regular files; each
// returns -1 or false with errno on failure. `name` must be a single component.
// Status of the regular file `name`.
bool StatFileAt(int folder, const std::string& name, struct stat& st);
// Opens it for reading, or for reading and writing; `st` gets the status of what was opened.
int OpenFileAt(int folder, const std::string& name, bool write, struct stat& st);
// Makes a new file; fails when the name exists in any form.
int CreateFileAt(int folder, const std::string& name);
bool DeleteFileAt(int folder, const std::string& name);
// Renames within the folder; fails when the new name exists.
bool RenameFileAt(int folder, const std::string& from, const std::string& to);
// Sets the permission bits of the regular file `name` (never of what a link names).
bool SetModeAt(int folder, const std::string& name, mode_t mode);

}  // namespace mirte
