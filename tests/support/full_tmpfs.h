#pragma once
// A small tmpfs mounted on a folder while the object lives, which Fill() packs to the
// last byte (or to `room` bytes short of it, so that a file is cut off half written) with
// every later write past that failing with ENOSPC, and Free() empties again. Where
// this process may not mount (no privilege, no tmpfs), Mounted() is false and the folder
// is a plain one: the caller skips. Header-only.
#include <sys/mount.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <system_error>
#include <vector>

namespace mirte::testing {

class ScopedFullTmpfs {
public:
  explicit ScopedFullTmpfs(std::filesystem::path where) : folder(std::move(where)) {
    std::filesystem::create_directories(folder);
    mounted = ::mount("mirte-test", folder.c_str(), "tmpfs", 0, "size=64k,mode=0755") == 0;
  }
  ~ScopedFullTmpfs() {
    if (mounted) ::umount2(folder.c_str(), MNT_DETACH);
  }
  ScopedFullTmpfs(const ScopedFullTmpfs&) = delete;
  ScopedFullTmpfs& operator=(const ScopedFullTmpfs&) = delete;

  bool Mounted() const { return mounted; }
  const std::filesystem::path& Folder() const { return folder; }
  // The file that holds the space; its name is the one entry Fill() leaves behind.
  static constexpr const char* kFiller = "filler";

  void Fill(long room = 0) const {
    std::vector<char> block(512, 'x');
    FILE* filler = std::fopen((folder / kFiller).c_str(), "wb");
    if (!filler) return;
    std::setvbuf(filler, nullptr, _IONBF, 0);
    while (std::fwrite(block.data(), 1, block.size(), filler) == block.size()) {
    }
    // Down to the last byte: a PDF's smallest write must fail too.
    while (std::fwrite(block.data(), 1, 1, filler) == 1) {
    }
    const long size = std::ftell(filler);
    if (room > 0 && size > room && ::ftruncate(::fileno(filler), size - room) != 0) room = 0;
    std::fclose(filler);
  }
  void Free() const {
    std::error_code ignored;
    std::filesystem::remove(folder / kFiller, ignored);
  }

private:
  std::filesystem::path folder;
  bool mounted = false;
};

}  // namespace mirte::testing
