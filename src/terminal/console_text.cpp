#include "terminal/console_text.h"

#include <cstring>

#include "platform/code_page.h"

namespace mirte {

namespace {

void CutTrailingBlanks(std::string& text) {
  const std::size_t end = text.find_last_not_of(' ');
  text.erase(end == std::string::npos ? 0 : end + 1);
}

std::string WideRowText(std::span<const std::uint8_t> chars, std::span<const std::uint8_t> attrs) {
  std::string text;
  for (std::size_t col = 0; col * 2 + 1 < chars.size(); ++col) {
    std::uint16_t ch;
    std::memcpy(&ch, chars.data() + col * 2, 2);
    const bool invisible = col < attrs.size() && (attrs[col] & TAttr::Invisible) != 0;
    AppendUtf8(text, invisible || ch == 0 ? U' ' : char32_t(ch));
  }
  CutTrailingBlanks(text);
  return text;
}

}  // namespace

std::string RowText(std::span<const std::uint8_t> chars, std::span<const std::uint8_t> attrs) {
  std::string text;
  text.reserve(chars.size());
  for (std::size_t col = 0; col < chars.size(); ++col) {
    const bool invisible = col < attrs.size() && (attrs[col] & TAttr::Invisible) != 0;
    AppendUtf8(text, invisible ? U' ' : Cp437ToUnicode(chars[col]));
  }
  CutTrailingBlanks(text);
  return text;
}

std::string ConsoleText(const TTerminalBuffer& buffer) {
  std::string text;
  std::size_t lastText = 0;  // length of text up to the last line that holds something
  for (int row = 1 - buffer.RowsAbove(); row <= buffer.RowCount(); ++row) {
    const auto chars = buffer.GetCharRow(row);
    const auto attrs = buffer.GetAttrRow(row);
    const std::string line = buffer.GetWideChars() ? WideRowText(chars, attrs) : RowText(chars, attrs);
    text += line;
    text += '\n';
    if (!line.empty()) lastText = text.size();
  }
  text.resize(lastText);
  return text;
}

}  // namespace mirte
