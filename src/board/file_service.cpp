#include "board/file_service.h"

#include <fcntl.h>
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
    : paramBuffer(params), recordBuffer(record), drives(std::move(programFiles)) {
  ClearTables();
}

void TFileService::ClearTables() {
  openFileTable.assign(1, OpenFileEntry{});
  // "X:" names drive X's own current folder, whatever it is when the board selects X.
  for (std::size_t i = 0; i < DriveFolders.size(); ++i) DriveFolders[i] = std::string{static_cast<char>('A' + i), ':'};
  search.Close();
}

void TFileService::InitFileService() {
  serving = true;
  ClearTables();
}

void TFileService::RecordDriveFolder(const std::string& folder) {
  char letter = drives.DriveOf(folder);
  if (letter >= 'A' && letter < 'A' + kBoardDriveCount) DriveFolders[static_cast<std::size_t>(letter - 'A')] = folder;
}

bool TFileService::SetWorkingFolder(const std::string& folder) {
  bool changed = drives.SetWorkingFolder(folder);
  if (changed) RecordDriveFolder(drives.CurrentFolder());
  return changed;
}

// A name in a folder the board may reach that is not one of the program's own files.
bool TFileService::ServedName(const std::string& folder, std::string_view name) const {
  return drives.Reachable(folder) && !drives.IsProgramFile(folder, name);
}

// The real file a board path stands for, empty when there is none the board may reach.
std::string TFileService::ServedFile(const std::string& path) const {
  if (path.empty()) return {};
  std::string folder = FolderOf(path);
  std::string name = NameOf(path);
  if (!ServedName(folder, name)) return {};
  std::string real = FindDosFile(folder, name);
  if (real.empty() || drives.IsProgramFile(folder, real)) return {};
  return JoinDosPath(folder, real);
}

// Opens the file for one transfer, locked against other programs for as long as it is open.
int TFileService::OpenForTransfer(const std::string& path) const {
  std::string real = ServedFile(path);
  if (real.empty()) return -1;
  int fd = DosOpenReadWrite(real);
  if (fd >= 0 && !DosLockForTransfer(fd)) {
    close(fd);
    return -1;
  }
  return fd;
}

std::string TFileService::NameBlockToPath() const {
  lastNamedPath = PathOfNameBlock(std::span<const std::uint8_t, 12>(paramBuffer.first<12>()), lastNamedDrive);
  return lastNamedPath;
}

std::string TFileService::PathOfNameBlock(std::span<const std::uint8_t, 12> block) const {
  char drive = 0;
  return PathOfNameBlock(block, drive);
}

std::string TFileService::PathOfNameBlock(std::span<const std::uint8_t, 12> block, char& letter) const {
  letter = 0;
  // A board service that was never started (a console-only one) reaches no folder at all.
  if (!serving) return {};
  std::uint8_t drive = block[0];
  if (drive > kBoardDriveCount) return {};
  letter = drive == 0 ? drives.CurrentDrive() : static_cast<char>('A' + drive - 1);
  // A drive without a folder behind it names nothing the board may reach.
  std::string folder = drives.CurrentFolderOf(letter);
  if (folder.empty()) return {};
  std::string name = BoardName(block.subspan<1, 8>(), block.subspan<9, 3>(), true);
  if (!IsPlainName(name)) return {};
  return JoinDosPath(folder, name);
}

std::string TFileService::FoundPath() const {
  return search.Active() ? JoinDosPath(search.Folder(), search.Found().Name) : std::string();
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
  auto it = std::find_if(openFileTable.begin(), openFileTable.end(), [&](const auto& e) { return e.path == path; });
  return it == openFileTable.end() ? nullptr : &*it;
}

void TFileService::FreeEntry(const std::string& path) {
  if (OpenFileEntry* entry = FindEntry(path)) *entry = OpenFileEntry{};
}

void TFileService::UseEntry(const std::string& path) {
  if (OpenFileEntry* entry = FindEntry(path)) {
    entry->position = 0;
    return;
  }
  auto free = std::find_if(openFileTable.begin(), openFileTable.end(), [](const auto& e) { return e.path.empty(); });
  if (free == openFileTable.end()) free = openFileTable.insert(openFileTable.end(), OpenFileEntry{});
  free->path = path;
  free->position = 0;
}

