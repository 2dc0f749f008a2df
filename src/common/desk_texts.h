#pragma once
// Texts of the product's identification and of the main window's fit to the screen, in
// both languages.
#include "common/text_pair.h"

namespace mirte::desk_texts {

// Under the product's name on the information window and the splash.
inline constexpr TTextPair kProductDescription{"Server di console, dischi e stampante\nper schede KTB\u00AE con SOLVAX",
                                              "Console, disk and printer server\nfor KTB\u00AE boards with SOLVAX"};
// %1 the chosen font size, %2 the size used instead.
inline constexpr TTextPair kFontDoesNotFit{"Carattere %1 troppo grande per lo schermo: uso %2",
                                          "Font size %1 does not fit the screen: %2 is used"};

}  // namespace mirte::desk_texts
