#pragma once
// The board's disk service: the file commands of the command frames carried out in the PC
// folders that stand for drives A to P. It works on the frame's parameter and record
// buffers that it is given, answers with result bytes (0 success, 255 failure, 1 end of
// file, 6 short random write) and keeps no PC file open between commands.
// The board reaches the folders the user chose and nothing else: a drive is the working
// folder (drive C when no mapped drive holds it) or the folder a `dosdevices/x:` link leads
// to, and a drive's current folder never leaves its root (TDosDrives). Every command checks
// again that its file lies in such a folder, so an open file of a drive since unmapped, or of
// a working folder since changed, answers 255 as a vanished file does. A board name is
// never a path: a name holding '/' or NUL, or starting with '.', fails with 255. The
// program's own files (executable, settings file, dosdevices folder) are skipped by searches
// and fail every command. A file another program holds locked (flock, POSIX or OFD record
// locks) fails too, and each transfer locks its file for its own length.
// Every command opens its drive's root afresh (a root that has become "/", /proc, /sys, /dev
// or /run is refused) and walks from it to its folder one component at a time without
// following any link; the file itself is opened, made, renamed and deleted from that
// folder's descriptor, so a folder swapped for a link while the board works leads nowhere.
// A read-only PC file opens and reads, but does not take writes. A regular file with more
// than one hard link is served read-only (it may be someone else's file too) unless the user
// allowed writing them on that drive. Folder listings are kept between commands
// (dos_listing.h), so a large folder costs a lookup, not a reading, per command.
#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "platform/dos_files.h"
#include "platform/dos_listing.h"

namespace mirte {

constexpr std::size_t kParamBufferSize = 28;
constexpr std::size_t kRecordSize = 128;
constexpr int kBoardDriveCount = 16;  // A to P

constexpr std::uint8_t kResultOk = 0;
constexpr std::uint8_t kResultEndOfFile = 1;
constexpr std::uint8_t kResultShortWrite = 6;
constexpr std::uint8_t kResultFailed = 255;

// One file the board has open: only its path (as built from the name block) and the byte
// offset of the next sequential transfer. An empty path marks a free entry.
struct OpenFileEntry {
  std::string path;
  std::int32_t position = 0;
};

class TFileService {
public:
  using ParamSpan = std::span<std::uint8_t, kParamBufferSize>;
  using RecordSpan = std::span<std::uint8_t, kRecordSize>;

  // The buffers belong to the board service and outlive this object.
  TFileService(ParamSpan paramBuffer, RecordSpan recordBuffer, TProgramFiles programFiles = {});

  // The program's own files, which are never served; the drive links lie in their
  // dosdevices folder. The main window hands them over once it knows them.
  void SetProgramFiles(TProgramFiles programFiles) { drives_.SetProgramFiles(std::move(programFiles)); }

  // One empty open-file entry, every drive folder "X:" (the drive's own current folder),
  // no search.
  void InitFileService();

  // The drive letters and the PC's current folder.
  TDosDrives& Drives() { return drives_; }
  const TDosDrives& Drives() const { return drives_; }
  // The folder last current on each drive A to P, or "X:" for the drive's own.
  std::array<std::string, kBoardDriveCount> DriveFolders;
  // Records a folder under its own drive letter; a folder no drive holds is not kept.
  void RecordDriveFolder(const std::string& folder);
  // Makes the folder the working folder and the PC's current folder, and records it under
  // its drive letter, as the start-up and the change-folder command of the main window do.
  // False when it does not exist. Folders keep their case.
  bool SetWorkingFolder(const std::string& folder);

  // The PC path the name block in paramBuffer 0 to 11 stands for: the drive's current
  // folder + '/' + the upper-case board name, with trailing '?' runs turned into '*'.
  // Empty when the block names no file the board may reach.
  std::string NameBlockToPath() const;
  // The same for a name block kept elsewhere (drive byte and 8 + 3 name bytes).
  std::string PathOfNameBlock(std::span<const std::uint8_t, 12> block) const;
  // The PC file the last successful search step found; empty while no search runs.
  std::string FoundPath() const;
  // The path and drive letter NameBlockToPath last gave, so that whoever reports on a
  // command need not resolve the drives again; ForgetNamedPath empties them (drive 0).
  const std::string& LastNamedPath() const { return lastNamedPath_; }
  char LastNamedDrive() const { return lastNamedDrive_; }
  void ForgetNamedPath() {
    lastNamedPath_.clear();
    lastNamedDrive_ = 0;
  }
  // Writes the 8.3 form of the path's file name into paramBuffer 1 to 11.
  void PathToNameBlock(const std::string& path);

  void SelectBoardDrive();
  std::uint8_t OpenBoardFile();
  std::uint8_t CloseBoardFile();
  std::uint8_t SearchFirstFile();
  std::uint8_t SearchNextFile();
  std::uint8_t DeleteBoardFiles();
  std::uint8_t ReadNextRecord();
  std::uint8_t WriteNextRecord();
  std::uint8_t MakeBoardFile();
  std::uint8_t RenameBoardFile();
  std::uint16_t GetDriveVector() const;
  std::uint8_t GetCurrentDrive() const;
  std::uint8_t SetBoardFileAttr();
  std::uint8_t ReadRandomRecord();
  std::uint8_t WriteRandomRecord();
  // Record count in paramBuffer 0 to 2, low byte first.
  void ComputeFileSize();
  // Record number of the next sequential transfer in paramBuffer 0 to 2.
  void GetCurrentRecord();

  const std::vector<OpenFileEntry>& OpenFileTable() const { return openFileTable_; }
  // The folder listings kept from command to command.
  TDosListings& Listings() { return listings_; }

private:
  // The folder of one command, open by descriptor from its drive's root.
  struct TServedFolder {
    std::string Path;
    char Drive = 0;
    TFolderHandle Handle;
    std::vector<TFileId> Own;
    bool LinksWritable = false;
  };
  // The search in progress: its folder and pattern, and the real name it last found, from
  // which the next step goes on.
  struct TSearchState {
    bool Active = false;
    std::string Folder;
    std::string Pattern;
    TDosFileInfo Found;
  };

  void ClearTables();
  OpenFileEntry* FindEntry(const std::string& path);
  void FreeEntry(const std::string& path);
  void UseEntry(const std::string& path);
  std::uint8_t OpenOrMake(bool make);
  std::string PathOfNameBlock(std::span<const std::uint8_t, 12> block, char& drive) const;
  bool OpenServed(const std::string& folder, TServedFolder& served) const;
  bool IsOwn(const TServedFolder& served, const std::string& name) const;
  // The real name of the file the board path stands for in its served folder, empty when
  // there is none the board may reach.
  std::string ServedName(const std::string& path, TServedFolder& served);
  bool MayWrite(const TServedFolder& served, const struct stat& st) const;
  int OpenForTransfer(const std::string& path, bool write);
  bool SearchStep(bool first);
  std::uint8_t ReadRecordAt(OpenFileEntry& entry, std::int64_t offset);
  std::int64_t WriteRecordAt(OpenFileEntry& entry, std::int64_t offset);
  std::int64_t RandomRecordOffset() const;
  void StoreThreeBytes(std::uint32_t value);

  ParamSpan paramBuffer;
  RecordSpan recordBuffer;
  TDosDrives drives_;
  std::vector<OpenFileEntry> openFileTable_;
  TSearchState search_;
  TDosListings listings_;
  bool serving_ = false;
  mutable std::string lastNamedPath_;
  mutable char lastNamedDrive_ = 0;
};

}  // namespace mirte
