#pragma once
// Texts about the board's drives and the working folder, in both languages.
#include "common/text_pair.h"

namespace mirte {

inline constexpr TTextPair kWorkFolderText{"Cartella di lavoro:", "Working folder:"};

}  // namespace mirte
