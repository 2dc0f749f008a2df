#pragma once
// A text of the windows added beside the original ones, in both languages. The message
// table keeps its 87 entries; each newer window keeps its texts as TTextPair constants in a
// header of its own here (port_texts.h, ...), and Pick reads them as MsgTable does.
#include <string_view>

#include "common/msg_table.h"

namespace mirte {

struct TTextPair {
  std::string_view Italian;
  std::string_view English;

  // The text in a 1-based language; empty for a language out of range, as in MsgTable.
  constexpr std::string_view Pick(int language) const {
    if (language == kLanguageItalian) return Italian;
    if (language == kLanguageEnglish) return English;
    return {};
  }
};

}  // namespace mirte
