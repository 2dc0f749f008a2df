#include "app/key_translation.h"

#include <gtest/gtest.h>

#include <cctype>
#include <ostream>
#include <string>

namespace mirte {
namespace {

constexpr unsigned kShift = modifiers::kShift;
constexpr unsigned kCtrl = modifiers::kControl;
constexpr unsigned kAlt = modifiers::kAlt;
constexpr unsigned kKeypad = modifiers::kKeypad;

struct KeyCase {
  const char* what;
  int key;
  unsigned mods;
  std::string text;
  TKeySelection selection;
  TKeyAction action;
  std::string bytes;
  int userString = 0;
};

std::ostream& operator<<(std::ostream& out, const KeyCase& c) { return out << c.what; }

// "Ctrl+Home clears" -> "Ctrl_Home_clears": the case's words as its test name.
std::string CaseName(const ::testing::TestParamInfo<KeyCase>& info) {
  std::string name;
  for (const char* c = info.param.what; *c; ++c) name += std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
  return name;
}

std::string Hex(const std::string& bytes) {
  std::string out;
  const char* digits = "0123456789ABCDEF";
  for (unsigned char b : bytes) {
    out += digits[b >> 4];
    out += digits[b & 15];
    out += ' ';
  }
  return out;
}

class KeyTranslation : public ::testing::TestWithParam<KeyCase> {};

TEST_P(KeyTranslation, GivesTheBytesAndTheActionOfTheWholeKey) {
  const KeyCase& c = GetParam();
  const TKeyResult result = TranslateKey({c.key, c.mods, c.text}, c.selection);
  EXPECT_EQ(Hex(result.Bytes), Hex(c.bytes));
  EXPECT_EQ(result.Action, c.action);
  EXPECT_EQ(result.UserString, c.userString);
}

constexpr TKeySelection kNone{};
constexpr TKeySelection kSelected{true, false};
constexpr TKeySelection kDragging{true, true};
constexpr TKeyAction kNothing = TKeyAction::None;

INSTANTIATE_TEST_SUITE_P(
    Characters, KeyTranslation,
    ::testing::Values(
        KeyCase{"letter a", 'A', 0, "a", kNone, kNothing, "a"},
        KeyCase{"Shift+A", 'A', kShift, "A", kNone, kNothing, "A"},
        KeyCase{"Enter sends CR only", keys::kReturn, 0, "\r", kNone, kNothing, "\r"},
        KeyCase{"keypad Enter", keys::kEnter, kKeypad, "\r", kNone, kNothing, "\r"},
        KeyCase{"Backspace", keys::kBackspace, 0, "\b", kNone, kNothing, "\b"},
        KeyCase{"Tab", keys::kTab, 0, "\t", kNone, kNothing, "\t"},
        KeyCase{"Esc", keys::Escape, 0, "\x1b", kNone, kNothing, "\x1b"},
        KeyCase{"e acute as 1252", 0xC9, 0, "\xC3\xA9", kNone, kNothing, "\xE9"},
        KeyCase{"euro sign as 1252", 0x20AC, 0, "\xE2\x82\xAC", kNone, kNothing, "\x80"},
        KeyCase{"character 1252 lacks is dropped", 0x3B1, 0, "\xCE\xB1", kNone, kNothing, ""},
        KeyCase{"composed text from an input method", 0x01FFFFFF, 0, "\xC3\xBC", kNone, kNothing,
                "\xFC"},
        KeyCase{"keypad digit with Num Lock", '7', kKeypad, "7", kNone, kNothing, "7"},
        KeyCase{"AltGr as Ctrl+Alt types its character", 'E', kCtrl | kAlt, "\xE2\x82\xAC", kNone,
                kNothing, "\x80"},
        KeyCase{"Alt+letter types nothing", 'X', kAlt, "x", kNone, kNothing, ""},
        KeyCase{"F1 alone sends nothing", keys::kF1, 0, "", kNone, kNothing, ""},
        KeyCase{"Shift alone sends nothing", 0x01000020, kShift, "", kNone, kNothing, ""}),
    CaseName);

INSTANTIATE_TEST_SUITE_P(
    ControlCharacters, KeyTranslation,
    ::testing::Values(
        KeyCase{"Ctrl+A whatever the text", 'A', kCtrl, "a", kNone, kNothing, "\x01"},
        KeyCase{"Ctrl+Z with empty text", 'Z', kCtrl, "", kNone, kNothing, "\x1a"},
        KeyCase{"Ctrl+C without selection", 'C', kCtrl, "\x03", kNone, kNothing, "\x03"},
        KeyCase{"Ctrl+Shift+C", 'C', kCtrl | kShift, "\x03", kSelected, kNothing, "\x03"},
        KeyCase{"Ctrl+[", '[', kCtrl, "", kNone, kNothing, "\x1b"},
        KeyCase{"Ctrl+Enter gives LF", keys::kReturn, kCtrl, "\r", kNone, kNothing, "\n"},
        KeyCase{"Ctrl+Backspace gives DEL", keys::kBackspace, kCtrl, "\b", kNone, kNothing, "\x7f"},
        KeyCase{"Ctrl+digit types nothing", '5', kCtrl, "5", kNone, kNothing, ""}),
    CaseName);

INSTANTIATE_TEST_SUITE_P(
    EditingKeys, KeyTranslation,
    ::testing::Values(
        KeyCase{"Page Up", keys::kPageUp, 0, "", kNone, kNothing, "\x12"},
        KeyCase{"Page Down", keys::kPageDown, 0, "", kNone, kNothing, "\x03"},
        KeyCase{"End", keys::kEnd, 0, "", kNone, kNothing, "\x11" "C"},
        KeyCase{"Home", keys::kHome, 0, "", kNone, kNothing, "\x11" "R"},
        KeyCase{"Left", keys::kLeft, 0, "", kNone, kNothing, "\x13"},
        KeyCase{"Up", keys::kUp, 0, "", kNone, kNothing, "\x05"},
        KeyCase{"Right", keys::kRight, 0, "", kNone, kNothing, "\x04"},
        KeyCase{"Down", keys::kDown, 0, "", kNone, kNothing, "\x18"},
        KeyCase{"Insert", keys::kInsert, 0, "", kNone, kNothing, "\x16"},
        KeyCase{"Delete sends no DEL beside its sequence", keys::kDelete, 0, "\x7f", kNone, kNothing,
                "\x07"},
        KeyCase{"keypad Home with Num Lock off", keys::kHome, kKeypad, "", kNone, kNothing,
                "\x11" "R"},
        KeyCase{"Shift+Home", keys::kHome, kShift, "", kNone, kNothing, ""},
        KeyCase{"Ctrl+Shift+Left", keys::kLeft, kCtrl | kShift, "", kNone, kNothing, ""},
        KeyCase{"Alt+Home", keys::kHome, kAlt, "", kNone, kNothing, ""}),
    CaseName);

INSTANTIATE_TEST_SUITE_P(
    Commands, KeyTranslation,
    ::testing::Values(
        KeyCase{"Ctrl+Home clears and sends nothing", keys::kHome, kCtrl, "", kNone,
                TKeyAction::ClearTerminal, ""},
        KeyCase{"Ctrl+F1", keys::kF1, kCtrl, "", kNone, TKeyAction::SendUserString, "", 1},
        KeyCase{"Ctrl+F10", keys::kF10, kCtrl, "", kNone, TKeyAction::SendUserString, "", 10},
        KeyCase{"Ctrl+F11 is no user string", keys::kF10 + 1, kCtrl, "", kNone, kNothing, ""},
        KeyCase{"Ctrl+Shift+F1", keys::kF1, kCtrl | kShift, "", kNone, kNothing, ""},
        KeyCase{"Alt+F4", keys::kF4, kAlt, "", kNone, TKeyAction::EndProgram, ""},
        KeyCase{"Ctrl+Alt+F4", keys::kF4, kCtrl | kAlt, "", kNone, kNothing, ""},
        KeyCase{"Ctrl+C copies a selection", 'C', kCtrl, "\x03", kSelected,
                TKeyAction::CopySelection, ""},
        KeyCase{"Ctrl+Insert copies a selection", keys::kInsert, kCtrl, "", kSelected,
                TKeyAction::CopySelection, ""},
        KeyCase{"Esc while dragging", keys::Escape, 0, "\x1b", kDragging,
                TKeyAction::CancelSelection, ""},
        KeyCase{"Esc with a finished selection is sent", keys::Escape, 0, "\x1b", kSelected,
                kNothing, "\x1b"},
        KeyCase{"Shift+Insert pastes and sends nothing itself", keys::kInsert, kShift, "", kNone,
                TKeyAction::Paste, ""},
        KeyCase{"Ctrl+V stays the board's key", 'V', kCtrl, "\x16", kNone, kNothing, "\x16"}),
    CaseName);

TEST(KeyStages, OnlyTheTerminalControlKeepsACharacterFromFollowing) {
  // The window's key-down handling takes Ctrl keys for itself, but the character the
  // system derives from them still arrives: Ctrl+C without a selection reaches the board.
  const TKeyEvent ctrlC{'C', kCtrl, "\x03"};
  EXPECT_FALSE(TerminalWnKeyDown(ctrlC).Consumed);
  EXPECT_EQ(SystemCharacters(ctrlC), "\x03");
  EXPECT_TRUE(TerminalKeyDown(ctrlC, kSelected).Consumed);
}

}  // namespace
}  // namespace mirte
