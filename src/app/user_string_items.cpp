#include "app/user_string_items.h"

#include "common/msg_table.h"
#include "platform/code_page.h"

namespace mirte {
namespace {

std::string AsMenuText(std::string_view utf8) {
  std::string out;
  for (char c : utf8) {
    out += c;
    if (c == '&') out += '&';
  }
  return out;
}

bool ValidNumber(int n) { return n >= 1 && n <= kUserStringCount; }

}  // namespace

int NumberInName(std::string_view name, std::size_t position) {
  if (position == 0 || name.size() < position + 1) return 0;
  char tens = name[position - 1];
  char units = name[position];
  if (tens < '0' || tens > '9' || units < '0' || units > '9') return 0;
  int n = (tens - '0') * 10 + (units - '0');
  return ValidNumber(n) ? n : 0;
}

std::string UserString(const SettingsRec& rec, int n) {
  if (!ValidNumber(n)) return {};
  return rec.UserStr[n - 1].Str();
}

std::string UserStringToSend(const SettingsRec& rec, int n) {
  std::string s = UserString(rec, n);
  if (ValidNumber(n) && rec.UserStrEnter[n - 1] != 0) s += '\r';
  return s;
}

std::string TxStrCaption(const SettingsRec& rec, int n, int language, bool enabled, int tag) {
  std::string caption = std::to_string(n) + ": ";
  if (!enabled) return caption + std::string(MsgTable(language, tag));
  caption += AsMenuText(Cp1252ToUtf8(UserString(rec, n)));
  if (ValidNumber(n) && rec.UserStrEnter[n - 1] != 0)
    caption += "  " + std::string(MsgTable(language, kTagUserStrEnter));
  return caption;
}

TUserStrItem UserStrItem(const SettingsRec& rec, int n, int language) {
  TUserStrItem item;
  item.Enabled = !UserString(rec, n).empty();
  item.Tag = item.Enabled ? kTagUserStrEnter : kTagUserStrNone;
  item.Caption = TxStrCaption(rec, n, language, item.Enabled, item.Tag);
  return item;
}

}  // namespace mirte
