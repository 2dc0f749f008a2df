#pragma once
// What a key typed in the terminal window does: bytes for the board, or a command of the
// program. Pure functions over the toolkit's key code, modifier bits and event text, so
// the window's handlers only carry out the answer. Key codes and modifier bits are the
// toolkit's (stable) numeric values; keys and modifier sets not described below do
// nothing and send nothing. Characters go out as Windows-1252 bytes; a character that
// code page cannot hold is dropped rather than sent as something else.
#include <string>
#include <string_view>

namespace mirte {

// The toolkit's key codes this module looks at. Letters, digits and punctuation are their
// upper-case ASCII value.
namespace keys {
constexpr int Escape = 0x01000000;
constexpr int Tab = 0x01000001;
constexpr int Backtab = 0x01000002;
constexpr int Backspace = 0x01000003;
constexpr int Return = 0x01000004;
constexpr int Enter = 0x01000005;  // on the keypad
constexpr int Insert = 0x01000006;
constexpr int Delete = 0x01000007;
constexpr int Home = 0x01000010;
constexpr int End = 0x01000011;
constexpr int Left = 0x01000012;
constexpr int Up = 0x01000013;
constexpr int Right = 0x01000014;
constexpr int Down = 0x01000015;
constexpr int PageUp = 0x01000016;
constexpr int PageDown = 0x01000017;
constexpr int F1 = 0x01000030;
constexpr int F4 = 0x01000033;
constexpr int F10 = 0x01000039;
// Keys below this value stand for characters; at and above it, for function keys.
constexpr int FirstSpecialKey = 0x01000000;
}  // namespace keys

// The toolkit's modifier bits.
namespace modifiers {
constexpr unsigned Shift = 0x02000000;
constexpr unsigned Control = 0x04000000;
constexpr unsigned Alt = 0x08000000;
constexpr unsigned Meta = 0x10000000;
// Says where the key is, not what is held: ignored when the modifier set is judged.
constexpr unsigned Keypad = 0x20000000;
constexpr unsigned GroupSwitch = 0x40000000;
}  // namespace modifiers

struct TKeyEvent {
  int Key = 0;
  unsigned Modifiers = 0;
  std::string_view Text;  // UTF-8, as the toolkit produced it for the key
};

// What the terminal window knows about its mouse selection when the key arrives.
struct TKeySelection {
  bool HasSelection = false;
  bool Dragging = false;  // the mouse is still making the selection
};

enum class TKeyAction {
  None,
  CancelSelection,  // Esc while dragging a selection
  CopySelection,    // Ctrl+C or Ctrl+Insert while a selection exists
  ClearTerminal,    // Ctrl+Home
  SendUserString,   // Ctrl+F1 ... Ctrl+F10, when that user string's item is enabled
  EndProgram,       // Alt+F4
};

struct TKeyResult {
  TKeyAction Action = TKeyAction::None;
  int UserString = 0;  // 1 ... 10 with SendUserString
  // Bytes for the board, sent as one string unless the port is not available.
  std::string Bytes;
  // The terminal control kept the key: no character follows it. The window's key-down
  // handling never sets it, as the system derives the character of a Ctrl key regardless.
  bool Consumed = false;

  bool operator==(const TKeyResult&) const = default;
};

// The three stages a key passes, in order. Each stage's result says whether it consumed
// the key; TranslateKey runs them in turn and gives the outcome of the whole key.

// The terminal control's own handling: cancelling a drag, copying a selection.
TKeyResult TerminalKeyDown(const TKeyEvent& event, const TKeySelection& selection);
// The main window's key-down handling: the cursor and editing keys, Ctrl and Alt commands.
TKeyResult TerminalWnKeyDown(const TKeyEvent& event);
// The main window's character handling: the byte the key types, if any.
std::string TerminalWnKeyPress(const TKeyEvent& event);

TKeyResult TranslateKey(const TKeyEvent& event, const TKeySelection& selection);

}  // namespace mirte
