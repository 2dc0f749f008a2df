#pragma once
// Texts about where the program keeps its own files.
#include "common/text_pair.h"

namespace mirte {

// Information window: the label before the settings file's path.
inline constexpr TTextPair kSettingsFileText{"File delle impostazioni:", "Settings file:"};

}  // namespace mirte
