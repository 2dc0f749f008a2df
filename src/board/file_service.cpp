#include "board/file_service.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string_view>

#include "board/board_name.h"

namespace mirte {

namespace {

constexpr std::uint8_t kPadByte = 26;  // Ctrl-Z fills the rest of a short last record

// A name that can only stay inside its folder and is not one of the PC's hidden files.
bool IsPlainName(std::string_view name) {
  return !name.empty() && name[0] != '.' && name.find('/') == std::string_view::npos &&
         name.find('\0') == std::string_view::npos;
}

std::string FolderOf(const std::string& path) {
  std::size_t slash = path.rfind('/');
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string NameOf(const std::string& path) {
  return path.substr(path.rfind('/') + 1);
}

std::int64_t ReadFully(int fd, std::uint8_t* data, std::size_t size) {
  std::size_t done = 0;
  while (done < size) {
    ssize_t n = read(fd, data + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return done > 0 ? static_cast<std::int64_t>(done) : -1;
    if (n == 0) break;
    done += static_cast<std::size_t>(n);
  }
  return static_cast<std::int64_t>(done);
}

std::int64_t WriteFully(int fd, const std::uint8_t* data, std::size_t size) {
  std::size_t done = 0;
  while (done < size) {
    ssize_t n = write(fd, data + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  return static_cast<std::int64_t>(done);
}

bool SeekTo(int fd, std::int64_t offset) {
  return offset >= 0 && lseek(fd, static_cast<off_t>(offset), SEEK_SET) == offset;
}

}  // namespace

TFileService::TFileService(ParamSpan params, RecordSpan record, TProgramFiles programFiles)
    : paramBuffer(params), recordBuffer(record), drives_(std::move(programFiles)) {
  ClearTables();
}

void TFileService::ClearTables() {
  openFileTable_.assign(1, OpenFileEntry{});
  // "X:" names drive X's own current folder, whatever it is when the board selects X.
  for (std::size_t i = 0; i < DriveFolders.size(); ++i) DriveFolders[i] = std::string{static_cast<char>('A' + i), ':'};
  search_ = TSearchState{};
}

void TFileService::InitFileService() {
  serving_ = true;
  ClearTables();
}

void TFileService::RecordDriveFolder(const std::string& folder) {
  char letter = drives_.DriveOf(folder);
  if (letter >= 'A' && letter < 'A' + kBoardDriveCount) DriveFolders[static_cast<std::size_t>(letter - 'A')] = folder;
}

bool TFileService::SetWorkingFolder(const std::string& folder) {
  bool changed = drives_.SetWorkingFolder(folder);
  if (changed) RecordDriveFolder(drives_.CurrentFolder());
  return changed;
}

bool TFileService::OpenServed(const std::string& folder, TServedFolder& served) const {
  served.Path = folder;
  served.Handle = drives_.OpenFolder(folder, &served.Drive);
  if (!served.Handle.Valid()) return false;
  served.Own = drives_.OwnFileIds();
  served.LinksWritable = drives_.LinksWritable(served.Drive);
  return true;
}

// One of the program's own files, by name (also one that could become one) or by identity.
bool TFileService::IsOwn(const TServedFolder& served, const std::string& name) const {
  struct stat st;
  if (fstatat(served.Handle.Fd(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
    TFileId id{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
    if (std::find(served.Own.begin(), served.Own.end(), id) != served.Own.end()) return true;
  }
  return drives_.IsProgramFileName(served.Path, name);
}

std::string TFileService::ServedName(const std::string& path, TServedFolder& served) {
  if (path.empty() || !OpenServed(FolderOf(path), served)) return {};
  std::string name = NameOf(path);
  // What the name stands for is compared with the own files below, through the folder.
  if (drives_.IsProgramFileName(served.Path, name)) return {};
  TDosListing* listing = listings_.Of(served.Handle);
  const TDosFileInfo* file = listing ? listing->Find(name) : nullptr;
  if (!file || IsOwn(served, file->Name)) return {};
  return file->Name;
}

// Read-only files, and files that other names share, take no writes from the board.
bool TFileService::MayWrite(const TServedFolder& served, const struct stat& st) const {
  if ((st.st_mode & S_IWUSR) == 0) {
    errno = EACCES;
    return false;
  }
  if (st.st_nlink > 1 && !served.LinksWritable) {
    errno = EMLINK;
    return false;
  }
  return true;
}

// Opens the file for one transfer, locked against other programs for as long as it is open.
int TFileService::OpenForTransfer(const std::string& path, bool write) {
  TServedFolder served;
  std::string real = ServedName(path, served);
  if (real.empty()) return -1;
  struct stat st;
  if (write && (!StatFileAt(served.Handle.Fd(), real, st) || !MayWrite(served, st))) return -1;
  int fd = OpenFileAt(served.Handle.Fd(), real, write, st);
  if (fd < 0) return -1;
  // What was opened is checked again: the name may have been given to another file since.
  if ((write && !MayWrite(served, st)) || !(write ? DosLockForTransfer(fd) : DosLockForReading(fd))) {
    close(fd);
    return -1;
  }
  return fd;
}

std::string TFileService::NameBlockToPath() const {
  lastNamedPath_ = PathOfNameBlock(std::span<const std::uint8_t, 12>(paramBuffer.first<12>()), lastNamedDrive_);
  return lastNamedPath_;
}

std::string TFileService::PathOfNameBlock(std::span<const std::uint8_t, 12> block) const {
  char drive = 0;
  return PathOfNameBlock(block, drive);
}

std::string TFileService::PathOfNameBlock(std::span<const std::uint8_t, 12> block, char& letter) const {
  letter = 0;
  // A board service that was never started (a console-only one) reaches no folder at all.
  if (!serving_) return {};
  std::uint8_t drive = block[0];
  if (drive > kBoardDriveCount) return {};
  letter = drive == 0 ? drives_.CurrentDrive() : static_cast<char>('A' + drive - 1);
  // A drive without a folder behind it names nothing the board may reach.
  std::string folder = drives_.CurrentFolderOf(letter);
  if (folder.empty()) return {};
  std::string name = BoardName(block.subspan<1, 8>(), block.subspan<9, 3>(), true);
  if (!IsPlainName(name)) return {};
  return JoinDosPath(folder, name);
}

std::string TFileService::FoundPath() const {
  return search_.Active ? JoinDosPath(search_.Folder, search_.Found.Name) : std::string();
}

void TFileService::PathToNameBlock(const std::string& path) {
  std::string name = DosUpper(NameOf(path));
  if (!IsShortName(name)) name = ShortFileName(path);
  std::fill(paramBuffer.begin() + 1, paramBuffer.begin() + 12, std::uint8_t{32});
  std::size_t dot = name.find('.');
  std::string_view base = std::string_view(name).substr(0, std::min<std::size_t>(dot, 8));
  std::copy(base.begin(), base.end(), paramBuffer.begin() + 1);
  std::size_t lastDot = name.rfind('.');
  if (lastDot != std::string::npos) {
    std::string_view ext = std::string_view(name).substr(lastDot + 1, 3);
    std::copy(ext.begin(), ext.end(), paramBuffer.begin() + 9);
  }
}

OpenFileEntry* TFileService::FindEntry(const std::string& path) {
  if (path.empty()) return nullptr;
  auto it = std::find_if(openFileTable_.begin(), openFileTable_.end(), [&](const auto& e) { return e.path == path; });
  return it == openFileTable_.end() ? nullptr : &*it;
}

void TFileService::FreeEntry(const std::string& path) {
  if (OpenFileEntry* entry = FindEntry(path)) *entry = OpenFileEntry{};
}

void TFileService::UseEntry(const std::string& path) {
  if (OpenFileEntry* entry = FindEntry(path)) {
    entry->position = 0;
    return;
  }
  auto free = std::find_if(openFileTable_.begin(), openFileTable_.end(), [](const auto& e) { return e.path.empty(); });
  if (free == openFileTable_.end()) free = openFileTable_.insert(openFileTable_.end(), OpenFileEntry{});
  free->path = path;
  free->position = 0;
}

void TFileService::SelectBoardDrive() {
  TDosDrives::THold hold(drives_);
  if (!serving_) return;
  std::string current = drives_.CurrentFolder();
  RecordDriveFolder(current);
  std::uint8_t drive = paramBuffer[0];
  // Drive numbers beyond P, and drives with no folder behind them, name no drive: the board
  // stays where it is. A folder recorded for a drive that has since moved is not entered.
  if (drive < kBoardDriveCount) drives_.SelectDrive(static_cast<char>('A' + drive), DriveFolders[drive]);
}

std::uint8_t TFileService::OpenOrMake(bool make) {
  std::string path = NameBlockToPath();
  if (path.empty()) return kResultFailed;
  int fd = -1;
  if (make) {
    std::string name = NameOf(path);
    TServedFolder served;
    if (!IsCreatableName(name) || !OpenServed(FolderOf(path), served) || IsOwn(served, name))
      return kResultFailed;
    TDosListing* listing = listings_.Of(served.Handle);
    const TDosFileInfo* file = listing ? listing->Find(name) : nullptr;
    const int folder = served.Handle.Fd();
    if (file) {
      std::string real = file->Name;
      struct stat st;
      if (IsOwn(served, real)) return kResultFailed;
      fd = OpenFileAt(folder, real, true, st);
      if (fd >= 0 && (!MayWrite(served, st) || !DosLockForTransfer(fd) || ftruncate(fd, 0) != 0)) {
        close(fd);
        fd = -1;
      }
    } else {
      fd = CreateFileAt(folder, name);
    }
  } else {
    // Read-only files open too; only their writes fail.
    fd = OpenForTransfer(path, false);
  }
  if (fd < 0) return kResultFailed;
  close(fd);
  UseEntry(path);
  return kResultOk;
}

std::uint8_t TFileService::OpenBoardFile() {
  TDosDrives::THold hold(drives_);
  return OpenOrMake(false);
}

std::uint8_t TFileService::MakeBoardFile() {
  TDosDrives::THold hold(drives_);
  return OpenOrMake(true);
}

std::uint8_t TFileService::CloseBoardFile() {
  TDosDrives::THold hold(drives_);
  OpenFileEntry* entry = FindEntry(NameBlockToPath());
  if (!entry) return kResultFailed;
  *entry = OpenFileEntry{};
  return kResultOk;
}

// Search first starts from the beginning of the folder, search next goes on after the file
// found last; each step reads the folder's kept listing, so it costs the same in any folder.
bool TFileService::SearchStep(bool first) {
  if (!search_.Active) return false;
  TServedFolder served;
  TDosListing* listing = OpenServed(search_.Folder, served) ? listings_.Of(served.Handle) : nullptr;
  const TDosFileInfo* file =
      listing ? listing->NextMatch(search_.Pattern, first ? std::string() : search_.Found.Name,
                                   [&](const TDosFileInfo& candidate) { return IsOwn(served, candidate.Name); })
              : nullptr;
  if (!file) {
    search_ = TSearchState{};
    return false;
  }
  search_.Found = *file;
  return true;
}

std::uint8_t TFileService::SearchFirstFile() {
  TDosDrives::THold hold(drives_);
  std::string path = NameBlockToPath();
  search_ = TSearchState{};
  if (path.empty()) return kResultFailed;
  search_ = TSearchState{true, FolderOf(path), NameOf(path), {}};
  if (!SearchStep(true)) return kResultFailed;
  PathToNameBlock(JoinDosPath(search_.Folder, search_.Found.Alias));
  return kResultOk;
}

std::uint8_t TFileService::SearchNextFile() {
  TDosDrives::THold hold(drives_);
  if (!SearchStep(false)) return kResultFailed;
  PathToNameBlock(JoinDosPath(search_.Folder, search_.Found.Alias));
  return kResultOk;
}

std::uint8_t TFileService::DeleteBoardFiles() {
  TDosDrives::THold hold(drives_);
  std::string path = NameBlockToPath();
  search_ = TSearchState{};
  if (path.empty()) return kResultFailed;
  std::string folder = FolderOf(path);
  search_ = TSearchState{true, folder, NameOf(path), {}};
  if (!SearchStep(true)) return kResultFailed;
  TServedFolder served;
  if (!OpenServed(folder, served)) return kResultFailed;
  do {
    TDosFileInfo file = search_.Found;
    FreeEntry(JoinDosPath(folder, file.Alias));
    FreeEntry(JoinDosPath(folder, DosUpper(file.Name)));
    struct stat st;
    const int at = served.Handle.Fd();
    if (!StatFileAt(at, file.Name, st) || !MayWrite(served, st) || DosLockedByOtherAt(at, file.Name) ||
        !DeleteFileAt(at, file.Name)) {
      search_ = TSearchState{};
      return kResultFailed;
    }
  } while (SearchStep(false));
  return kResultOk;
}

std::uint8_t TFileService::ReadRecordAt(OpenFileEntry& entry, std::int64_t offset) {
  int fd = OpenForTransfer(entry.path, false);
  if (fd < 0) return kResultFailed;
  if (!SeekTo(fd, offset)) {
    close(fd);
    return kResultFailed;
  }
  std::int64_t count = ReadFully(fd, recordBuffer.data(), kRecordSize);
  close(fd);
  if (count < 0) {
    // A read that fails outright still hands the board a record, of Ctrl-Z only.
    std::fill(recordBuffer.begin(), recordBuffer.end(), kPadByte);
    entry.position = static_cast<std::int32_t>(offset);
    return kResultOk;
  }
  entry.position = static_cast<std::int32_t>(offset + count);
  if (count == 0) return kResultEndOfFile;
  std::fill(recordBuffer.begin() + count, recordBuffer.end(), kPadByte);
  return kResultOk;
}

std::int64_t TFileService::WriteRecordAt(OpenFileEntry& entry, std::int64_t offset) {
  int fd = OpenForTransfer(entry.path, true);
  if (fd < 0) return -1;
  if (!SeekTo(fd, offset)) {
    close(fd);
    return -1;
  }
  std::int64_t count = WriteFully(fd, recordBuffer.data(), kRecordSize);
  close(fd);
  entry.position = static_cast<std::int32_t>(offset + count);
  return count;
}

std::int64_t TFileService::RandomRecordOffset() const {
  return (static_cast<std::int64_t>(paramBuffer[12]) + 256 * static_cast<std::int64_t>(paramBuffer[13])) *
         static_cast<std::int64_t>(kRecordSize);
}

std::uint8_t TFileService::ReadNextRecord() {
  TDosDrives::THold hold(drives_);
  OpenFileEntry* entry = FindEntry(NameBlockToPath());
  if (!entry) return kResultFailed;
  return ReadRecordAt(*entry, entry->position);
}

std::uint8_t TFileService::ReadRandomRecord() {
  TDosDrives::THold hold(drives_);
  OpenFileEntry* entry = FindEntry(NameBlockToPath());
  if (!entry) return kResultFailed;
  return ReadRecordAt(*entry, RandomRecordOffset());
}

std::uint8_t TFileService::WriteNextRecord() {
  TDosDrives::THold hold(drives_);
  OpenFileEntry* entry = FindEntry(NameBlockToPath());
  if (!entry) return kResultFailed;
  return WriteRecordAt(*entry, entry->position) == static_cast<std::int64_t>(kRecordSize) ? kResultOk : kResultFailed;
}

std::uint8_t TFileService::WriteRandomRecord() {
  TDosDrives::THold hold(drives_);
  OpenFileEntry* entry = FindEntry(NameBlockToPath());
  if (!entry) return kResultFailed;
  std::int64_t count = WriteRecordAt(*entry, RandomRecordOffset());
  if (count < 0) return kResultFailed;
  return count == static_cast<std::int64_t>(kRecordSize) ? kResultOk : kResultShortWrite;
}

std::uint8_t TFileService::RenameBoardFile() {
  TDosDrives::THold hold(drives_);
  std::string path = NameBlockToPath();
  if (path.empty()) return kResultFailed;
  FreeEntry(path);
  std::string newName = BoardName(paramBuffer.subspan<12, 8>(), paramBuffer.subspan<20, 3>(), false);
  if (!IsCreatableName(newName)) return kResultFailed;
  TServedFolder served;
  std::string real = ServedName(path, served);
  if (real.empty() || IsOwn(served, newName)) return kResultFailed;
  const int folder = served.Handle.Fd();
  if (DosLockedByOtherAt(folder, real)) return kResultFailed;
  // The new name may only be taken by the file itself (a change of case).
  TDosListing* listing = listings_.Of(served.Handle);
  const TDosFileInfo* holder = listing ? listing->Find(newName) : nullptr;
  if (holder && holder->Name != real) return kResultFailed;
  return RenameFileAt(folder, real, newName) ? kResultOk : kResultFailed;
}

std::uint16_t TFileService::GetDriveVector() const {
  TDosDrives::THold hold(drives_);
  std::uint16_t vector = 0;
  if (!serving_) return vector;
  auto roots = drives_.Roots();
  for (std::size_t i = 0; i < roots.size(); ++i)
    if (!roots[i].empty()) vector = static_cast<std::uint16_t>(vector | (1u << i));
  return vector;
}

std::uint8_t TFileService::GetCurrentDrive() const {
  TDosDrives::THold hold(drives_);
  return static_cast<std::uint8_t>(drives_.CurrentDrive() - 'A');
}

std::uint8_t TFileService::SetBoardFileAttr() {
  TDosDrives::THold hold(drives_);
  std::string path = NameBlockToPath();
  if (path.empty()) return kResultFailed;
  FreeEntry(path);
  TServedFolder served;
  std::string real = ServedName(path, served);
  if (real.empty()) return kResultFailed;
  const int folder = served.Handle.Fd();
  struct stat st;
  if (!StatFileAt(folder, real, st) || DosLockedByOtherAt(folder, real)) return kResultFailed;
  // The permissions of a file shared with other names are theirs as much as the board's.
  if (st.st_nlink > 1 && !served.LinksWritable) return kResultFailed;
  // Only read-only has a meaning here; the system and archive flags are accepted.
  bool readOnly = (paramBuffer[9] & 0x80) != 0;
  mode_t mode = st.st_mode & 07777;
  mode = readOnly ? (mode & ~mode_t{0222}) : (mode | S_IWUSR);
  return SetModeAt(folder, real, mode) ? kResultOk : kResultFailed;
}

void TFileService::StoreThreeBytes(std::uint32_t value) {
  paramBuffer[0] = static_cast<std::uint8_t>(value);
  paramBuffer[1] = static_cast<std::uint8_t>(value >> 8);
  paramBuffer[2] = static_cast<std::uint8_t>(value >> 16);
}

void TFileService::ComputeFileSize() {
  TDosDrives::THold hold(drives_);
  std::int64_t length = 0;
  TServedFolder served;
  std::string real = ServedName(NameBlockToPath(), served);
  struct stat st;
  if (!real.empty() && StatFileAt(served.Handle.Fd(), real, st)) length = st.st_size;
  std::int64_t records = (length + static_cast<std::int64_t>(kRecordSize) - 1) / static_cast<std::int64_t>(kRecordSize);
  // The third byte carries what does not fit in two, so that a file of 65536 records or
  // more is not reported as a short one.
  StoreThreeBytes(static_cast<std::uint32_t>(std::min<std::int64_t>(records, 0xFFFFFF)));
}

void TFileService::GetCurrentRecord() {
  TDosDrives::THold hold(drives_);
  OpenFileEntry* entry = FindEntry(NameBlockToPath());
  std::uint32_t record = 0;
  if (entry && entry->position > 0) record = static_cast<std::uint32_t>(entry->position) / kRecordSize;
  StoreThreeBytes(record);
}

}  // namespace mirte
