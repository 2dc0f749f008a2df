#pragma once
// The board's view of one PC folder: every file a search there would show, under the 8.3
// name the board uses, and apart from them everything else in the folder with the reason the
// board cannot reach it. It reads the folder as the file service does, so the two agree; a
// folder that cannot be read gives an empty view. A window reads it a slice at a time
// (TBoardViewReader), so that a folder of 100,000 files never keeps the board waiting.
#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "platform/dos_files.h"

namespace mirte {

struct TBoardFile {
  std::string Alias;  // the 8.3 name the board uses
  std::string Name;   // the PC name
  std::uint32_t Records = 0;  // size in 128-byte records, rounded up
  bool ReadOnly = false;      // the owner may not write it
  std::uint32_t Links = 1;    // its hard links, this name included
  // Served read-only because it has other hard links, which the drive does not allow
  // the board to write through.
  bool LinkedReadOnly = false;
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
  bool LinksWritable = false;      // the folder's drive lets the board write hard-linked files
};

// The whole view at once.
TBoardView BoardViewOf(const TDosDrives& drives, const std::string& folder);

// The same view read in slices. The drives' program files and the drive's choice about hard
// links are looked at once, when reading starts; the folder's entries as Step meets them.
// What changes in the folder meanwhile may or may not be seen, as with any listing.
class TBoardViewReader {
public:
  TBoardViewReader(const TDosDrives& drives, std::string folder);
  ~TBoardViewReader();
  TBoardViewReader(const TBoardViewReader&) = delete;
  TBoardViewReader& operator=(const TBoardViewReader&) = delete;

  // Reads at most `entries` more folder entries. After the folder's end, sorting, numbering
  // the aliases and making the view take a slice each, since in a large folder each of
  // them alone costs tens of milliseconds; a folder of no more than `entries` entries is
  // finished in one slice. True once the view is complete.
  bool Step(std::size_t entries);
  bool Done() const { return phase_ == TPhase::Done; }
  // Entries read so far.
  std::size_t Read() const { return read_; }
  // The complete view (empty before Done).
  TBoardView& View() { return view_; }

private:
  void Classify(const char* name);
  bool IsProgramFile(const std::string& name, const struct stat& st) const;
  void Sort();
  void Number();
  void MakeView();

  const TDosDrives& drives_;
  std::string folder_;
  void* dir_ = nullptr;  // the folder's DIR, open until its end is met
  std::size_t read_ = 0;
  std::vector<TFileId> ownIds_;
  std::set<std::string> ownNames_;  // upper-case last components of the program's own files
  bool inDevices_ = false;          // the folder is the dosdevices folder or lies in it
  struct TVisible {
    std::string Name;
    std::uint32_t Records = 0;
    bool ReadOnly = false;
    std::uint32_t Links = 1;
    bool Own = false;
  };
  std::vector<TVisible> visible_;
  std::vector<std::string> aliases_;  // of `visible`, in the same order
  enum class TPhase { Reading, Sorting, Numbering, Making, Done };
  TPhase phase_ = TPhase::Reading;
  TBoardView view_;
};

}  // namespace mirte
