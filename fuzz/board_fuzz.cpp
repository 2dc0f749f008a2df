// Arbitrary board byte streams through the whole board service with the real file service
// in a sandbox: drive C's current folder and drives A and B are folders inside it, beside
// files and folders that no board command may reach. The first input byte chooses the
// options (bit 0: the port refuses replies; bit 1: reset the console every few bytes, as
// often as the second byte says; bit 2: print each page; bit 3: abort the print job at the
// end; bit 4: every byte 0xF0 stands for the lead-in DLE DC1, so that frames are common).
//
// The sandbox is made once per process, in memory where it can be (ScratchFolder), and after
// each input only what the input changed is put back. No input can change a drive link or
// the working folder, so the drives' roots, links and own files are looked up once per
// input (one hold over the input) rather than once per command; each command still opens
// its folders from the roots and serves real files. Checked after every byte: a finished
// frame sent exactly the reply its type promises, as one block, and nothing else was sent.
// Checked after every input: the kept folder listings show each drive as a fresh reading
// does, nothing outside the drive folders changed (the entries there are sentinels,
// compared by inode, size, mode and times) and no descriptor was left open.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "board/board_service.h"
#include "fuzz_board_parts.h"
#include "fuzz_check.h"
#include "terminal/terminal_buffer.h"

namespace {

using namespace mirte;
using namespace mirte::fuzzing;

class RecordingPort : public IBoardPort {
public:
  bool InputReady() override { return false; }
  bool ReadChar(std::uint8_t&) override { return false; }
  bool DTR() override { return dtr; }
  void SetDTR(bool on) override { dtr = on; }
  bool WriteBlock(const std::uint8_t*, std::size_t size) override {
    blocks.push_back(size);
    return !refuse;
  }
  std::uint32_t OutputPending() override { return 0; }
  void ServicePort() override {}
  std::chrono::steady_clock::time_point LastReceiveTime() override { return {}; }

  std::vector<std::size_t> blocks;
  bool refuse = false;
  bool dtr = false;
};

// The bytes a frame of each type carries after its type byte, and the bytes of its reply;
// kept here apart from the service's own table so that the two check each other.
struct TFrameShape {
  int body = -1;  // -1: not served, the frame ends at its type byte
  int reply = 0;
};

TFrameShape ShapeOf(std::uint8_t type) {
  switch (type) {
    case 5: return {1, 0};
    case 13: return {0, 0};
    case 14: return {1, 0};
    case 15: case 16: case 19: case 22: case 30: return {12, 1};
    case 17: case 18: return {12, 13};
    case 20: return {12, 129};
    case 21: return {12 + 128, 1};
    case 23: return {23, 1};
    case 24: return {0, 2};
    case 25: return {0, 1};
    case 29: return {0, 2};
    case 32: return {0, 1};
    case 33: return {14, 129};
    case 34: return {14 + 128, 1};
    case 35: case 36: return {12, 3};
    case 37: return {2, 1};
    case 40: return {12, 1};
    default: return {};
  }
}

// Follows the stream beside the service and checks each reply against the frame's shape.
class ReplyCheck {
public:
  explicit ReplyCheck(RecordingPort& port) : port_(port) {}

  void Before(const TBoardService& service, std::uint8_t byte) {
    blocksBefore_ = port_.blocks.size();
    if (service.GetState() == TBoardService::CommandType) {
      shape_ = ShapeOf(byte);
      left_ = shape_.body;
      inFrame_ = shape_.body >= 0;
    } else if (inFrame_ && (service.GetState() == TBoardService::Parameters ||
                            service.GetState() == TBoardService::Data)) {
      --left_;
    }
  }

  void After(const TBoardService& service) {
    const bool finished = inFrame_ && left_ == 0;
    if (finished) {
      inFrame_ = false;
      FUZZ_CHECK(service.GetState() < TBoardService::LeadIn);
      if (shape_.reply == 0) {
        FUZZ_CHECK(port_.blocks.size() == blocksBefore_);
      } else {
        FUZZ_CHECK(port_.blocks.size() == blocksBefore_ + 1);
        FUZZ_CHECK(port_.blocks.back() == std::size_t(shape_.reply));
      }
    } else {
      FUZZ_CHECK(port_.blocks.size() == blocksBefore_);
    }
  }

