#pragma once
// The character a key types, as the original's system derives it: the window gets it
// after the key-down, as Windows-1252 bytes, control characters included (Enter 0x0D,
// Ctrl+A ... Ctrl+Z 0x01 ... 0x1A whatever text this platform attached to the event).
// Key codes and modifier bits are the toolkit's stable numeric values, so this stays
// free of the toolkit. Code points 1252 cannot hold are left out, never sent as '?'.
#include <string>
#include <string_view>

namespace mirte {

// The toolkit's key codes this module looks at. Letters, digits and punctuation are their
// upper-case ASCII value.
namespace keys {
constexpr int Escape = 0x01000000;
constexpr int kTab = 0x01000001;
constexpr int kBacktab = 0x01000002;
constexpr int kBackspace = 0x01000003;
constexpr int kReturn = 0x01000004;
constexpr int kEnter = 0x01000005;  // on the keypad
constexpr int kInsert = 0x01000006;
constexpr int kDelete = 0x01000007;
constexpr int kHome = 0x01000010;
constexpr int kEnd = 0x01000011;
constexpr int kLeft = 0x01000012;
constexpr int kUp = 0x01000013;
constexpr int kRight = 0x01000014;
constexpr int kDown = 0x01000015;
constexpr int kPageUp = 0x01000016;
constexpr int kPageDown = 0x01000017;
constexpr int kF1 = 0x01000030;
constexpr int kF4 = 0x01000033;
constexpr int kF10 = 0x01000039;
constexpr int kUnknown = 0x01FFFFFF;  // input methods deliver composed text with it
// Keys below this value stand for characters; at and above it, for function keys.
constexpr int kFirstSpecialKey = 0x01000000;
}  // namespace keys

// The toolkit's modifier bits.
namespace modifiers {
constexpr unsigned kShift = 0x02000000;
constexpr unsigned kControl = 0x04000000;
constexpr unsigned kAlt = 0x08000000;
constexpr unsigned kMeta = 0x10000000;
// Says where the key is, not what is held: ignored when the modifier set is judged.
constexpr unsigned kKeypad = 0x20000000;
constexpr unsigned kGroupSwitch = 0x40000000;
}  // namespace modifiers

struct TKeyEvent {
  int Key = 0;
  unsigned Modifiers = 0;
  std::string_view Text;  // UTF-8, as the toolkit produced it for the key
};

// The modifier keys held (Shift, Control, Alt, Meta), without the bits that say where
// the key is: the set by which key handling is judged.
unsigned HeldModifiers(const TKeyEvent& event);

// The characters the key types: usually one byte, none for keys that type nothing (cursor
// and function keys, Alt combinations), several for text an input method composed.
std::string SystemCharacters(const TKeyEvent& event);

}  // namespace mirte
