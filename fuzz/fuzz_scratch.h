#pragma once
// A folder of the targets' own for a whole process, in memory where it can be so that the
// file operations of every input stay there: /dev/shm when it can be written, else the
// temporary folder. Drives the file service serves cannot lie in /dev/shm (it refuses every
// folder below /dev), so those go to the user's runtime folder ($XDG_RUNTIME_DIR, in memory on
// most desktops; set TMPDIR to a tmpfs elsewhere) or the temporary folder.
// Removed with all it holds when the object goes.
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace mirte::fuzzing {

class ScratchFolder {
public:
  enum TUse { kAnyFiles, kServedDrives };

  explicit ScratchFolder(const std::string& prefix, TUse use = kAnyFiles) {
    namespace fs = std::filesystem;
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    fs::path base = fs::temp_directory_path();
    if (use == kAnyFiles && ::access("/dev/shm", W_OK) == 0)
      base = "/dev/shm";
    else if (use == kServedDrives && runtime && *runtime == '/' && ::access(runtime, W_OK) == 0)
      base = runtime;
    std::string pattern = (base / (prefix + "-XXXXXX")).string();
    if (!::mkdtemp(pattern.data())) std::abort();
    path_ = fs::canonical(pattern).string();
  }
  ~ScratchFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  const std::string& Path() const { return path_; }

private:
  std::string path_;
};

}  // namespace mirte::fuzzing