void TFileService::SelectBoardDrive() {
  if (!serving) return;
  std::string current = drives.CurrentFolder();
  RecordDriveFolder(current);
  std::uint8_t drive = paramBuffer[0];
  // Drive numbers beyond P, and drives with no folder behind them, name no drive: the board
  // stays where it is. A folder recorded for a drive that has since moved is not entered.
  if (drive < kBoardDriveCount) drives.SelectDrive(static_cast<char>('A' + drive), DriveFolders[drive]);
}

std::uint8_t TFileService::OpenOrMake(bool make) {
  std::string path = NameBlockToPath();
  if (path.empty()) return kResultFailed;
  int fd;
  if (make) {
    std::string name = NameOf(path);
    if (!IsCreatableName(name) || !ServedName(FolderOf(path), name)) return kResultFailed;
    std::string real = FindDosFile(FolderOf(path), name);
    if (!real.empty() && drives.IsProgramFile(FolderOf(path), real)) return kResultFailed;
    fd = DosCreateFile(real.empty() ? path : JoinDosPath(FolderOf(path), real));
  } else {
    fd = OpenForTransfer(path);
  }
  if (fd < 0) return kResultFailed;
  close(fd);
  UseEntry(path);
  return kResultOk;
}

std::uint8_t TFileService::OpenBoardFile() {
  return OpenOrMake(false);
}

std::uint8_t TFileService::MakeBoardFile() {
  return OpenOrMake(true);
}

std::uint8_t TFileService::CloseBoardFile() {
  OpenFileEntry* entry = FindEntry(NameBlockToPath());
  if (!entry) return kResultFailed;
  *entry = OpenFileEntry{};
  return kResultOk;
}

bool TFileService::StartSearch(const std::string& path) {
  std::string folder = FolderOf(path);
  if (!drives.Reachable(folder)) {
    search.Close();
    return false;
  }
  return search.FindFirst(folder, NameOf(path), [&](std::string_view name) { return drives.IsProgramFile(folder, name); });
}

std::uint8_t TFileService::SearchFirstFile() {
  std::string path = NameBlockToPath();
  if (path.empty()) {
    search.Close();
    return kResultFailed;
  }
  if (!StartSearch(path)) return kResultFailed;
  PathToNameBlock(JoinDosPath(search.Folder(), search.Found().Alias));
  return kResultOk;
}

std::uint8_t TFileService::SearchNextFile() {
  if (!search.FindNext()) return kResultFailed;
  PathToNameBlock(JoinDosPath(search.Folder(), search.Found().Alias));
  return kResultOk;
}

std::uint8_t TFileService::DeleteBoardFiles() {
  std::string path = NameBlockToPath();
  if (path.empty()) {
    search.Close();
    return kResultFailed;
  }
  std::string folder = FolderOf(path);
  if (!StartSearch(path)) return kResultFailed;
  do {
    const TDosFileInfo& file = search.Found();
    FreeEntry(JoinDosPath(folder, file.Alias));
    FreeEntry(JoinDosPath(folder, DosUpper(file.Name)));
    std::string real = JoinDosPath(folder, file.Name);
    if (DosLockedByOther(real) || !DosDeleteFile(real)) {
      search.Close();
      return kResultFailed;
    }
  } while (search.FindNext());
  return kResultOk;
}

std::uint8_t TFileService::ReadRecordAt(OpenFileEntry& entry, std::int64_t offset) {
  int fd = OpenForTransfer(entry.path);
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
  int fd = OpenForTransfer(entry.path);
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
  OpenFileEntry* entry = FindEntry(NameBlockToPath());
  if (!entry) return kResultFailed;
  return ReadRecordAt(*entry, entry->position);
}

std::uint8_t TFileService::ReadRandomRecord() {
  OpenFileEntry* entry = FindEntry(NameBlockToPath());
  if (!entry) return kResultFailed;
  return ReadRecordAt(*entry, RandomRecordOffset());
}

