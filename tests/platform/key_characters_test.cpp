#include "platform/key_characters.h"

#include <gtest/gtest.h>

namespace mirte {
namespace {

// The characters the terminal window hands to its owner: the original system's rules,
// whatever text this platform attached to the event.
TEST(KeyCharacters, TypesWhatTheOriginalSystemTyped) {
  struct Case {
    const char* what;
    int key;
    unsigned mods;
    const char* text;
    std::string typed;
  } cases[] = {
      {"letter", 'A', 0, "a", "a"},
      {"shifted letter", 'A', modifiers::kShift, "A", "A"},
      {"enter", keys::kReturn, 0, "\r", "\r"},
      {"keypad enter", keys::kEnter, modifiers::kKeypad, "\r", "\r"},
      {"ctrl enter is a line feed", keys::kReturn, modifiers::kControl, "\r", "\n"},
      {"ctrl backspace is delete", keys::kBackspace, modifiers::kControl, "\b", "\x7F"},
      {"ctrl space", ' ', modifiers::kControl, " ", " "},
      {"ctrl letter ignores the platform text", 'C', modifiers::kControl, "", "\x03"},
      {"ctrl bracket", '[', modifiers::kControl, "", "\x1B"},
      {"shift tab", keys::kBacktab, modifiers::kShift, "", "\t"},
      {"alt letter goes to the menus", 'F', modifiers::kAlt, "f", ""},
      {"altgr types its character", 'E', modifiers::kControl | modifiers::kAlt, "\xE2\x82\xAC", "\x80"},
      {"cursor key types nothing", keys::kLeft, 0, "", ""},
      {"function key types nothing", keys::kF1, 0, "", ""},
      {"accented letter in 1252", 0x00C8, 0, "\xC3\xA8", "\xE8"},
      {"character 1252 cannot hold", 0x03A9, 0, "\xCE\xA9", ""},
      {"composed text", keys::kUnknown, 0, "\xC3\xA0\xC3\xA8", "\xE0\xE8"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(SystemCharacters({c.key, c.mods, c.text}), c.typed) << c.what;
}

}  // namespace
}  // namespace mirte
