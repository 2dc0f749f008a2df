#pragma once
// The board's console as plain text: every cell as the code page 437 glyph the window
// draws for it (NUL and invisible cells as blanks), in UTF-8, one line per row with the
// blanks at its end cut. Saving the console and logging it both write this form.
#include <cstdint>
#include <span>
#include <string>

#include "terminal/terminal_buffer.h"

namespace mirte {

// One row of single-byte characters; `attrs` may be shorter (missing cells are visible).
std::string RowText(std::span<const std::uint8_t> chars, std::span<const std::uint8_t> attrs);

// The history and the screen, oldest row first, each line ended by LF. Blank rows after
// the last row holding text are left out, so an empty console gives an empty text.
std::string ConsoleText(const TTerminalBuffer& buffer);

}  // namespace mirte
