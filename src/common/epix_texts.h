#pragma once
// Texts of the EPIX window beyond the message table's.
#include "common/text_pair.h"

namespace mirte {

// Several files were chosen at once and the ROM-disk filled up before the last of them.
inline constexpr TTextPair kRomDiskFullText{"ROM-Disk piena: al massimo 63 file", "ROM-Disk full: at most 63 files"};

}  // namespace mirte
