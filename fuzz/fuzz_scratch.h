#pragma once
// A folder of the targets' own for a whole process, in memory where it can be so that the
// file operations of every input stay there: /dev/shm when it can be written, else the
// temporary folder. Drives the file service serves cannot lie in /dev/shm (it refuses every
// folder below /dev), so those go to a file system of the process's own: a tmpfs mounted
// on a folder in the temporary folder, inside a mount namespace only this process sees
// (made with a user namespace where the user may not make one alone). Where neither can
// be made they go to the user's runtime folder ($XDG_RUNTIME_DIR, in memory on most
// desktops; set TMPDIR to a tmpfs elsewhere) or the temporary folder.
//
// Why the drives must not lie on a disk file system: a board target makes and deletes
// files thousands of times a second, and ext4 then looks through every inode deleted in
// the last seconds before it hands out a new one. In a long run that took a quarter of
// the target's time.
//
// The namespace can only be made while the process has one thread, so a target that wants
// its drives in memory makes its folder from LLVMFuzzerInitialize. Removed with all it
// holds when the object goes.
#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace mirte::fuzzing {

class ScratchFolder {
public:
  enum TUse { kAnyFiles, kServedDrives, kServedDrivesInMemory };

  explicit ScratchFolder(const std::string& prefix, TUse use = kAnyFiles) {
    namespace fs = std::filesystem;
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    fs::path base = fs::temp_directory_path();
    if (use == kAnyFiles && ::access("/dev/shm", W_OK) == 0)
      base = "/dev/shm";
    else if (use != kAnyFiles && runtime && *runtime == '/' && ::access(runtime, W_OK) == 0)
      base = runtime;
    else if (use != kAnyFiles && base.string().starts_with("/dev/"))
      base = "/tmp";  // the scripts point TMPDIR at /dev/shm for the fuzzer's own files
    std::string pattern = (base / (prefix + "-XXXXXX")).string();
    if (!::mkdtemp(pattern.data())) std::abort();
    path_ = fs::canonical(pattern).string();
    if (use == kServedDrivesInMemory) mounted_ = MountOwnMemory(path_);
  }
  ~ScratchFolder() {
    std::error_code ignored;
    if (mounted_) {
      ::umount2(path_.c_str(), MNT_DETACH);
      std::filesystem::remove(path_, ignored);
    } else {
      std::filesystem::remove_all(path_, ignored);
    }
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  const std::string& Path() const { return path_; }
  // Whether the folder is a tmpfs of this process's own.
  bool InOwnMemory() const { return mounted_; }

private:
  static bool WriteProcFile(const char* path, const std::string& text) {
    const int fd = ::open(path, O_WRONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool written = ::write(fd, text.data(), text.size()) == ssize_t(text.size());
    ::close(fd);
    return written;
  }

  // A mount namespace of the process's own, with nothing shared back to the machine's: a
  // plain one where the user may mount, else one inside a user namespace that maps the
  // user to itself, so that every file still belongs to whoever runs the target.
  static bool OwnMountNamespace() {
    if (::unshare(CLONE_NEWNS) != 0) {
      const std::string uid = std::to_string(::getuid());
      const std::string gid = std::to_string(::getgid());
      if (::unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0) return false;
      if (!WriteProcFile("/proc/self/setgroups", "deny") ||
          !WriteProcFile("/proc/self/uid_map", uid + " " + uid + " 1") ||
          !WriteProcFile("/proc/self/gid_map", gid + " " + gid + " 1"))
        return false;
    }
    return ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
  }

  static bool MountOwnMemory(const std::string& folder) {
    if (OwnMountNamespace() &&
        ::mount("mirte-fuzz", folder.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, "size=256m,mode=0700") == 0)
      return true;
    std::fprintf(stderr, "INFO: the drives lie in %s, on the disk: no file system of its own could be mounted\n",
                 folder.c_str());
    return false;
  }

  std::string path_;
  bool mounted_ = false;
};

}  // namespace mirte::fuzzing
