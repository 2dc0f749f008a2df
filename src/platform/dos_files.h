#pragma once
// DOS-style drives and file names on a POSIX file system, for the board's disk service and
// the ROM-disk names. Drives stand only for folders the user chose (see TDosDrives). Every
// regular, visible file has an 8.3 alias that is
// unique in its folder; board names find files through it, case-insensitively. Nothing here
// follows a symbolic link to a file, opens anything but a regular file, or creates a name
// that is not a plain name inside its folder.
#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/dos_folder.h"

namespace mirte {

// Upper case as board names know it: a to z become A to Z, every other byte stays.
std::string DosUpper(std::string_view text);

// True for a name that is its own 8.3 alias: 1 to 8 valid characters, then optionally one
// dot and 1 to 3 valid characters (no blanks, controls or "*+,/:;<=>?[\]|).
bool IsShortName(std::string_view name);

// The aliases of the names of one folder, in the order given. Valid 8.3 names that are
// already upper case keep themselves, other valid 8.3 names their upper-case form while it
// is free, and every other name gets "first six valid characters ~n.ext", numbered in
// sorted order of the real names so that a folder that does not change keeps its aliases.
std::vector<std::string> AssignShortAliases(const std::vector<std::string>& names);

// A name the board may create: not empty, not hidden (no leading dot), no '/', no NUL, no
// control characters and none of "*:<>?\| (which the board's own systems never allow).
bool IsCreatableName(std::string_view name);

// True when the name holds '?' or '*'.
bool HasWildcards(std::string_view name);

// File-control-block matching: pattern and name are split at their last dot, padded to
// 8 + 3 with blanks, '*' fills the rest of its field with '?', and '?' matches any
// character, blank included. Parts longer than 8 or 3 never match.
bool DosWildcardMatch(std::string_view pattern, std::string_view name);

struct TDosFileInfo {
  std::string Name;   // the real name in its folder
  std::string Alias;  // the 8.3 alias, upper case
  bool ReadOnly = false;
};

// The regular, visible files of a folder (no dot-files, folders, links or devices) with
// their aliases, sorted by real name. Empty when the folder cannot be read.
std::vector<TDosFileInfo> ListDosFiles(const std::string& folder);

// The 8.3 alias of a file given by its full path; a file the board cannot see (hidden, a
// folder) gets the alias it would have among the folder's visible files. Empty for a path
// without a name part.
std::string ShortFileName(const std::string& path);

// The real name of the visible regular file in `folder` that the board name `name` stands
// for: the file of exactly that name, else the file whose alias equals the name in upper
// case, else the file whose real name does. Empty when there is none.
std::string FindDosFile(const std::string& folder, std::string_view name);

// Joins a folder and a plain name with one '/'.
std::string JoinDosPath(const std::string& folder, std::string_view name);

// One directory search at a time: a sorted snapshot of the folder taken by FindFirst,
// walked by FindNext. A pattern without wildcards finds the one file FindDosFile finds.
// Files for which `skip` says true (by real name) are never found.
class TDosSearch {
public:
  using TSkip = std::function<bool(std::string_view name)>;
  bool FindFirst(const std::string& folder, std::string_view pattern, const TSkip& skip = {});
  bool FindNext();
  void Close();
  bool Active() const { return active_; }
  const std::string& Folder() const { return folder_; }
  // The file found by the last successful FindFirst or FindNext.
  const TDosFileInfo& Found() const { return found_; }

private:
  bool Advance();

