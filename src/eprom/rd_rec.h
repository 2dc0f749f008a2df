#pragma once
// The composition of a user EPROM: EPROM type, Q17 option, OS image, output file and up to
// 63 ROM-disk files, plus the EPROM table and the small rules on names and sizes that the
// editor and the image writer share. An EPROM type outside 0..3 is read as type 1, so a
// damaged record never indexes past the table.
#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace mirte {

constexpr int kMaxRomDiskFiles = 63;
constexpr int kRomDiskNameLength = 12;   // padded with blanks
constexpr int kMaxExtensionLength = 4;   // from the last '.' on, the dot included
constexpr std::int32_t kMaxOSImageSize = 16384;
constexpr std::int32_t kRomDirSize = 2304;  // 64 entries of 36 bytes
constexpr std::int32_t kRomRecordSize = 128;

struct TEPROMKind {
  const char* ItemText;
  std::int32_t ImageSize;
  std::int32_t OSArea;  // also where the directory starts

  constexpr std::int32_t DataStart() const { return OSArea + kRomDirSize; }
  constexpr std::int32_t Capacity() const { return ImageSize - OSArea - kRomDirSize; }
};

// Rows in the order of the window's radio group.
inline constexpr std::array<TEPROMKind, 4> kEPROMTable{{
    {"27c512 (64K)", 65536, 16384},
    {"27c010 (128K)", 131072, 16384},
    {"27c020 (256K)", 262144, 16384},
    {"27c040 (512K)", 524288, 65536},
}};

// One ROM-disk file. Path is the PC path as the file system spells it; Name holds
// Windows-1252 bytes, upper case, blank-padded to 12; Size is rounded up to 128.
struct TDirList {
  std::string Path;
  std::string Name;
  std::int32_t Size = 0;

  bool operator==(const TDirList&) const = default;
};

// Entry k (1-based, as the user counts lines) is Files[k - 1]; entries past FileCount
// are cleared.
struct TRDRec {
  std::int32_t EPROMType = 1;
  bool Q17 = false;
  std::string SOLVFile;  // empty = none chosen
  std::string BinFile;   // empty = none chosen
  std::uint8_t FileCount = 0;
  std::array<TDirList, kMaxRomDiskFiles> Files{};

  const TEPROMKind& EPROM() const;
  bool operator==(const TRDRec&) const = default;
};

void InitRDRec(TRDRec& rec);

// Free ROM-disk bytes for the record's type and list; -1 once the files no longer fit.
std::int32_t CalcRDFree(const TRDRec& rec);

// A file length as the ROM-disk stores it: whole 128-byte records (0 stays 0).
std::int32_t RoundToRecords(std::int64_t length);

// Display form of a path in at most n characters (UTF-8 code points): a trailing dot
// dropped, the middle replaced by "..." when too long.
std::string ShortPath(std::string_view path, int n);

// Windows-1252 upper case (a-z and the accented lower-case letters).
std::string UpperCp1252(std::string_view bytes);
// True for a non-empty name of at most 12 bytes whose extension has at most 4.
bool ValidRomDiskName(std::string_view name);
// The name blank-padded (or cut) to exactly 12 bytes.
std::string PadRomDiskName(std::string_view name);

}  // namespace mirte
