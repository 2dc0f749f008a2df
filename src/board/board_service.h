#pragma once
// The board service: every byte the board sends passes through ProcessBoardByte, in
// arrival order. Console bytes act on the terminal buffer (control codes, ESC sequences,
// cursor addressing offset by 32, characters); DLE DC1 starts a command frame, whose bytes
// go to the frame collector. Nothing a board sends can fail: unknown sequences are dropped
// and out-of-range addresses ignored, and ResetConsole returns to console mode from any
// state, abandoning whatever was half received.
#include <cstdint>

#include "board/board_window.h"
#include "terminal/terminal_buffer.h"

namespace mirte {

class TBoardService {
public:
  // Values of `state`: which kind of byte is expected next.
  enum TState : std::uint8_t {
    Console = 0,          // console output: a control code or a character
    Escape = 1,           // the letter after ESC
    AttributeSelect = 2,  // the attribute-mode letter after ESC "0"
    CursorAddress = 3,    // row byte, then column byte, after ESC "Y"
    LeadIn = 4,           // DC1 after DLE
    CommandType = 5,      // the frame's type byte
    Parameters = 6,       // parameter bytes of a frame
    Data = 7,             // data bytes of a frame
    Executing = 8,        // a command is being carried out; bytes are dropped
  };

  // The attribute set that reset establishes for ordinary board text.
  static constexpr std::uint8_t kDefaultAttributes = TAttr::Bold;

  // Starts in console mode with the values ResetConsole sets, without touching the buffer
  // or the window: the main window calls ResetConsole once it is ready.
  TBoardService(TTerminalBuffer& buffer, IBoardWindow& window);

  void ProcessBoardByte(std::uint8_t byte);
  void ResetConsole();

  std::uint8_t GetState() const { return state; }
  std::uint8_t GetAttributeMode() const { return attributeMode; }
  std::uint8_t GetPendingRow() const { return pendingRow; }
  std::uint8_t GetCommandType() const { return commandType; }

private:
  void ConsoleByte(std::uint8_t byte);
  void EscapeByte(std::uint8_t byte);
  void AttributeSelectByte(std::uint8_t byte);
  void CursorAddressByte(std::uint8_t byte);
  // States CommandType to Executing: the frame collector (command_frames.cpp).
  void ProcessCommandByte(std::uint8_t byte);

  TTerminalBuffer& buffer_;
  IBoardWindow& window_;

  std::uint8_t state = Console;
  std::uint8_t attributeMode = 1;
  std::uint8_t pendingRow = 0;

  std::uint8_t commandType = 0;
  std::uint8_t paramCount = 0;
  std::uint8_t paramIndex = 0;
  std::uint8_t dataCount = 0;
  std::uint8_t dataIndex = 0;
  // Kept from frame to frame: commands write results back into it.
  std::uint8_t paramBuffer[28] = {};
  std::uint8_t recordBuffer[128] = {};
};

}  // namespace mirte