  bool active_ = false;
  std::string folder_;
  std::string pattern_;
  std::vector<TDosFileInfo> entries_;
  std::size_t next = 0;
  TDosFileInfo found_;
};

// File operations on real paths. Each returns false or -1 on failure and leaves errno.
// Read-only means the owner has no write permission; it is honoured even for root.
bool DosIsReadOnly(const std::string& path);
// Setting read-only clears every write bit; clearing it gives the owner write permission.
bool DosSetReadOnly(const std::string& path, bool readOnly);
// Opens an existing regular, writable file for reading and writing (never through a link).
int DosOpenReadWrite(const std::string& path);
// Creates a regular file, or truncates an existing writable one; never through a link.
// An existing file is locked for the transfer before it is truncated, so a file another
// program holds locked is left as it is.
int DosCreateFile(const std::string& path);
bool DosDeleteFile(const std::string& path);
// Renames a regular file within the file system; fails when the new name exists.
bool DosRenameFile(const std::string& from, const std::string& to);
bool DosFolderExists(const std::string& folder);

// A file by device and inode, however it is named (hard links, bind mounts).
struct TFileId {
  std::uint64_t Device = 0;
  std::uint64_t Inode = 0;
  bool operator==(const TFileId&) const = default;
};

// The program's own files. They are never served, whatever folder a drive stands for: a
// search skips them and every command on them fails.
struct TProgramFiles {
  std::string Executable;
  std::string SettingsFile;
  // The folder of the drive links (and COM links); empty: ComDevicesFolder().
  std::string DosDevices;
};

// Board drives A to P on folders the user chose, and nothing else. A letter X stands for a
// folder only through a symbolic link `dosdevices/x:` to it (C included); the link target is
// that drive's root. The working folder is always reachable: when no mapped drive holds it,
// it is drive C, and drive C's root is the working folder itself. So no drive stands for "/"
// or for anything above a chosen folder unless the user linked it so by hand.
// Each drive keeps its own current folder (initially its root), stored without links; one
// that has left its drive (the link now points elsewhere, the folder went away) falls back
// to the root. The PC's current folder is the current folder of the current drive; a current
// drive that disappears gives way to the working folder's drive. Nothing is cached: a link
// made or removed takes effect for the next question asked.
class TDosDrives {
public:
  static constexpr int kDriveCount = 16;  // A to P

  explicit TDosDrives(TProgramFiles files = {});

  // Within one board command the links, the working folder's drive and the program's own
  // files are looked at once: while a hold lives, Roots() and OwnFileIds() answer what they
  // answered first. Whatever changes meanwhile is still caught where it matters, since every
  // folder is opened by descriptor from a root that must still be a plain folder path.
  class THold {
  public:
    explicit THold(const TDosDrives& drives);
    ~THold();
    THold(const THold&) = delete;
    THold& operator=(const THold&) = delete;

  private:
    const TDosDrives& drives_;
  };

  void SetProgramFiles(TProgramFiles files);
  const TProgramFiles& ProgramFiles() const { return programFiles_; }
  std::string DosDevicesFolder() const;

  // The folder the user chose; it becomes the PC's current folder, on its own drive. False
  // when it does not exist or is a refused root (it is still kept, and drive C then stands
  // for nothing).
  bool SetWorkingFolder(const std::string& folder);
  const std::string& WorkingFolder() const { return workingFolder_; }
  // The drive that holds the working folder: the mapped one with the longest root, else C.
  char WorkingDrive() const;

  // Letters are 'A' to 'P' (lower case is accepted); anything else does not exist.
  bool DriveExists(char letter) const;
  // The drive's root folder, empty when the drive does not exist.
  std::string DriveRoot(char letter) const;
  // The folder a `dosdevices/x:` link leads to, empty when there is no link or it leads to
  // no folder; LinkTarget gives what the link says even then.
  std::string MappedFolder(char letter) const;
  std::string LinkTarget(char letter) const;
  // Makes `dosdevices/x:` a link to the folder (replacing an older link), or removes it.
  // Only links are ever replaced or removed; false with errno on failure.
  // A refused root (see IsRefusedRoot) is never mapped (errno EPERM).
  bool MapDrive(char letter, const std::string& folder);
  bool UnmapDrive(char letter);
  // The drive whose root holds the folder (the longest root wins), 0 when none does.
  char DriveOf(const std::string& folder) const;

