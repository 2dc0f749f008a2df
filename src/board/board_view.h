#pragma once
// The board's view of one PC folder: every file a search there would show, under the 8.3
// name the board uses, and apart from them everything else in the folder with the reason the
// board cannot reach it. It reads the folder as the file service does, so the two agree; a
// folder that cannot be read gives an empty view.
#include <cstdint>
#include <string>
#include <vector>

#include "platform/dos_files.h"

namespace mirte {

struct TBoardFile {
  std::string Alias;  // the 8.3 name the board uses
  std::string Name;   // the PC name
  std::uint32_t Records = 0;  // size in 128-byte records, rounded up
  bool ReadOnly = false;
};

enum class TUnreachable {
  Folder,          // the board has no sub-folders
  Link,            // never followed
  Hidden,          // a dot-file or dot-folder
  NotRegular,      // a device, FIFO or socket
  ProgramFile,     // the program's executable, settings or dosdevices
  GeneratedAlias,  // reachable only under its generated alias, not its own name
};

struct TApartEntry {
  std::string Name;
  TUnreachable Why = TUnreachable::Folder;
  std::string Alias;  // for GeneratedAlias
};

struct TBoardView {
  std::vector<TBoardFile> Files;   // sorted by PC name
  std::vector<TApartEntry> Apart;  // sorted by PC name
};

TBoardView BoardViewOf(const TDosDrives& drives, const std::string& folder);

}  // namespace mirte
