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
      {"shifted letter", 'A', modifiers::Shift, "A", "A"},
      {"enter", keys::Return, 0, "\r", "\r"},
      {"keypad enter", keys::Enter, modifiers::Keypad, "\r", "\r"},
      {"ctrl enter is a line feed", keys::Return, modifiers::Control, "\r", "\n"},
      {"ctrl backspace is delete", keys::Backspace, modifiers::Control, "\b", "\x7F"},
      {"ctrl space", ' ', modifiers::Control, " ", " "},
      {"ctrl letter ignores the platform text", 'C', modifiers::Control, "", "\x03"},
      {"ctrl bracket", '[', modifiers::Control, "", "\x1B"},
      {"shift tab", keys::Backtab, modifiers::Shift, "", "\t"},
      {"alt letter goes to the menus", 'F', modifiers::Alt, "f", ""},
      {"altgr types its character", 'E', modifiers::Control | modifiers::Alt, "\xE2\x82\xAC", "\x80"},
      {"cursor key types nothing", keys::Left, 0, "", ""},
      {"function key types nothing", keys::F1, 0, "", ""},
      {"accented letter in 1252", 0x00C8, 0, "\xC3\xA8", "\xE8"},
      {"character 1252 cannot hold", 0x03A9, 0, "\xCE\xA9", ""},
      {"composed text", keys::Unknown, 0, "\xC3\xA0\xC3\xA8", "\xE0\xE8"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(SystemCharacters({c.key, c.mods, c.text}), c.typed) << c.what;
}

}  // namespace
}  // namespace mirte