  // The PC's current folder and its drive; the folder is empty when no drive exists.
  std::string CurrentFolder() const;
  char CurrentDrive() const;
  // The current folder of a drive; empty when the drive does not exist.
  std::string CurrentFolderOf(char letter) const;

  // Makes an existing folder current, on the drive that holds it. "X:" stands for the
  // current folder of drive X. False (and nothing changes) when no drive holds it.
  bool SetCurrentFolder(const std::string& folder);
  // Makes drive X current at the given folder, or at its own current folder when the given
  // one ("X:", a folder since left) is not inside it. False when the drive does not exist.
  bool SelectDrive(char letter, const std::string& folder);

  // The root of every drive at once, empty for a drive that does not exist. A link or a
  // working folder that resolves to a refused root stands for no drive.
  std::array<std::string, kDriveCount> Roots() const;
  // True when the drive's link leads to a refused root, which leaves the drive unmapped.
  bool RefusedLink(char letter) const;

  // Opens a folder from the root of the drive that holds it, one component at a time and
  // never through a link (the root itself is opened afresh and checked against the refused
  // roots); `drive` gets the drive's letter. Invalid when no drive holds it or the way
  // there is not plain folders.
  TFolderHandle OpenFolder(const std::string& folder, char* drive = nullptr) const;
  // The program's own files by device and inode: executable, settings file, its side file,
  // the dosdevices folder and everything in it.
  std::vector<TFileId> OwnFileIds() const;
  // Whether a file with more than one hard link may be written on the drive (the user's
  // choice in the Drives window, kept in the settings' side file); false by default.
  bool LinksWritable(char letter) const;
  // The side file of the settings (see drive_options.h); empty without a settings file.
  std::string DriveOptionsFile() const;

  // True for a folder inside some drive's root, reached without links.
  bool Reachable(const std::string& folder) const;
  // True when `name` in `folder` is, or could become, one of the program's own files or
  // lies in its dosdevices folder; names are compared case-insensitively.
  bool IsProgramFile(const std::string& folder, std::string_view name) const;
  // The same by name and folder alone, for a caller that has already compared what the
  // name stands for, through its open folder, with OwnFileIds().
  bool IsProgramFileName(const std::string& folder, std::string_view name) const;

private:
  using TRoots = std::array<std::string, kDriveCount>;
  // Roots() without a copy while a hold keeps them, else made afresh into `fresh`.
  const TRoots& RootsSeen(TRoots& fresh) const;
  char DriveOf(const std::string& canonical, const TRoots& roots) const;
  std::string LinkPath(int index) const;

  void Forget() const;
  std::string Canonical(const std::string& folder) const;
  bool IsProgramFileNameIn(const std::string& canonical, std::string_view name) const;
  const TRefusedRoots& Refused() const;

  TProgramFiles programFiles_;
  std::string workingFolder_;
  mutable int holds_ = 0;
  mutable std::optional<std::array<std::string, kDriveCount>> heldRoots_;
  mutable std::optional<std::vector<TFileId>> heldOwnIds_;
  mutable std::map<std::string, std::string> heldCanonical_;
  mutable std::optional<TRefusedRoots> heldRefused_;
  char currentDrive_ = 'C';
  std::array<std::string, kDriveCount> currentFolders_;  // empty: the drive's root
};

// Locks of other programs. DosLockedByOther is true while another process holds the file
// locked (flock, POSIX or OFD record locks); DosLockForTransfer takes both kinds on an open
// descriptor for as long as it stays open, and fails when someone else holds either.
bool DosLockedByOther(const std::string& path);
bool DosLockForTransfer(int fd);
// The same for a descriptor open for reading only: it keeps writers of record locks out.
bool DosLockForReading(int fd);
// DosLockedByOther for a plain name in an open folder (see dos_folder.h).
bool DosLockedByOtherAt(int folder, const std::string& name);

}  // namespace mirte
