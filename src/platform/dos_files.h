#pragma once
// DOS-style drives and file names on a POSIX file system, for the board's disk service and
// the ROM-disk names. Drive C is "/", any other letter exists only through a link
// `dosdevices/x:` beside the program. Every regular, visible file has an 8.3 alias that is
// unique in its folder; board names find files through it, case-insensitively. Nothing here
// follows a symbolic link to a file, opens anything but a regular file, or creates a name
// that is not a plain name inside its folder.
#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

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
class TDosSearch {
public:
  bool FindFirst(const std::string& folder, std::string_view pattern);
  bool FindNext();
  void Close();
  bool Active() const { return active; }
  const std::string& Folder() const { return folder; }
  // The file found by the last successful FindFirst or FindNext.
  const TDosFileInfo& Found() const { return found; }

private:
  bool Advance();

  bool active = false;
  std::string folder;
  std::string pattern;
  std::vector<TDosFileInfo> entries;
  std::size_t next = 0;
  TDosFileInfo found;
};

// File operations on real paths. Each returns false or -1 on failure and leaves errno.
// Read-only means the owner has no write permission; it is honoured even for root.
bool DosIsReadOnly(const std::string& path);
// Setting read-only clears every write bit; clearing it gives the owner write permission.
bool DosSetReadOnly(const std::string& path, bool readOnly);
// Opens an existing regular, writable file for reading and writing (never through a link).
int DosOpenReadWrite(const std::string& path);
// Creates a regular file, or truncates an existing writable one; never through a link.
int DosCreateFile(const std::string& path);
bool DosDeleteFile(const std::string& path);
// Renames a regular file within the file system; fails when the new name exists.
bool DosRenameFile(const std::string& from, const std::string& to);
bool DosFolderExists(const std::string& folder);

// Drive letters A to Z and the current folder of each. Drive C is "/"; another letter X
// exists while `dosdevices/x:` in the program folder leads to a folder, which is that
// drive's root. The PC's current folder is the current folder of the current drive; it is
// kept here, not in the process, so that nothing else in the program depends on it.
class TDosDrives {
public:
  explicit TDosDrives(std::string programFolder = {});

  void SetProgramFolder(std::string programFolder);
  const std::string& ProgramFolder() const { return programFolder; }

  // Letters are 'A' to 'Z' (lower case is accepted); anything else does not exist.
  bool DriveExists(char letter) const;
  // The drive's root folder, empty when the drive does not exist.
  std::string DriveRoot(char letter) const;
  // The drive whose root holds the folder: the mapped drive with the longest root, else C.
  char DriveOf(const std::string& folder) const;

  // The PC's current folder and its drive.
  std::string CurrentFolder() const;
  char CurrentDrive() const { return currentDrive; }
  // The current folder of a drive (initially its root); empty when the drive does not exist.
  std::string CurrentFolderOf(char letter) const;

  // Makes an existing folder current, on its own drive. "X:" stands for the current folder
  // of drive X. False (and nothing changes) when there is no such folder.
  bool SetCurrentFolder(const std::string& folder);

private:
  std::string programFolder;
  char currentDrive = 'C';
  std::array<std::string, 26> currentFolders;  // empty: the drive's root
};

}  // namespace mirte
