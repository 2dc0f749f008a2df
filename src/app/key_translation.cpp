#include "app/key_translation.h"

#include <cstdint>
#include <optional>

#include "platform/code_page.h"

namespace mirte {

namespace {

constexpr unsigned kHeldModifiers =
    modifiers::Shift | modifiers::Control | modifiers::Alt | modifiers::Meta;

// Input methods deliver composed characters with this code (or with 0).
constexpr int kUnknownKey = 0x01FFFFFF;

unsigned HeldModifiers(const TKeyEvent& event) { return event.Modifiers & kHeldModifiers; }

// The board's software is a CP/M-era full-screen editor: cursor and editing keys are its
// control-key commands.
std::string EditingKeySequence(int key) {
  switch (key) {
    case keys::PageUp: return "\x12";
    case keys::PageDown: return "\x03";
    case keys::End: return "\x11" "C";
    case keys::Home: return "\x11" "R";
    case keys::Left: return "\x13";
    case keys::Up: return "\x05";
    case keys::Right: return "\x04";
    case keys::Down: return "\x18";
    case keys::Insert: return "\x16";
    case keys::Delete: return "\x07";
    default: return {};
  }
}

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
    case keys::Return:
    case keys::Enter: return "\n";
    case keys::Backspace: return "\x7F";
    default: return {};
  }
}

// Keys that are not characters yet type one.
std::string SpecialKeyCharacter(int key) {
  switch (key) {
    case keys::Return:
    case keys::Enter: return "\r";
    case keys::Backspace: return "\b";
    case keys::Tab:
    case keys::Backtab: return "\t";
    case keys::Escape: return "\x1B";
    default: return {};
  }
}

// The next code point of UTF-8 text, advancing pos; nothing for a malformed sequence,
// which is skipped one byte at a time.
std::optional<char32_t> NextCodePoint(std::string_view utf8, std::size_t& pos) {
  const auto lead = static_cast<unsigned char>(utf8[pos++]);
  if (lead < 0x80) return lead;
  int extra = lead >= 0xF0 && lead < 0xF8 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC2 ? 1 : -1;
  if (extra < 0 || pos + extra > utf8.size()) return std::nullopt;
  char32_t codePoint = lead & (0x3F >> extra);
  for (int i = 0; i < extra; ++i) {
    const auto next = static_cast<unsigned char>(utf8[pos + i]);
    if ((next & 0xC0) != 0x80) return std::nullopt;
    codePoint = (codePoint << 6) | (next & 0x3F);
  }
  pos += extra;
  return codePoint;
}

// The event text as Windows-1252 bytes. Code points 1252 cannot hold are left out rather
// than sent as '?', and so are control characters when only printable ones may come.
std::string TextAsCp1252(std::string_view utf8, bool printableOnly) {
  std::string out;
  std::size_t pos = 0;
  while (pos < utf8.size()) {
    const std::optional<char32_t> codePoint = NextCodePoint(utf8, pos);
    if (!codePoint) continue;
    const std::optional<std::uint8_t> byte = UnicodeToCp1252(*codePoint);
    if (!byte) continue;
    if (printableOnly && (*byte < 0x20 || *byte == 0x7F)) continue;
    out.push_back(static_cast<char>(*byte));
  }
  return out;
}

}  // namespace

TKeyResult TerminalKeyDown(const TKeyEvent& event, const TKeySelection& selection) {
  TKeyResult result;
  if (selection.Dragging && event.Key == keys::Escape) {
    result.Action = TKeyAction::CancelSelection;
    result.Consumed = true;
  } else if (selection.HasSelection && HeldModifiers(event) == modifiers::Control &&
             (event.Key == 'C' || event.Key == keys::Insert)) {
    result.Action = TKeyAction::CopySelection;
    result.Consumed = true;
  }
  return result;
}

TKeyResult TerminalWnKeyDown(const TKeyEvent& event) {
  TKeyResult result;
  switch (HeldModifiers(event)) {
    case modifiers::Control:
      if (event.Key == keys::Home) {
        result.Action = TKeyAction::ClearTerminal;
      } else if (event.Key >= keys::F1 && event.Key <= keys::F10) {
        result.Action = TKeyAction::SendUserString;
        result.UserString = event.Key - keys::F1 + 1;
      }
      break;
    case modifiers::Alt:
      if (event.Key == keys::F4) result.Action = TKeyAction::EndProgram;
      break;
    case 0:
      result.Bytes = EditingKeySequence(event.Key);
      break;
    default:
      break;
  }
  return result;
}

std::string TerminalWnKeyPress(const TKeyEvent& event) {
  const unsigned held = HeldModifiers(event);
  if (held & modifiers::Meta) return {};
  const bool control = held & modifiers::Control;
  const bool alt = held & modifiers::Alt;
  // An Alt combination's character goes to the menus, never to the window.
  if (alt && !control) return {};
  // Ctrl+Alt is how the original's system spells AltGr: only what it types counts.
  if (alt && control) return TextAsCp1252(event.Text, true);
  if (control) return ControlCharacter(event.Key);
  if (event.Key != 0 && event.Key != kUnknownKey && event.Key >= keys::FirstSpecialKey)
    return SpecialKeyCharacter(event.Key);
  return TextAsCp1252(event.Text, false);
}

TKeyResult TranslateKey(const TKeyEvent& event, const TKeySelection& selection) {
  TKeyResult result = TerminalKeyDown(event, selection);
  if (result.Consumed) return result;
  result = TerminalWnKeyDown(event);
  result.Bytes += TerminalWnKeyPress(event);
  return result;
}

}  // namespace mirte