std::uint8_t TFileService::WriteNextRecord() {
  OpenFileEntry* entry = FindEntry(NameBlockToPath());
  if (!entry) return kResultFailed;
  return WriteRecordAt(*entry, entry->position) == static_cast<std::int64_t>(kRecordSize) ? kResultOk : kResultFailed;
}

std::uint8_t TFileService::WriteRandomRecord() {
  OpenFileEntry* entry = FindEntry(NameBlockToPath());
  if (!entry) return kResultFailed;
  std::int64_t count = WriteRecordAt(*entry, RandomRecordOffset());
  if (count < 0) return kResultFailed;
  return count == static_cast<std::int64_t>(kRecordSize) ? kResultOk : kResultShortWrite;
}

std::uint8_t TFileService::RenameBoardFile() {
  std::string path = NameBlockToPath();
  if (path.empty()) return kResultFailed;
  FreeEntry(path);
  std::string newName = BoardName(paramBuffer.subspan<12, 8>(), paramBuffer.subspan<20, 3>(), false);
  if (!IsCreatableName(newName)) return kResultFailed;
  std::string folder = FolderOf(path);
  if (!ServedName(folder, newName)) return kResultFailed;
  std::string served = ServedFile(path);
  if (served.empty() || DosLockedByOther(served)) return kResultFailed;
  std::string real = NameOf(served);
  // The new name may only be taken by the file itself (a change of case).
  std::string holder = FindDosFile(folder, newName);
  if (!holder.empty() && holder != real) return kResultFailed;
  return DosRenameFile(JoinDosPath(folder, real), JoinDosPath(folder, newName)) ? kResultOk : kResultFailed;
}

std::uint16_t TFileService::GetDriveVector() const {
  std::uint16_t vector = 0;
  if (!serving) return vector;
  auto roots = drives.Roots();
  for (std::size_t i = 0; i < roots.size(); ++i)
    if (!roots[i].empty()) vector = static_cast<std::uint16_t>(vector | (1u << i));
  return vector;
}

std::uint8_t TFileService::GetCurrentDrive() const {
  return static_cast<std::uint8_t>(drives.CurrentDrive() - 'A');
}

std::uint8_t TFileService::SetBoardFileAttr() {
  std::string path = NameBlockToPath();
  if (path.empty()) return kResultFailed;
  FreeEntry(path);
  std::string real = ServedFile(path);
  if (real.empty() || DosLockedByOther(real)) return kResultFailed;
  // Only read-only has a meaning here; the system and archive flags are accepted.
  bool readOnly = (paramBuffer[9] & 0x80) != 0;
  return DosSetReadOnly(real, readOnly) ? kResultOk : kResultFailed;
}

void TFileService::StoreThreeBytes(std::uint32_t value) {
  paramBuffer[0] = static_cast<std::uint8_t>(value);
  paramBuffer[1] = static_cast<std::uint8_t>(value >> 8);
  paramBuffer[2] = static_cast<std::uint8_t>(value >> 16);
}

void TFileService::ComputeFileSize() {
  std::int64_t length = 0;
  std::string real = ServedFile(NameBlockToPath());
  int fd = real.empty() ? -1 : DosOpenReadWrite(real);
  if (fd >= 0) {
    off_t end = lseek(fd, 0, SEEK_END);
    if (end > 0) length = end;
    close(fd);
  }
  std::int64_t records = (length + static_cast<std::int64_t>(kRecordSize) - 1) / static_cast<std::int64_t>(kRecordSize);
  // The third byte carries what does not fit in two, so that a file of 65536 records or
  // more is not reported as a short one.
  StoreThreeBytes(static_cast<std::uint32_t>(std::min<std::int64_t>(records, 0xFFFFFF)));
}

void TFileService::GetCurrentRecord() {
  OpenFileEntry* entry = FindEntry(NameBlockToPath());
  std::uint32_t record = 0;
  if (entry && entry->position > 0) record = static_cast<std::uint32_t>(entry->position) / kRecordSize;
  StoreThreeBytes(record);
}

}  // namespace mirte