  // The console was reset: a half frame is dropped without an answer.
  void Reset() { inFrame_ = false; }

private:
  RecordingPort& port_;
  TFrameShape shape_;
  int left_ = 0;
  bool inFrame_ = false;
  std::size_t blocksBefore_ = 0;
};

// The listings kept from input to input must show each drive the input changed as reading
// it afresh would: whatever the board made, renamed or deleted, on top of what the last
// restore put back. A drive nothing changed sent no news, and its listing cannot have moved.
bool ListingsAgreeWithTheDrives(TDosListings& listings, const BoardSandbox& sandbox) {
  for (int drive = 0; drive < 3; ++drive) {
    if (!sandbox.DriveChanged(drive)) continue;
    const std::string& folder = sandbox.Drive(drive);
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    TDosListing* listing = listings.Of(fd);
    const std::vector<TDosFileInfo> kept = listing ? listing->Files() : std::vector<TDosFileInfo>{};
    ::close(fd);
    const std::vector<TDosFileInfo> fresh = ListDosFiles(folder);
    const auto same = [](const TDosFileInfo& a, const TDosFileInfo& b) {
      return a.Name == b.Name && a.Alias == b.Alias && a.ReadOnly == b.ReadOnly;
    };
    if (!std::equal(kept.begin(), kept.end(), fresh.begin(), fresh.end(), same)) return false;
  }
  return true;
}

int LowestFreeDescriptor() {
  int fd = ::fcntl(0, F_DUPFD_CLOEXEC, 0);
  if (fd < 0) fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
  ::close(fd);
  return fd;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static BoardSandbox sandbox;
  // Kept for the whole process: a listing follows its folder's changes, the restores
  // included, so a service finds them as a new one would; a listings object made and
  // dropped per input would cost each input a kernel wait on closing its change notices.
  static TDosListings listings;
  if (size < 2) return 0;
  const int freeDescriptor = LowestFreeDescriptor();

  const std::uint8_t options = data[0];
  const std::size_t resetEvery = static_cast<std::size_t>(data[1]) + 1;
  // The screen of the rig the board tests use, with a short history: console output is
  // console_fuzz's business, and clearing 200 rows per reset would cost more than a frame.
  static TTerminalBuffer buffer = [] {
    TTerminalBuffer sized;
    sized.tbSetSVRowCount(24);
    sized.SetHistoryCapacity(4);
    return sized;
  }();
  static QuietBoardWindow window;
  RecordingPort port;
  port.refuse = (options & 1) != 0;
  SmallPage printer;
  SettingsRec settings{};
  settings.PrintEachPage = (options & 4) ? 1 : 0;
  ReplyCheck replies(port);
  {
    // A service of its own for every input: the frame buffers carry over between frames
    // by design, and must not carry over between inputs.
    TBoardService service(buffer, window, {&port, &printer, &settings, sandbox.ProgramFiles(), &listings});
    service.SetReplyDelay(std::chrono::microseconds(0));
    service.ResetConsole();
    service.InitFileService();
    // Setting the working folder forgets what a hold has seen, so the hold taken first also
    // serves the lookups of the setting itself.
    const TDosDrives::THold lookedUpOnce(service.FileService().Drives());
    service.FileService().SetWorkingFolder(sandbox.Drive(0));
    auto feed = [&](std::uint8_t byte) {
      replies.Before(service, byte);
      service.ProcessBoardByte(byte);
      replies.After(service);
    };
    for (std::size_t i = 2; i < size; ++i) {
      if ((options & 16) && data[i] == 0xF0) {
        feed(0x10);
        feed(0x11);
      } else {
        feed(data[i]);
      }
      if ((options & 2) && (i % resetEvery) == 0) {
        service.ResetConsole();
        replies.Reset();
      }
      FUZZ_CHECK(service.GetState() <= TBoardService::Executing);
      FUZZ_CHECK(window.printJobOpen == service.PrintJobOpen() && printer.open == service.PrintJobOpen());
    }
    service.EndPrintJob((options & 8) != 0);
    FUZZ_CHECK(!printer.open && !window.printJobOpen);
  }

  if (!ListingsAgreeWithTheDrives(listings, sandbox)) {
    std::fprintf(stderr, "a kept folder listing differs from the folder\n");
    std::abort();
  }
  if (!sandbox.OutsideUntouched()) {
    std::fprintf(stderr, "something outside the drive folders changed\n");
    std::abort();
  }
  if (LowestFreeDescriptor() != freeDescriptor) {
    std::fprintf(stderr, "a file was left open\n");
    std::abort();
  }
  sandbox.RestoreDrives();
  return 0;
}
