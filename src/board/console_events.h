#pragma once
// What the board service's console code interpreter made of each console byte, told to a
// listener after the terminal buffer has acted on it, so that a second reader of the
// console (the log) never decodes the codes again. Only what moves the cursor or changes
// the text is told: a bell, an attribute switch and a cursor shape are not. Command frames
// and the DLE that may lead one in never reach the listener; a cursor address out of the
// screen is dropped by the interpreter and not told either. Called on the board service's
// thread, in arrival order, inside the byte path: a listener must not block.
#include <cstdint>

namespace mirte {

class IConsoleEvents {
public:
  virtual ~IConsoleEvents() = default;
  // A character shown at the cursor: its code page 437 byte and the attributes it was
  // written in.
  virtual void Printed(std::uint8_t byte, std::uint8_t attributes) = 0;
  virtual void Home() = 0;            // SOH
  virtual void CursorRight() = 0;     // ACK: wraps to the next row after the last column
  virtual void Backspace() = 0;       // BS, NAK: one column left, nothing erased
  virtual void LineFeed() = 0;        // LF
  virtual void Cleared() = 0;         // FF: screen blank, cursor home
  virtual void CarriageReturn() = 0;  // CR
  virtual void LineBlanked() = 0;     // EM: the row blank, cursor to its first column
  virtual void CursorUp() = 0;        // SUB: stops at the first row
  virtual void NewLine() = 0;         // GS: CR and LF in one
  // ESC K (the row from the cursor) and ESC k (the screen from the cursor).
  virtual void ErasedToEnd(bool restOfScreen) = 0;
  // ESC Y with both bytes on the screen: 1-based row and column.
  virtual void Addressed(int row, int column) = 0;
};

}  // namespace mirte
