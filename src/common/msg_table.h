#pragma once
// The program's texts in Italian and English: 87 messages each, addressed by a 1-based
// language (1 Italian, 2 English) and a 1-based index. Texts are UTF-8 here; files and
// records hold them as Windows-1252 (see platform/code_page.h).
#include <string_view>

namespace mirte {

constexpr int kLanguageItalian = 1;
constexpr int kLanguageEnglish = 2;
constexpr int kMessageCount = 87;

// Message `index` in `language`; an empty text for an index or language out of range.
std::string_view MsgTable(int language, int index);

// The index of the first message equal to `text` (exact, case-sensitive), searching the
// Italian row first and then the English one; -1 for no match and for an empty text.
int FindMessageIndex(std::string_view text);

}  // namespace mirte
