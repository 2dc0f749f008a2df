#pragma once
// The board service on a real serial port, for tests that play the board over a
// pseudo-terminal: the port rig's pty and TComPort, a terminal buffer, a fake main window
// whose event pump pumps the port's queue, and the link between the port and the service.
// A fixture lays out its folder first and then calls Serve(), which starts the service as
// the program does (console reset, drives read) and opens the port; nothing is read
// before.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "board/board_service.h"
#include "serial/port_rig.h"
#include "session/com_port_link.h"
#include "support/board_frames.h"
#include "support/fake_board_window.h"
#include "terminal/terminal_buffer.h"

namespace mirte::testing {

class PortServiceFixture : public ::testing::Test {
protected:
  // `program` and `settings` name the program's own files in the rig's folder, which the
  // board is never shown; empty names stand for no such files.
  explicit PortServiceFixture(const std::string& program = {}, const std::string& settings = {})
      : service(buffer, window,
                {&link, nullptr, nullptr,
                 {InFolder(program), InFolder(settings), (rig.folder / "dosdevices").string()}}) {
    buffer.tbSetSVRowCount(24);
    window.onPump = [this] { rig.queue.ProcessMessages(); };
  }

  // Starts serving, with `work` as the working folder when one is given.
  void Serve(const std::string& work = {}) {
    service.ResetConsole();
    service.InitFileService();
    if (!work.empty()) service.FileService().SetWorkingFolder(work);
    rig.port.SetOnTriggerAvail([this](TCustomComPort&, std::uint16_t) { service.ComPortTriggerAvail(); });
    rig.port.SetOpen(true);
  }

  // The board sends `bytes` and waits for `replySize` bytes of answer.
  std::vector<std::uint8_t> Exchange(const std::string& bytes, std::size_t replySize) {
    return rig.exchange(bytes, replySize);
  }
  TBoardExchange Exchanger() {
    return [this](const std::string& bytes, std::size_t replySize) { return Exchange(bytes, replySize); };
  }

  PortRig rig;
  TTerminalBuffer buffer;
  FakeBoardWindow window;
  TComPortLink link{rig.port};
  TBoardService service;

private:
  std::string InFolder(const std::string& name) const { return name.empty() ? "" : (rig.folder / name).string(); }
};

}  // namespace mirte::testing
