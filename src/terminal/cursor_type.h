#pragma once
// The shapes of the terminal's text cursor. The board chooses them with ESC M, ESC P and
// ESC Q; the terminal control draws them.
namespace mirte {

enum class TCursorType { ctNone, ctUnderline, ctBlock };

}  // namespace mirte
