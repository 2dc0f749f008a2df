#pragma once
// Text conversions at the program's edges. Records, files and the board link carry
// single-byte Windows-1252 strings; the windows show Unicode; board bytes are drawn with
// the glyphs of the OEM code page 437 (graphics for control codes included).
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace mirte {

// Unicode code point of a Windows-1252 byte. The five bytes 1252 leaves undefined
// (0x81, 0x8D, 0x8F, 0x90, 0x9D) map to the C1 control of the same value.
char32_t Cp1252ToUnicode(std::uint8_t byte);

// The Windows-1252 byte for a code point, or nothing when 1252 cannot hold it.
std::optional<std::uint8_t> UnicodeToCp1252(char32_t codePoint);

// The glyph code page 437 shows for a byte: 0x00 is a blank, 0x01-0x1F and 0x7F are the
// OEM graphics (smileys, arrows, house), 0x80-0xFF the accented letters and box drawing.
char32_t Cp437ToUnicode(std::uint8_t byte);

// Whole strings: UTF-8 <-> Windows-1252 bytes. Unconvertible code points become '?'
// and invalid UTF-8 sequences count as one '?' each, so a conversion never fails.
std::string Utf8ToCp1252(std::string_view utf8);
std::string Cp1252ToUtf8(std::string_view bytes);
// True when every code point of a UTF-8 string has a Windows-1252 byte.
bool FitsCp1252(std::string_view utf8);

// Decodes the code point at `pos` of UTF-8 text and advances past it; a malformed
// sequence gives U+FFFD and is skipped one byte at a time.
char32_t DecodeUtf8(std::string_view text, std::size_t& pos);

// Appends the UTF-8 encoding of one code point.
void AppendUtf8(std::string& out, char32_t codePoint);

}  // namespace mirte
