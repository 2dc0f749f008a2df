#pragma once
// The PC side of the board's line inside the benchmark's own process: the real port on a
// pseudo-terminal, a terminal buffer, the board service over the port's link, and a
// stand-in main window that pumps as the real one does (waits for news from the port,
// then handles what is waiting). The board is played on a thread of its own against the
// pty's master while this thread pumps, until the board is done or the time is up.
#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

#include "board/board_service.h"
#include "serial/port_rig.h"
#include "session/com_port_link.h"
#include "support/fake_board_window.h"
#include "terminal/terminal_buffer.h"

namespace mirte::bench {

class TInProcessBoard {
public:
  TInProcessBoard() {
    window.onPump = [this] {
      rig.queue.WaitForMessages(std::chrono::milliseconds(1));
      rig.queue.ProcessMessages();
    };
    service.ResetConsole();
    service.InitFileService();
    rig.port.SetOnTriggerAvail([this](TCustomComPort&, std::uint16_t) { service.ComPortTriggerAvail(); });
    rig.port.SetOpen(true);
  }
  TInProcessBoard(const TInProcessBoard&) = delete;
  TInProcessBoard& operator=(const TInProcessBoard&) = delete;

  // Runs `board` with the board's end of the line on a thread of its own while this thread
  // pumps; a board still running after `limit` is waited for without pumping.
  void Play(const std::function<void(int boardFd)>& board, std::chrono::minutes limit) {
    std::atomic<bool> done{false};
    std::thread thread([&] {
      board(rig.board.master());
      done = true;
    });
    rig.queue.PumpUntil([&] { return done.load(); }, limit);
    thread.join();
  }

  testing::PortRig rig;
  TTerminalBuffer buffer;
  testing::FakeBoardWindow window;
  TComPortLink link{rig.port};
  TBoardService service{buffer, window, {&link, nullptr, nullptr, {"", "", (rig.folder / "dosdevices").string()}}};
};

}  // namespace mirte::bench
