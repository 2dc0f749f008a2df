#pragma once
// What the user set in the Drives window, kept beside the settings file (mirte.SET gives
// mirte.DRV) because the settings record has a fixed size of its own: the drives on which a
// file with more than one hard link may be written, and where the window last stood. A
// missing or damaged file gives the defaults (every hard-linked file read-only, no place
// remembered). Written to a new file renamed over the old one, never through a link.
#include <cstdint>
#include <string>

namespace mirte {

struct TDriveOptions {
  std::uint16_t HardLinksWritable = 0;  // bit 0 drive A ... bit 15 drive P
  bool HasPlace = false;                // the Drives window's last place and size
  int X = 0, Y = 0, Width = 0, Height = 0;

  bool LinksWritable(char letter) const;
  void SetLinksWritable(char letter, bool writable);
};

// The side file for a settings file: its extension replaced by ".DRV"; empty for none.
std::string DriveOptionsPath(const std::string& settingsFile);
TDriveOptions LoadDriveOptions(const std::string& path);
bool SaveDriveOptions(const std::string& path, const TDriveOptions& options);

}  // namespace mirte
