#pragma once
// The board service as its tests drive it: a service over a real terminal buffer, a fake
// main window and a scripted port, working in a temporary folder (drive C is work/, the
// program folder prog/) and answering without the turn-around wait.
#include <chrono>
#include <deque>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "board/board_service.h"
#include "support/fake_board_window.h"
#include "support/temp_folder.h"
#include "terminal/terminal_buffer.h"

namespace mirte::testing {

// A port whose received bytes the test queues and whose written blocks it records. Output
// leaves one block per ServicePort call; a refusing port answers every write with false.
class ScriptedPort : public IBoardPort {
public:
  using Clock = std::chrono::steady_clock;

  bool InputReady() override { return !input.empty(); }
  bool InputOnTheWay() override { return onTheWay; }
  bool ReadChar(std::uint8_t& byte) override {
    if (input.empty()) return false;
    byte = input.front();
    input.pop_front();
    return true;
  }
  bool DTR() override { return dtr; }
  void SetDTR(bool on) override {
    if (on != dtr) ++dtrChanges;
    dtr = on;
  }
  bool WriteBlock(const std::uint8_t* data, std::size_t size) override {
    if (refuseWrites) return false;
    if (written.empty()) firstWrite = Clock::now();
    written.insert(written.end(), data, data + size);
    blocks.push_back(size);
    pending += static_cast<std::uint32_t>(size);
    return true;
  }
  std::uint32_t OutputPending() override { return pending; }
  void ServicePort() override {
    ++serviceCalls;
    pending = pending > drainPerService ? pending - drainPerService : 0;
  }
  Clock::time_point LastReceiveTime() override { return receivedAt; }

  void Receive(std::string_view bytes) { input.insert(input.end(), bytes.begin(), bytes.end()); }

  std::deque<std::uint8_t> input;
  std::vector<std::uint8_t> written;
  std::vector<std::size_t> blocks;
  Clock::time_point firstWrite;
  Clock::time_point receivedAt;  // the epoch: the port cannot tell
  bool dtr = true;
  int dtrChanges = 0;
  bool refuseWrites = false;
  bool onTheWay = false;  // the device holds bytes the port has not taken yet
  std::uint32_t pending = 0;
  std::uint32_t drainPerService = 1000;
  int serviceCalls = 0;
};

struct BoardServiceRig {
  BoardServiceRig() {
    std::filesystem::create_directories(temp / "prog/dosdevices");
    std::filesystem::create_directories(temp / "work");
    work = std::filesystem::canonical(temp / "work").string();
    buffer.tbSetSVRowCount(24);
    service.SetReplyDelay(std::chrono::microseconds(0));
    service.ResetConsole();
    service.InitFileService();
    service.FileService().SetWorkingFolder(work);
    window.calls.clear();
  }

  // The bytes arrive as one burst through the receive handler.
  void Receive(std::string_view bytes) {
    port.Receive(bytes);
    service.ComPortTriggerAvail();
  }

  TempFolder temp;
  std::string work;
  TTerminalBuffer buffer;
  FakeBoardWindow window;
  ScriptedPort port;
  SettingsRec settings{};
  TBoardService service{buffer, window, {&port, nullptr, &settings, {"", "", (temp / "prog/dosdevices").string()}}};
};

}  // namespace mirte::testing
