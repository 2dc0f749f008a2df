#pragma once
// The twenty "transmit string" menu items (TxStr01Cmd ... TxStr10Cmd, TxStr01Pup ...
// TxStr10Pup) and the editor's components take their string number from two digits in
// their names. An item is enabled exactly when its string holds at least one character;
// the Enter flag alone does not make a string worth sending.
#include <cstddef>
#include <string>
#include <string_view>

#include "common/settings.h"

namespace mirte {

constexpr int kUserStringCount = 10;
constexpr std::size_t kUserStringMax = 30;
constexpr int kTagUserStrEnter = 36;  // "<Enter>": suffix of a string sent with a carriage return
constexpr int kTagUserStrNone = 34;   // "<None>": caption of an empty string's item

// The number formed by the two digits at 1-based `position` and the one after it in
// `name` ("TxStr07Pup" at 6 gives 7); 0 when they are not a number from 1 to 10.
int NumberInName(std::string_view name, std::size_t position);
inline int TxStrNumber(std::string_view itemName) { return NumberInName(itemName, 6); }
inline int StrWnNumber(std::string_view editName) { return NumberInName(editName, 4); }
inline int CRCkNumber(std::string_view checkName) { return NumberInName(checkName, 3); }

// String n as the board receives it (Windows-1252), without and with the carriage return.
std::string UserString(const SettingsRec& rec, int n);
std::string UserStringToSend(const SettingsRec& rec, int n);

// What SetStrCaption gives item n: UTF-8 caption, enabled state and tag. The caption is a
// menu text, so an '&' typed by the user is doubled rather than read as an accelerator.
struct TUserStrItem {
  std::string Caption;
  bool Enabled = false;
  int Tag = kTagUserStrNone;
};
TUserStrItem UserStrItem(const SettingsRec& rec, int n, int language);

// The caption a language switch gives item n, from its current state: an enabled item
// shows its string (and the Enter suffix), a disabled one the text of its tag.
std::string TxStrCaption(const SettingsRec& rec, int n, int language, bool enabled, int tag);

}  // namespace mirte
