// Arbitrary board byte streams through the whole board service with the real file service
// in a sandbox: drive C's current folder and drives A and B are folders inside it, beside
// files and folders that no board command may reach. The first input byte chooses the
// options (bit 0: the port refuses replies; bit 1: reset the console every few bytes, as
// often as the second byte says; bit 2: print each page; bit 3: abort the print job at the
// end; bit 4: every byte 0xF0 stands for the lead-in DLE DC1, so that frames are common).
// After every input, nothing
// outside the drive folders may have changed and no file may be left open.
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>

#include "board/board_service.h"
#include "support/fake_board_window.h"
#include "terminal/terminal_buffer.h"

namespace {

using namespace mirte;
namespace fs = std::filesystem;

class SinkPort : public IBoardPort {
public:
  bool InputReady() override { return false; }
  bool ReadChar(std::uint8_t&) override { return false; }
  bool DTR() override { return dtr; }
  void SetDTR(bool on) override { dtr = on; }
  bool WriteBlock(const std::uint8_t*, std::size_t) override { return !refuse; }
  std::uint32_t OutputPending() override { return 0; }
  void ServicePort() override {}
  std::chrono::steady_clock::time_point LastReceiveTime() override { return {}; }

  bool refuse = false;
  bool dtr = false;
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

struct Sandbox {
  fs::path root;
  fs::path drives[3];  // work (on C), A and B

  Sandbox() {
    std::string pattern = (fs::temp_directory_path() / "mirte-board-fuzz-XXXXXX").string();
    if (!mkdtemp(pattern.data())) std::abort();
    root = fs::canonical(pattern);
    drives[0] = root / "work";
    drives[1] = root / "drive-a";
    drives[2] = root / "drive-b";
    for (const auto& drive : drives) fs::create_directories(drive);
    fs::create_directories(root / "prog/dosdevices");
    fs::create_symlink(drives[1], root / "prog/dosdevices/a:");
    fs::create_symlink(drives[2], root / "prog/dosdevices/b:");
    // What a board must never reach: the folder above its drives, and things linked in.
    Write(root / "SECRET.TXT", "outside");
    Write(root / "outside/TARGET.TXT", "outside");
    fs::create_symlink(root / "outside/TARGET.TXT", drives[0] / "LINK.TXT");
    fs::create_directories(drives[0] / "SUBDIR");
    Write(drives[0] / "SUBDIR/INNER.TXT", "nested");
  }

  ~Sandbox() {
    std::error_code ignored;
    fs::remove_all(root, ignored);
  }

  static void Write(const fs::path& file, const std::string& text) {
    fs::create_directories(file.parent_path());
    FILE* out = std::fopen(file.c_str(), "wb");
    if (!out) std::abort();
    std::fwrite(text.data(), 1, text.size(), out);
    std::fclose(out);
  }

  // Each input starts from the same few files in every drive.
  void Seed() {
    for (const auto& drive : drives) {
      for (const auto& entry : fs::directory_iterator(drive)) {
        std::string name = entry.path().filename().string();
        if (name == "LINK.TXT" || name == "SUBDIR") continue;
        fs::remove(entry.path());
      }
      Write(drive / "SEED.TXT", std::string(200, 's'));
      Write(drive / "A Long Name.text", std::string(300, 'l'));
      Write(drive / "RO.DAT", std::string(128, 'r'));
      chmod((drive / "RO.DAT").c_str(), 0444);
    }
  }

  // Everything outside the drives' own files: names, kinds, sizes, permissions, times.
  std::map<std::string, std::string> Snapshot() const {
    std::map<std::string, std::string> entries;
    for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it) {
      const fs::path& path = it->path();
      // A drive's own files may change; its links and subfolders, and all below, may not.
      bool inDrive = path.parent_path() == drives[0] || path.parent_path() == drives[1] ||
                     path.parent_path() == drives[2];
      if (inDrive && it->symlink_status().type() == fs::file_type::regular) continue;
      struct stat st;
      if (lstat(path.c_str(), &st) != 0) continue;
      bool isDrive = path == drives[0] || path == drives[1] || path == drives[2];
      entries[path.string()] = std::to_string(st.st_mode) + "/" + std::to_string(isDrive ? 0 : st.st_size) + "/" +
                               std::to_string(isDrive ? 0 : st.st_mtim.tv_nsec + st.st_mtim.tv_sec * 1000000000LL);
    }
    return entries;
  }
};

int OpenDescriptors() {
  int count = 0;
  if (DIR* dir = opendir("/proc/self/fd")) {
    while (readdir(dir)) ++count;
    closedir(dir);
  }
  return count;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static Sandbox sandbox;
  static const std::map<std::string, std::string> untouched = sandbox.Snapshot();
  if (size < 2) return 0;
  sandbox.Seed();
  int descriptors = OpenDescriptors();

  const std::uint8_t options = data[0];
  const std::size_t resetEvery = static_cast<std::size_t>(data[1]) + 1;
  SinkPort port;
  port.refuse = (options & 1) != 0;
  SmallPage printer;
  SettingsRec settings{};
  settings.PrintEachPage = (options & 4) ? 1 : 0;
  mirte::testing::FakeBoardWindow window;
  TTerminalBuffer buffer;
  {
    TBoardService service(buffer, window, {&port, &printer, &settings, {"", "", (sandbox.root / "prog/dosdevices").string()}});
    service.SetReplyDelay(std::chrono::microseconds(0));
    service.ResetConsole();
    service.InitFileService();
    service.FileService().SetWorkingFolder(sandbox.drives[0].string());
    for (std::size_t i = 2; i < size; ++i) {
      if ((options & 16) && data[i] == 0xF0) {
        service.ProcessBoardByte(0x10);
        service.ProcessBoardByte(0x11);
      } else {
        service.ProcessBoardByte(data[i]);
      }
      if ((options & 2) && (i % resetEvery) == 0) service.ResetConsole();
      if (service.GetState() > TBoardService::Executing) std::abort();
    }
    service.EndPrintJob((options & 8) != 0);
  }

  if (sandbox.Snapshot() != untouched) {
    std::fprintf(stderr, "something outside the drive folders changed\n");
    std::abort();
  }
  if (OpenDescriptors() != descriptors) {
    std::fprintf(stderr, "a file was left open\n");
    std::abort();
  }
  return 0;
}
