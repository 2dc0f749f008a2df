#pragma once
// Folder listings kept between board commands, so that finding a file by its board name,
// making or deleting one, and a search costs the same in a folder of 100,000 files as in one
// of ten. A listing is read once and then follows the folder's changes: by inotify where the
// system offers it (the changes this program makes arrive the same way), by the folder's
// change times otherwise. Names made the board's way (upper-case 8.3) come and go without
// renumbering anything; any other change renumbers the generated aliases at the next
// question. A listing only maps names: whatever it answers is opened again from the folder,
// never through a link, so a listing that lags behind can give a wrong answer but never
// leads outside the folder. At most a few folders are kept, the least recently asked given up.
#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/dos_files.h"
#include "platform/dos_folder.h"

namespace mirte {

// A board pattern or alias as its 8 + 3 blank-padded, upper-case file control block field.
using TFcbName = std::array<char, 11>;
// False when the name does not fit 8 + 3 (a pattern's '*' fills its field with '?').
bool ToFcbName(std::string_view name, TFcbName& fcb);

class TDosListing {
public:
  // The visible regular file the board name stands for: the file of exactly that name, else
  // the one whose alias is the name in upper case, else the one whose real name is. Null
  // when there is none.
  const TDosFileInfo* Find(std::string_view boardName);
  // The first file after the real name `after` (empty: from the start), in order of real
  // names, whose alias matches the pattern and that `skip` does not refuse. A pattern
  // without wildcards finds at most the file Find finds.
  using TSkip = std::function<bool(const TDosFileInfo& file)>;
  const TDosFileInfo* NextMatch(std::string_view pattern, const std::string& after, const TSkip& skip = {});
  // Every file, sorted by real name.
  std::vector<TDosFileInfo> Files();
  std::size_t Count() const { return byName_.size(); }

private:
  friend class TDosListings;
  struct TEntry {
    TDosFileInfo Info;
    TFcbName Fcb{};
  };

  void Fill(int folderFd);
  // Brings one name up to date; false when the aliases must be numbered again before the
  // next answer.
  bool Update(int folderFd, const std::string& name);
  void Renumber();
  void Insert(const std::string& name, const std::string& alias, bool readOnly);
  void Erase(std::map<std::string, TEntry>::iterator it);
  const TDosFileInfo* Alias(const std::string& upper);

  std::map<std::string, TEntry> byName_;
  std::unordered_map<std::string, std::string> byAlias_;               // alias -> real name
  std::unordered_map<std::string, std::vector<std::string>> byUpper_;  // upper real name -> real names
  bool renumber_ = false;
};

class TDosListings {
public:
  static constexpr std::size_t kKeptFolders = 4;

  TDosListings();
  ~TDosListings();
  TDosListings(const TDosListings&) = delete;
  TDosListings& operator=(const TDosListings&) = delete;

  // The listing of an open folder, up to date with every change the system has reported.
  // The reference stays valid until the next call. Null when the folder cannot be read.
  TDosListing* Of(int folderFd);
  // The same for a handle, using the status it kept where that is enough.
  TDosListing* Of(const TFolderHandle& folder);
  // Forgets every listing (the next question reads its folder again).
  void Clear();
  // Whether changes arrive by inotify (otherwise by change times).
  bool Notified() const { return notify_ >= 0; }

private:
  TDosListing* Of(int folderFd, const struct stat& st);
  struct TKey {
    std::uint64_t Device = 0;
    std::uint64_t Inode = 0;
    bool operator<(const TKey& other) const {
      return Device != other.Device ? Device < other.Device : Inode < other.Inode;
    }
  };
  struct TKept {
    std::unique_ptr<TDosListing> Listing;
    int Watch = -1;
    std::int64_t ChangeNs = 0;   // without inotify: the folder's change time at listing
    std::int64_t ModifyNs = 0;
    bool Trusted = false;        // without inotify: the times can tell of a later change
    bool Stale = true;           // must be read again in full
    std::vector<std::string> Pending;  // names reported changed, not yet looked at
    std::uint64_t LastUse = 0;
  };

  void Drain();
  void Evict();
  TKept* ByWatch(int watch);

  int notify_ = -1;
  std::map<TKey, TKept> kept_;
  std::uint64_t useCounter_ = 0;
};

}  // namespace mirte
