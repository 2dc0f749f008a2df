// Arbitrary board byte streams through the whole board service with the real file service
// in a sandbox: drive C's current folder and drives A and B are folders inside it, beside
// files and folders that no board command may reach. The first input byte chooses the
// options (bit 0: the port refuses replies; bit 1: reset the console every few bytes, as
// often as the second byte says; bit 2: print each page; bit 3: abort the print job at the
// end; bit 4: every byte 0xF0 stands for the lead-in DLE DC1, so that frames are common).
//
// The sandbox and the service are made once per process (see ServedBoard), and after each
// input only what the input changed is put back. Checked after every byte: a finished
// frame sent exactly the reply its type promises, as one block, and nothing else was sent.
// Checked after every input: the kept folder listings show each drive the input touched as
// a fresh reading does, nothing outside the drive folders changed (the entries there are
// sentinels, compared by inode, size, mode and times wherever a folder watch saw news) and
// no descriptor was left open.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
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
  // The rest of the input is always on its way: a frame is never cut off by silence, which
  // would make what an input does depend on how fast it ran.
  bool InputOnTheWay() override { return true; }
  bool DTR() override { return dtr; }
  void SetDTR(bool on) override { dtr = on; }
  bool WriteBlock(const std::uint8_t*, std::size_t size) override {
    blocks.push_back(size);
    return !refuse;
  }
  std::uint32_t OutputPending() override { return 0; }
  void ServicePort() override {}
  std::chrono::steady_clock::time_point LastReceiveTime() override { return {}; }

  // Starts the port afresh for an input, keeping the storage of the last: an input that
  // allocates what only the next one frees looks like a leak to the fuzzer, which then runs
  // it again to make sure.
  void Restart(bool refuseReplies) {
    blocks.clear();
    refuse = refuseReplies;
    dtr = false;
  }

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

FUZZ_TARGET_CODE TFrameShape ShapeOf(std::uint8_t type) {
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

  FUZZ_TARGET_CODE void Before(const TBoardService& service, std::uint8_t byte) {
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

  FUZZ_TARGET_CODE void After(const TBoardService& service) {
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
FUZZ_TARGET_CODE bool ListingsAgreeWithTheDrives(TDosListings& listings, const BoardSandbox& sandbox) {
  for (int drive = 0; drive < 3; ++drive) {
    if (!sandbox.DriveTouched(drive)) continue;
    // The kept listing, brought up to date with the folder's news, and a reading by path.
    TDosListing* listing = listings.Of(sandbox.DriveFolder(drive));
    const std::vector<TDosFileInfo> kept = listing ? listing->Files() : std::vector<TDosFileInfo>{};
    const std::vector<TDosFileInfo> fresh = ListDosFiles(sandbox.Drive(drive));
    const auto same = [](const TDosFileInfo& a, const TDosFileInfo& b) {
      return a.Name == b.Name && a.Alias == b.Alias && a.ReadOnly == b.ReadOnly;
    };
    if (!std::equal(kept.begin(), kept.end(), fresh.begin(), fresh.end(), same)) return false;
  }
  return true;
}

// The listings of the drives a restore changed read its news now, within the input that
// caused it: left to the next input, the entries a restore put back would be allocated
// there, and the fuzzer would take it for a leak and run it again.
FUZZ_TARGET_CODE void ListingsFollowTheRestore(TDosListings& listings, const BoardSandbox& sandbox,
                                              const std::array<bool, 3>& restored) {
  for (int drive = 0; drive < 3; ++drive) {
    if (restored[std::size_t(drive)]) (void)listings.Of(sandbox.DriveFolder(drive));
  }
}

// Found afresh for every input: the fuzzer opens descriptors between inputs, and keeps some
// (its symbolizer's pipe once it has printed a new function).
int LowestFreeDescriptor() {
  int fd = ::fcntl(0, F_DUPFD_CLOEXEC, 0);
  if (fd < 0) fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
  ::close(fd);
  return fd;
}

// One board service for the whole process, over the sandbox's drives. No input can change a
// drive link or the working folder (the sandbox's sentinels would tell), so the drives'
// roots, links and own files are looked up once, under one hold for the whole process; each
// command still opens its folders from the roots and serves real files. The listings
// follow their folders' changes, the restores included. Between inputs the console is reset
// and the file service started again, which leaves the service as a new one: the drives
// stay, the open files, the search, the print job and the frame buffers go.
struct ServedBoard {
  explicit ServedBoard(const BoardSandbox& sandbox)
      : service(buffer, window, {&port, &printer, &settings, sandbox.ProgramFiles()}),
        lookedUpOnce(service.FileService().Drives()) {
    service.SetReplyDelay(std::chrono::microseconds(0));
    service.FileService().SetWorkingFolder(sandbox.Drive(0));
  }

  // The screen of the rig the board tests use, with a short history: console output is
  // console_fuzz's business, and clearing 200 rows per reset would cost more than a frame.
  TTerminalBuffer buffer = [] {
    TTerminalBuffer sized;
    sized.tbSetSVRowCount(24);
    sized.SetHistoryCapacity(4);
    return sized;
  }();
  QuietBoardWindow window;
  RecordingPort port;
  SmallPage printer;
  SettingsRec settings{};
  TBoardService service;
  const TDosDrives::THold lookedUpOnce;
};

BoardSandbox& Sandbox() {
  static BoardSandbox sandbox(ScratchFolder::kServedDrivesInMemory);
  return sandbox;
}

}  // namespace

// The drives' own file system can only be mounted while the process has one thread: now,
// before the fuzzer starts its own.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
  Sandbox();
  return 0;
}

extern "C" FUZZ_TARGET_CODE int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  BoardSandbox& sandbox = Sandbox();
  static ServedBoard board(sandbox);
  if (size < 2) return 0;
  const int freeDescriptor = LowestFreeDescriptor();

  const std::uint8_t options = data[0];
  const std::size_t resetEvery = static_cast<std::size_t>(data[1]) + 1;
  TBoardService& service = board.service;
  board.port.Restart((options & 1) != 0);
  board.settings.PrintEachPage = (options & 4) ? 1 : 0;
  service.ResetConsole();
  service.InitFileService();
  ReplyCheck replies(board.port);
  auto feed = [&](std::uint8_t byte) FUZZ_TARGET_CODE {
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
    FUZZ_CHECK(board.window.printJobOpen == service.PrintJobOpen() && board.printer.open == service.PrintJobOpen());
  }
  service.EndPrintJob((options & 8) != 0);
  FUZZ_CHECK(!board.printer.open && !board.window.printJobOpen);

  sandbox.TakeNews();
  if (!ListingsAgreeWithTheDrives(service.FileService().Listings(), sandbox)) {
    std::fprintf(stderr, "a kept folder listing differs from the folder\n");
    std::abort();
  }
  if (!sandbox.OutsideUntouched()) {
    std::fprintf(stderr, "something outside the drive folders changed\n");
    std::abort();
  }
  // A descriptor left open would have taken the lowest free number.
  if (::fcntl(freeDescriptor, F_GETFD) != -1) {
    std::fprintf(stderr, "a file was left open\n");
    std::abort();
  }
  ListingsFollowTheRestore(service.FileService().Listings(), sandbox, sandbox.RestoreDrives());
  return 0;
}
