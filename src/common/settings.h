#pragma once
// The settings record and its file. The record is stored byte for byte: 604 bytes,
// little-endian, strings as a length byte plus a fixed number of Windows-1252 bytes.
// Loading never fails: a missing or short file gives the defaults, invalid fields are
// corrected one by one, and either case writes the file back. Only a regular file is read
// or replaced; anything else at the settings path (a link, a FIFO, a folder) is neither
// waited on nor written through. Saving writes a new file beside the old one, flushes it
// and renames it over the old one, so a failed save leaves the old settings whole. Write
// errors are ignored. The default working folder is `~/MIRTE`, made on first use.
#include <bit>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "common/settings_location.h"

namespace mirte {

static_assert(std::endian::native == std::endian::little, "the settings record is stored as in memory");

// A length-prefixed string of at most N bytes; bytes past the length are kept as read.
template <std::size_t N>
struct TShortString {
  std::uint8_t Length;
  char Text[N];

  std::string Str() const { return std::string(Text, Length <= N ? Length : N); }
  void Assign(std::string_view s) {
    Length = static_cast<std::uint8_t>(s.size() <= N ? s.size() : N);
    for (std::size_t i = 0; i < Length; ++i) Text[i] = s[i];
  }
};

#pragma pack(push, 1)
//  offset size field
//    0     1   Language        1 Italian, 2 English
//    1     1   (reserved)      kept as read
//    2     2   ComNumber       1 = COM1
//    4     4   Baud            signed
//    8     4   FontSize        8, 10, 12 or 16
//   12     4   TextColor       0x00BBGGRR
//   16     4   BackColor       0x00BBGGRR
//   20     1   PrintEachPage   0 or 1
//   21     7   Release         "1.01.0"
//   28   256   WorkFolder      up to 255 bytes
//  284   310   UserStr[10]     31 bytes each
//  594    10   UserStrEnter[10]
struct SettingsRec {
  std::uint8_t Language;
  std::uint8_t Reserved;
  std::uint16_t ComNumber;
  std::int32_t Baud;
  std::int32_t FontSize;
  std::uint32_t TextColor;
  std::uint32_t BackColor;
  std::uint8_t PrintEachPage;
  TShortString<6> Release;
  TShortString<255> WorkFolder;
  TShortString<30> UserStr[10];
  std::uint8_t UserStrEnter[10];
};
#pragma pack(pop)

static_assert(sizeof(SettingsRec) == 604);
static_assert(offsetof(SettingsRec, ComNumber) == 2);
static_assert(offsetof(SettingsRec, Baud) == 4);
static_assert(offsetof(SettingsRec, FontSize) == 8);
static_assert(offsetof(SettingsRec, TextColor) == 12);
static_assert(offsetof(SettingsRec, BackColor) == 16);
static_assert(offsetof(SettingsRec, PrintEachPage) == 20);
static_assert(offsetof(SettingsRec, Release) == 21);
static_assert(offsetof(SettingsRec, WorkFolder) == 28);
static_assert(offsetof(SettingsRec, UserStr) == 284);
static_assert(offsetof(SettingsRec, UserStrEnter) == 594);

// The five baud rates divided by ten; shared by the load check and the port options.
constexpr std::uint16_t kBaudTable[5] = {960, 1920, 3840, 5760, 11520};
constexpr const char* kRelease = "1.01.0";

// The settings record with the file it lives in. One object, owned by the main window.
class TSettings {
public:
  SettingsRec Rec{};
  std::string ProgramFolder;  // the program's folder, with a trailing '/'
  std::string SettingsPath;   // where FindSettingsLocation puts the file

  // Loads from where FindSettingsLocation puts the running executable's settings.
  void LoadSettings();
  // Loads from `<program file name>.SET` beside an explicit program file.
  void LoadSettings(const std::string& programFile);
  // Fills ProgramFolder and SettingsPath from the location, creates its folder when it
  // is missing, then loads.
  void LoadSettings(const TSettingsLocation& location);
  void SaveSettings() const;
  void SetDefaultSettings();
  // Corrects WorkFolder, Language, Baud, FontSize, Release in this order; true when
  // nothing had to be corrected. A missing working folder becomes the default one.
  bool CheckSettings();
  // `MIRTE` in the user's home folder ($HOME, else the account's), empty without a home.
  std::string DefaultWorkFolder() const;

  // WorkFolder as a path of this system, and back. Names Windows-1252 cannot spell are
  // kept in the record with their own bytes so they still name the same folder.
  std::string WorkFolderPath() const;
  void SetWorkFolder(const std::string& path);
};

}  // namespace mirte
