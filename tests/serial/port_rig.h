#pragma once
// A board on a pseudo-terminal wired to a real TComPort: a temporary program folder whose
// dosdevices/comN link points at the pty's slave, the plain main-thread queue, and helpers
// that pump that queue the way the program's event loop would.
#include <poll.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "platform/com_devices.h"
#include "serial/com_port.h"
#include "serial/plain_main_thread_queue.h"
#include "support/pty_pair.h"
#include "support/temp_folder.h"

namespace mirte::testing {

class PortRig {
public:
  static constexpr int BoardCom = 7;

  PortRig() {
    std::filesystem::create_directory(folder / "dosdevices");
    SetComDevicesFolder(folder / "dosdevices");
    link(BoardCom, board.slavePath());
    port.SetComNumber(BoardCom);
    port.SetBaud(115200);
    port.SetStopBits(2);
    port.SetAutoOpen(false);
  }
  ~PortRig() {
    if (port.Open()) port.SetOpen(false);
    queue.PumpUntil([this] { return port.PortState() == StateClosed; }, std::chrono::milliseconds(5000));
  }

  void link(int com, const std::filesystem::path& target) {
    auto name = folder / "dosdevices" / ("com" + std::to_string(com));
    std::filesystem::remove(name);
    std::filesystem::create_symlink(target, name);
  }

  // Pumps until `done` holds; false after `limit`.
  template <typename Done>
  bool pumpUntil(Done done, std::chrono::milliseconds limit = std::chrono::milliseconds(3000)) {
    return queue.PumpUntil(done, limit);
  }

  // What the board has received so far, at most `count` bytes, without waiting.
  std::vector<std::uint8_t> boardReceived(std::size_t count) {
    std::vector<std::uint8_t> out(count);
    pollfd p{board.master(), POLLIN, 0};
    if (count == 0 || ::poll(&p, 1, 0) <= 0) return {};
    ssize_t n = ::read(board.master(), out.data(), count);
    out.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    return out;
  }
  // The board sends `bytes`; the queue is pumped until `replySize` bytes of answer have
  // come back or the time is up.
  std::vector<std::uint8_t> exchange(const std::string& bytes, std::size_t replySize) {
    board.write(bytes);
    std::vector<std::uint8_t> reply;
    pumpUntil([&] {
      std::vector<std::uint8_t> chunk = boardReceived(replySize - reply.size());
      reply.insert(reply.end(), chunk.begin(), chunk.end());
      return reply.size() >= replySize;
    });
    return reply;
  }

  TempFolder folder;
  PtyPair board;
  TPlainMainThreadQueue queue;
  TComPort port{&queue};
};

inline std::vector<std::uint8_t> patternBytes(std::size_t count, unsigned seed = 1) {
  std::vector<std::uint8_t> bytes(count);
  for (std::size_t i = 0; i < count; ++i) bytes[i] = static_cast<std::uint8_t>((i * 31 + seed * 7 + (i >> 8)) & 0xFF);
  return bytes;
}

}  // namespace mirte::testing
