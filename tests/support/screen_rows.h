#pragma once
// The terminal buffer's rows as text, as tests compare what the board has shown.
#include <string>

#include "terminal/terminal_buffer.h"

namespace mirte::testing {

// Row `row` (1 the top row) as text, the blanks at its end dropped.
inline std::string RowText(const TTerminalBuffer& buffer, int row) {
  const auto chars = buffer.GetCharRow(row);
  std::string text(chars.begin(), chars.end());
  return text.substr(0, text.find_last_not_of(' ') + 1);
}

}  // namespace mirte::testing
