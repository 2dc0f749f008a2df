#include "platform/key_characters.h"

#include <cstdint>
#include <optional>

#include "platform/code_page.h"

namespace mirte {

namespace {

// The character a Ctrl combination types, as the original's system derives it from the
// key, whatever text this platform attached to the event.
std::string ControlCharacter(int key) {
  if (key >= 'A' && key <= 'Z') return std::string(1, static_cast<char>(key - 0x40));
  switch (key) {
    case '@': return std::string(1, '\0');
    case '[': return "\x1B";
    case '\\': return "\x1C";
    case ']': return "\x1D";
    case '^': return "\x1E";
    case '_': return "\x1F";
    case ' ': return " ";
    case keys::kReturn:
    case keys::kEnter: return "\n";
    case keys::kBackspace: return "\x7F";
    default: return {};
  }
}

// Keys that are not characters yet type one.
std::string SpecialKeyCharacter(int key) {
  switch (key) {
    case keys::kReturn:
    case keys::kEnter: return "\r";
    case keys::kBackspace: return "\b";
    case keys::kTab:
    case keys::kBacktab: return "\t";
    case keys::Escape: return "\x1B";
    default: return {};
  }
}

// The event text as Windows-1252 bytes. Code points 1252 cannot hold are left out rather
// than sent as '?', and so are control characters when only printable ones may come.
std::string TextAsCp1252(std::string_view utf8, bool printableOnly) {
  std::string out;
  std::size_t pos = 0;
  while (pos < utf8.size()) {
    const std::optional<std::uint8_t> byte = UnicodeToCp1252(DecodeUtf8(utf8, pos));
    if (!byte) continue;
    if (printableOnly && (*byte < 0x20 || *byte == 0x7F)) continue;
    out.push_back(static_cast<char>(*byte));
  }
  return out;
}

}  // namespace

unsigned HeldModifiers(const TKeyEvent& event) {
  return event.Modifiers & (modifiers::kShift | modifiers::kControl | modifiers::kAlt | modifiers::kMeta);
}

std::string SystemCharacters(const TKeyEvent& event) {
  const unsigned held = HeldModifiers(event);
  if (held & modifiers::kMeta) return {};
  const bool control = held & modifiers::kControl;
  const bool alt = held & modifiers::kAlt;
  // An Alt combination's character goes to the menus, never to the window.
  if (alt && !control) return {};
  // Ctrl+Alt is how the original's system spells AltGr: only what it types counts.
  if (alt && control) return TextAsCp1252(event.Text, true);
  if (control) return ControlCharacter(event.Key);
  if (event.Key != 0 && event.Key != keys::kUnknown && event.Key >= keys::kFirstSpecialKey)
    return SpecialKeyCharacter(event.Key);
  return TextAsCp1252(event.Text, false);
}

}  // namespace mirte
