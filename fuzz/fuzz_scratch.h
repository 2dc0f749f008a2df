#pragma once
// A folder of the targets' own for a whole process: in the user's runtime folder
// ($XDG_RUNTIME_DIR, a memory file system on most desktops) when there is one, so that the
// file operations of every input stay in memory, else in the temporary folder. Never in
// /dev/shm: the file service refuses every folder below /dev, so drives there serve nothing.
// Removed with all it holds when the object goes.
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace mirte::fuzzing {

class ScratchFolder {
public:
  explicit ScratchFolder(const std::string& prefix) {
    namespace fs = std::filesystem;
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    fs::path base = runtime && *runtime == '/' && ::access(runtime, W_OK) == 0 ? fs::path(runtime)
                                                                               : fs::temp_directory_path();
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
