#include "platform/dos_files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <numeric>
#include <set>

#include "platform/com_devices.h"
#include "platform/drive_options.h"

namespace mirte {

namespace {

constexpr std::string_view kInvalidShortChars = "\"*+,/:;<=>?[\\]|";
constexpr std::string_view kUncreatableChars = "\"*:<>?\\|";

bool IsShortNameChar(unsigned char c) {
  if (c <= 0x20 || c == 0x7F || c == '.') return false;
  return kInvalidShortChars.find(static_cast<char>(c)) == std::string_view::npos;
}

bool AllShortNameChars(std::string_view part) {
  return std::all_of(part.begin(), part.end(), [](char c) { return IsShortNameChar(static_cast<unsigned char>(c)); });
}

// Splits "NAME.EXT" at its last dot; a name without a dot has an empty extension.
std::pair<std::string_view, std::string_view> SplitAtLastDot(std::string_view name) {
  std::size_t dot = name.rfind('.');
  if (dot == std::string_view::npos) return {name, {}};
  return {name.substr(0, dot), name.substr(dot + 1)};
}

std::string ValidChars(std::string_view part, std::size_t limit) {
  std::string out;
  for (char c : part) {
    if (out.size() == limit) break;
    if (IsShortNameChar(static_cast<unsigned char>(c))) out += c;
  }
  return DosUpper(out);
}

std::string GeneratedAlias(std::string_view name, int number) {
  auto [base, ext] = SplitAtLastDot(name);
  if (base.empty()) {  // ".profile": the whole name is the base
    base = name;
    ext = {};
  }
  std::string tail = "~" + std::to_string(number);
  std::size_t baseLimit = tail.size() >= 8 ? 0 : std::min<std::size_t>(6, 8 - tail.size());
  std::string alias = ValidChars(base, baseLimit);
  alias += tail;
  std::string extension = ValidChars(ext, 3);
  if (!extension.empty()) alias += "." + extension;
  return alias;
}

bool IsVisibleRegular(const struct stat& st, std::string_view name) {
  return S_ISREG(st.st_mode) && !name.empty() && name[0] != '.';
}

// One field of a file control block: '*' fills the rest with '?', blanks pad.
bool ExpandField(std::string_view part, std::size_t width, std::string& field) {
  field.assign(width, ' ');
  for (std::size_t i = 0; i < part.size(); ++i) {
    if (part[i] == '*') {
      std::fill(field.begin() + static_cast<std::ptrdiff_t>(std::min(i, width)), field.end(), '?');
      return true;
    }
    if (i >= width) return false;
    field[i] = part[i];
  }
  return true;
}

std::string WithoutTrailingSlashes(std::string folder) {
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  return folder;
}

bool LiesUnder(const std::string& folder, const std::string& root) {
  if (root == "/") return true;
  return folder == root || (folder.size() > root.size() && folder.compare(0, root.size(), root) == 0 &&
                            folder[root.size()] == '/');
}

int DriveIndex(char letter) {
  if (letter >= 'a' && letter <= 'z') letter = static_cast<char>(letter - 'a' + 'A');
  if (letter < 'A' || letter >= 'A' + TDosDrives::kDriveCount) return -1;
  return letter - 'A';
}

char DriveLetter(int index) {
  return static_cast<char>('A' + index);
}

// The canonical form of an existing folder, empty for anything else.
std::string CanonicalFolder(const std::string& folder) {
  if (folder.empty() || folder[0] != '/') return {};
  char resolved[PATH_MAX];
  if (!realpath(folder.c_str(), resolved)) return {};
  struct stat st;
  if (stat(resolved, &st) != 0 || !S_ISDIR(st.st_mode)) return {};
  return resolved;
}

// The folder and name of a path; "" and "" for an empty path.
std::pair<std::string, std::string> SplitPath(const std::string& path) {
  std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return {".", path};
  return {slash == 0 ? "/" : path.substr(0, slash), path.substr(slash + 1)};
}

bool IsLockedError(int error) {
  return error == EWOULDBLOCK || error == EAGAIN || error == EACCES;
}

// The whole file, from its start to any length.
struct flock WholeFile(short type) {
  struct flock lock {};
  lock.l_type = type;
  lock.l_whence = SEEK_SET;
  lock.l_start = 0;
  lock.l_len = 0;
  return lock;
}

bool LstatRegular(const std::string& path, struct stat& st) {
  if (lstat(path.c_str(), &st) != 0) return false;
  if (!S_ISREG(st.st_mode)) {
    errno = S_ISLNK(st.st_mode) ? ELOOP : EISDIR;
    return false;
  }
  return true;
}

// Opens with the given flags and makes sure what was opened is a regular file.
int OpenRegular(const std::string& path, int flags, mode_t mode = 0) {
  int fd;
  do {
    fd = open(path.c_str(), flags | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, mode);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return -1;
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd);
    errno = EISDIR;
    return -1;
  }
  return fd;
}

}  // namespace

std::string DosUpper(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return out;
}

bool IsShortName(std::string_view name) {
  std::size_t dot = name.find('.');
  std::string_view base = name.substr(0, dot);
  if (base.empty() || base.size() > 8 || !AllShortNameChars(base)) return false;
  if (dot == std::string_view::npos) return true;
  std::string_view ext = name.substr(dot + 1);
  return !ext.empty() && ext.size() <= 3 && AllShortNameChars(ext);
}

std::vector<std::string> AssignShortAliases(const std::vector<std::string>& names) {
  std::vector<std::size_t> order(names.size());
  std::iota(order.begin(), order.end(), std::size_t{0});
  std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return names[a] < names[b]; });

  std::vector<std::string> aliases(names.size());
  std::set<std::string> taken;
  // Names the board itself made claim their aliases first, so that its own files never
  // change name when the PC adds a file whose name differs only in case.
  for (std::size_t i : order) {
    if (IsShortName(names[i]) && DosUpper(names[i]) == names[i] && taken.insert(names[i]).second)
      aliases[i] = names[i];
  }
  for (std::size_t i : order) {
    if (aliases[i].empty() && IsShortName(names[i])) {
      std::string upper = DosUpper(names[i]);
      if (taken.insert(upper).second) aliases[i] = upper;
    }
  }
  // Names that share their first valid characters and extension share a numbering; each
  // group goes on from its last number, so a folder of many similar names stays fast.
  std::map<std::string, int> nextNumber;
  for (std::size_t i : order) {
    if (!aliases[i].empty()) continue;
    int& number = nextNumber[GeneratedAlias(names[i], 1)];
    for (number = std::max(number, 1);; ++number) {
      std::string candidate = GeneratedAlias(names[i], number);
      if (taken.insert(candidate).second) {
        aliases[i] = candidate;
        ++number;
        break;
      }
    }
  }
  return aliases;
}

bool IsCreatableName(std::string_view name) {
  if (name.empty() || name[0] == '.') return false;
  for (char c : name) {
    auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || c == '/' || kUncreatableChars.find(c) != std::string_view::npos) return false;
  }
  return true;
}

bool HasWildcards(std::string_view name) {
  return name.find_first_of("?*") != std::string_view::npos;
}

bool DosWildcardMatch(std::string_view pattern, std::string_view name) {
  auto [patternBase, patternExt] = SplitAtLastDot(pattern);
  auto [nameBase, nameExt] = SplitAtLastDot(name);
  std::string patternFields, nameFields, field;
  if (!ExpandField(patternBase, 8, field)) return false;
  patternFields = field;
  if (!ExpandField(patternExt, 3, field)) return false;
  patternFields += field;
  if (nameBase.size() > 8 || nameExt.size() > 3) return false;
  if (!ExpandField(nameBase, 8, field)) return false;
  nameFields = field;
  if (!ExpandField(nameExt, 3, field)) return false;
  nameFields += field;
  patternFields = DosUpper(patternFields);
  nameFields = DosUpper(nameFields);
  for (std::size_t i = 0; i < patternFields.size(); ++i) {
    if (patternFields[i] != '?' && patternFields[i] != nameFields[i]) return false;
  }
  return true;
}

std::vector<TDosFileInfo> ListDosFiles(const std::string& folder) {
  std::vector<TDosFileInfo> files;
  DIR* dir = opendir(folder.empty() ? "." : folder.c_str());
  if (!dir) return files;
  int dirFd = dirfd(dir);
  while (dirent* entry = readdir(dir)) {
    std::string_view name = entry->d_name;
    if (name.empty() || name[0] == '.') continue;
    struct stat st;
    if (fstatat(dirFd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
    if (!IsVisibleRegular(st, name)) continue;
    files.push_back({std::string(name), {}, (st.st_mode & S_IWUSR) == 0});
  }
  closedir(dir);
  std::sort(files.begin(), files.end(), [](const auto& a, const auto& b) { return a.Name < b.Name; });
  std::vector<std::string> names;
  names.reserve(files.size());
  for (const auto& file : files) names.push_back(file.Name);
  std::vector<std::string> aliases = AssignShortAliases(names);
  for (std::size_t i = 0; i < files.size(); ++i) files[i].Alias = std::move(aliases[i]);
  return files;
}

std::string ShortFileName(const std::string& path) {
  std::size_t slash = path.rfind('/');
  std::string folder = slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  if (name.empty()) return {};
  std::vector<std::string> names;
  for (auto& file : ListDosFiles(folder)) names.push_back(std::move(file.Name));
  if (std::find(names.begin(), names.end(), name) == names.end()) names.push_back(name);
  std::sort(names.begin(), names.end());
  std::vector<std::string> aliases = AssignShortAliases(names);
  auto it = std::find(names.begin(), names.end(), name);
  return aliases[static_cast<std::size_t>(it - names.begin())];
}

std::string FindDosFile(const std::string& folder, std::string_view name) {
  if (name.empty() || name == "." || name == ".." || name.find('/') != std::string_view::npos ||
      name.find('\0') != std::string_view::npos)
    return {};
  // The board's own files are found without reading the folder: a name that exists as
  // it is always keeps itself as its alias.
  struct stat st;
  std::string direct = JoinDosPath(folder, name);
  if (lstat(direct.c_str(), &st) == 0 && IsVisibleRegular(st, name)) return std::string(name);
  std::string upper = DosUpper(name);
  std::vector<TDosFileInfo> files = ListDosFiles(folder);
  for (const auto& file : files)
    if (file.Alias == upper) return file.Name;
  for (const auto& file : files)
    if (DosUpper(file.Name) == upper) return file.Name;
  return {};
}

std::string JoinDosPath(const std::string& folder, std::string_view name) {
  std::string path = folder;
  if (path.empty() || path.back() != '/') path += '/';
  path += name;
  return path;
}

bool TDosSearch::FindFirst(const std::string& searchFolder, std::string_view searchPattern, const TSkip& skip) {
  Close();
  folder_ = searchFolder;
  pattern_ = searchPattern;
  if (HasWildcards(pattern_)) {
    for (auto& file : ListDosFiles(folder_))
      if (DosWildcardMatch(pattern_, file.Alias)) entries_.push_back(std::move(file));
  } else if (std::string name = FindDosFile(folder_, pattern_); !name.empty()) {
    for (auto& file : ListDosFiles(folder_))
      if (file.Name == name) entries_.push_back(std::move(file));
  }
  if (skip) std::erase_if(entries_, [&](const TDosFileInfo& file) { return skip(file.Name); });
  active_ = true;
  return Advance();
}

bool TDosSearch::FindNext() {
  return active_ && Advance();
}

void TDosSearch::Close() {
  active_ = false;
  entries_.clear();
  next = 0;
}

bool TDosSearch::Advance() {
  if (next >= entries_.size()) {
    Close();
    return false;
  }
  found_ = entries_[next++];
  return true;
}

bool DosIsReadOnly(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && (st.st_mode & S_IWUSR) == 0;
}

bool DosSetReadOnly(const std::string& path, bool readOnly) {
  struct stat st;
  if (!LstatRegular(path, st)) return false;
  mode_t mode = st.st_mode & 07777;
  mode = readOnly ? (mode & ~mode_t{0222}) : (mode | S_IWUSR);
  return chmod(path.c_str(), mode) == 0;
}

int DosOpenReadWrite(const std::string& path) {
  struct stat st;
  if (!LstatRegular(path, st)) return -1;
  // Root may write anything; a read-only file must still refuse, as it does for the board.
  if ((st.st_mode & S_IWUSR) == 0) {
    errno = EACCES;
    return -1;
  }
  return OpenRegular(path, O_RDWR);
}

int DosCreateFile(const std::string& path) {
  struct stat st;
  if (lstat(path.c_str(), &st) == 0) {
    if (!S_ISREG(st.st_mode)) {
      errno = EISDIR;
      return -1;
    }
    if ((st.st_mode & S_IWUSR) == 0) {
      errno = EACCES;
      return -1;
    }
  }
  int fd = OpenRegular(path, O_RDWR | O_CREAT, 0666);
  if (fd < 0) return -1;
  if (!DosLockForTransfer(fd) || ftruncate(fd, 0) != 0) {
    int error = errno;
    close(fd);
    errno = error == 0 ? EWOULDBLOCK : error;
    return -1;
  }
  return fd;
}

bool DosDeleteFile(const std::string& path) {
  struct stat st;
  if (!LstatRegular(path, st)) return false;
  if ((st.st_mode & S_IWUSR) == 0) {
    errno = EACCES;
    return false;
  }
  return unlink(path.c_str()) == 0;
}

bool DosRenameFile(const std::string& from, const std::string& to) {
  struct stat st;
  if (!LstatRegular(from, st)) return false;
  if (from == to) return true;
  if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS) return false;
  // File systems without RENAME_NOREPLACE: a hard link cannot replace either.
  if (link(from.c_str(), to.c_str()) != 0) return false;
  return unlink(from.c_str()) == 0;
}

bool DosFolderExists(const std::string& folder) {
  struct stat st;
  return !folder.empty() && stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

TDosDrives::TDosDrives(TProgramFiles files) : programFiles_(std::move(files)) {}

void TDosDrives::SetProgramFiles(TProgramFiles files) {
  Forget();
  programFiles_ = std::move(files);
}

std::string TDosDrives::DosDevicesFolder() const {
  if (!programFiles_.DosDevices.empty()) return programFiles_.DosDevices;
  return ComDevicesFolder().string();
}

std::string TDosDrives::LinkPath(int index) const {
  std::string link = JoinDosPath(DosDevicesFolder(), "");
  link += static_cast<char>('a' + index);
  link += ':';
  return link;
}

std::string TDosDrives::LinkTarget(char letter) const {
  int index = DriveIndex(letter);
  if (index < 0) return {};
  char target[PATH_MAX];
  ssize_t n = readlink(LinkPath(index).c_str(), target, sizeof target - 1);
  if (n <= 0) return {};
  return std::string(target, static_cast<std::size_t>(n));
}

std::string TDosDrives::MappedFolder(char letter) const {
  int index = DriveIndex(letter);
  if (index < 0) return {};
  // Only a link counts: a real folder named "x:" would lie inside the program's own files.
  std::string link = LinkPath(index);
  struct stat st;
  if (lstat(link.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return {};
  return CanonicalFolder(link);
}

bool TDosDrives::MapDrive(char letter, const std::string& folder) {
  Forget();
  int index = DriveIndex(letter);
  if (index < 0 || !DosFolderExists(folder) || folder[0] != '/') {
    errno = EINVAL;
    return false;
  }
  if (IsRefusedRoot(folder)) {
    errno = EPERM;
    return false;
  }
  if (!UnmapDrive(letter) && errno != ENOENT) return false;
  std::string devices = DosDevicesFolder();
  if (mkdir(devices.c_str(), 0777) != 0 && errno != EEXIST) return false;
  return symlink(WithoutTrailingSlashes(folder).c_str(), LinkPath(index).c_str()) == 0;
}

bool TDosDrives::UnmapDrive(char letter) {
  Forget();
  int index = DriveIndex(letter);
  if (index < 0) {
    errno = EINVAL;
    return false;
  }
  std::string link = LinkPath(index);
  struct stat st;
  if (lstat(link.c_str(), &st) != 0) return false;
  if (!S_ISLNK(st.st_mode)) {
    errno = EPERM;
    return false;
  }
  return unlink(link.c_str()) == 0;
}

TDosDrives::THold::THold(const TDosDrives& held) : drives_(held) {
  ++drives_.holds_;
}

TDosDrives::THold::~THold() {
  if (--drives_.holds_ == 0) drives_.Forget();
}

void TDosDrives::Forget() const {
  heldRoots_.reset();
  heldOwnIds_.reset();
  heldCanonical_.clear();
  heldRefused_.reset();
}

const TRefusedRoots& TDosDrives::Refused() const {
  if (!heldRefused_ || holds_ == 0) heldRefused_.emplace();
  return *heldRefused_;
}

std::string TDosDrives::Canonical(const std::string& folder) const {
  if (holds_ == 0) return CanonicalFolder(folder);
  auto it = heldCanonical_.find(folder);
  if (it == heldCanonical_.end()) it = heldCanonical_.emplace(folder, CanonicalFolder(folder)).first;
  return it->second;
}

std::array<std::string, TDosDrives::kDriveCount> TDosDrives::Roots() const {
  if (holds_ > 0 && heldRoots_) return *heldRoots_;
  std::array<std::string, kDriveCount> roots;
  // Every board command asks this, often more than once. One listing of the folder finds
  // the few links there are; asking for all sixteen one by one cost a system call each.
  if (DIR* devices = opendir(DosDevicesFolder().c_str())) {
    while (const dirent* entry = readdir(devices)) {
      const std::string_view name = entry->d_name;
      if (name.size() != 2 || name[1] != ':') continue;
      if (entry->d_type != DT_LNK && entry->d_type != DT_UNKNOWN) continue;
      const int index = DriveIndex(name[0]);
      if (index < 0) continue;
      std::string root = MappedFolder(DriveLetter(index));
      if (!root.empty() && !IsRefusedRoot(root, Refused())) roots[static_cast<std::size_t>(index)] = std::move(root);
    }
    closedir(devices);
  }
  std::string working = Canonical(workingFolder_);
  if (!working.empty() && !IsRefusedRoot(working, Refused()) && DriveOf(working, roots) == 0) roots['C' - 'A'] = working;
  if (holds_ > 0) heldRoots_ = roots;
  return roots;
}

// A board command asks for the roots many times under one hold; copying all sixteen each
// time was most of the allocations a command made.
const TDosDrives::TRoots& TDosDrives::RootsSeen(TRoots& fresh) const {
  if (holds_ > 0 && heldRoots_) return *heldRoots_;
  fresh = Roots();
  return fresh;
}

bool TDosDrives::RefusedLink(char letter) const {
  std::string root = MappedFolder(letter);
  return !root.empty() && IsRefusedRoot(root, Refused());
}

TFolderHandle TDosDrives::OpenFolder(const std::string& folder, char* drive) const {
  if (drive) *drive = 0;
  std::string plain = WithoutTrailingSlashes(folder);
  TRoots fresh;
  const TRoots& roots = RootsSeen(fresh);
  char letter = 0;
  std::size_t best = 0;
  // By name only: what the folder now is on disk is for the descriptors to find out.
  for (int i = 0; i < kDriveCount; ++i) {
    const std::string& root = roots[static_cast<std::size_t>(i)];
    if (!root.empty() && (letter == 0 || root.size() > best) && LiesUnder(plain, root)) {
      letter = DriveLetter(i);
      best = root.size();
    }
  }
  if (letter == 0) return TFolderHandle();
  const std::string& root = roots[static_cast<std::size_t>(letter - 'A')];
  TFolderHandle rootHandle = OpenDriveRoot(root, Refused());
  if (!rootHandle.Valid()) return rootHandle;
  std::string_view relative = std::string_view(plain).substr(root == "/" ? 1 : root.size());
  while (!relative.empty() && relative.front() == '/') relative.remove_prefix(1);
  // Most commands are for a drive's own root, which is open already.
  TFolderHandle handle = relative.empty() ? std::move(rootHandle) : OpenBeneath(rootHandle.Fd(), relative);
  if (handle.Valid() && drive) *drive = letter;
  return handle;
}

std::vector<TFileId> TDosDrives::OwnFileIds() const {
  if (holds_ > 0 && heldOwnIds_) return *heldOwnIds_;
  std::vector<TFileId> ids;
  auto add = [&](const struct stat& st) {
    ids.push_back({static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)});
  };
  struct stat st;
  for (const std::string& path : {programFiles_.Executable, programFiles_.SettingsFile, DriveOptionsFile()})
    if (!path.empty() && stat(path.c_str(), &st) == 0) add(st);
  std::string devices = DosDevicesFolder();
  if (DIR* dir = opendir(devices.c_str())) {
    int dirFd = dirfd(dir);
    if (fstat(dirFd, &st) == 0) add(st);
    while (const dirent* entry = readdir(dir)) {
      std::string_view name = entry->d_name;
      if (name == "." || name == "..") continue;
      if (fstatat(dirFd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0) add(st);
    }
    closedir(dir);
  }
  if (holds_ > 0) heldOwnIds_ = ids;
  return ids;
}

bool TDosDrives::LinksWritable(char letter) const {
  std::string path = DriveOptionsFile();
  return !path.empty() && LoadDriveOptions(path).LinksWritable(letter);
}

std::string TDosDrives::DriveOptionsFile() const {
  return DriveOptionsPath(programFiles_.SettingsFile);
}

char TDosDrives::DriveOf(const std::string& canonical, const TRoots& roots) const {
  char best = 0;
  std::size_t bestLength = 0;
  for (int i = 0; i < kDriveCount; ++i) {
    const std::string& root = roots[static_cast<std::size_t>(i)];
    if (!root.empty() && (best == 0 || root.size() > bestLength) && LiesUnder(canonical, root)) {
      best = DriveLetter(i);
      bestLength = root.size();
    }
  }
  return best;
}

bool TDosDrives::SetWorkingFolder(const std::string& folder) {
  Forget();
  workingFolder_ = WithoutTrailingSlashes(folder);
  return !IsRefusedRoot(workingFolder_, Refused()) && SetCurrentFolder(workingFolder_);
}

char TDosDrives::WorkingDrive() const {
  std::string working = Canonical(workingFolder_);
  TRoots fresh;
  char drive = working.empty() ? 0 : DriveOf(working, RootsSeen(fresh));
  return drive == 0 ? 'C' : drive;
}

bool TDosDrives::DriveExists(char letter) const {
  const int index = DriveIndex(letter);
  TRoots fresh;
  return index >= 0 && !RootsSeen(fresh)[static_cast<std::size_t>(index)].empty();
}

std::string TDosDrives::DriveRoot(char letter) const {
  int index = DriveIndex(letter);
  if (index < 0) return {};
  TRoots fresh;
  return RootsSeen(fresh)[static_cast<std::size_t>(index)];
}

char TDosDrives::DriveOf(const std::string& folder) const {
  std::string canonical = Canonical(folder);
  TRoots fresh;
  return canonical.empty() ? 0 : DriveOf(canonical, RootsSeen(fresh));
}

char TDosDrives::CurrentDrive() const {
  if (DriveExists(currentDrive_)) return currentDrive_;
  return WorkingDrive();
}

std::string TDosDrives::CurrentFolder() const {
  return CurrentFolderOf(CurrentDrive());
}

std::string TDosDrives::CurrentFolderOf(char letter) const {
  int index = DriveIndex(letter);
  if (index < 0) return {};
  std::string root = DriveRoot(letter);
  if (root.empty()) return {};
  const std::string& folder = currentFolders_[static_cast<std::size_t>(index)];
  // A folder that is no longer the drive's, or is now reached through a link, is left.
  if (folder.empty() || !LiesUnder(folder, root) || Canonical(folder) != folder) return root;
  return folder;
}

bool TDosDrives::SetCurrentFolder(const std::string& folder) {
  if (folder.size() == 2 && folder[1] == ':') return SelectDrive(folder[0], folder);
  std::string canonical = Canonical(folder);
  if (canonical.empty()) return false;
  TRoots fresh;
  char letter = DriveOf(canonical, RootsSeen(fresh));
  if (letter == 0) return false;
  currentFolders_[static_cast<std::size_t>(letter - 'A')] = canonical;
  currentDrive_ = letter;
  return true;
}

bool TDosDrives::SelectDrive(char letter, const std::string& folder) {
  int index = DriveIndex(letter);
  if (index < 0) return false;
  TRoots fresh;
  const TRoots& roots = RootsSeen(fresh);
  const std::string& root = roots[static_cast<std::size_t>(index)];
  if (root.empty()) return false;
  std::string canonical = Canonical(folder);
  if (!canonical.empty() && LiesUnder(canonical, root) && DriveOf(canonical, roots) == DriveLetter(index))
    currentFolders_[static_cast<std::size_t>(index)] = canonical;
  currentDrive_ = DriveLetter(index);
  return true;
}

bool TDosDrives::Reachable(const std::string& folder) const {
  std::string canonical = Canonical(folder);
  TRoots fresh;
  return !canonical.empty() && canonical == WithoutTrailingSlashes(folder) && DriveOf(canonical, RootsSeen(fresh)) != 0;
}

bool TDosDrives::IsProgramFile(const std::string& folder, std::string_view name) const {
  std::string canonical = Canonical(folder);
  if (canonical.empty()) return false;
  if (IsProgramFileNameIn(canonical, name)) return true;
  // One of them reached under another name (a hard link, a bind mount) is still itself.
  struct stat other;
  if (lstat(JoinDosPath(canonical, name).c_str(), &other) != 0) return false;
  std::vector<TFileId> own = OwnFileIds();
  TFileId id{static_cast<std::uint64_t>(other.st_dev), static_cast<std::uint64_t>(other.st_ino)};
  return std::find(own.begin(), own.end(), id) != own.end();
}

bool TDosDrives::IsProgramFileName(const std::string& folder, std::string_view name) const {
  std::string canonical = Canonical(folder);
  return !canonical.empty() && IsProgramFileNameIn(canonical, name);
}

bool TDosDrives::IsProgramFileNameIn(const std::string& canonical, std::string_view name) const {
  std::string upper = DosUpper(name);
  auto sameEntry = [&](const std::string& path) {
    if (path.empty()) return false;
    auto [ownFolder, ownName] = SplitPath(path);
    return DosUpper(ownName) == upper && Canonical(ownFolder) == canonical;
  };
  if (sameEntry(programFiles_.Executable) || sameEntry(programFiles_.SettingsFile) || sameEntry(DriveOptionsFile()))
    return true;
  std::string devices = WithoutTrailingSlashes(DosDevicesFolder());
  if (sameEntry(devices)) return true;
  std::string devicesCanonical = Canonical(devices);
  return !devicesCanonical.empty() && LiesUnder(canonical, devicesCanonical);
}

bool DosLockedByOther(const std::string& path) {
  return DosLockedByOtherAt(AT_FDCWD, path);
}

bool DosLockedByOtherAt(int folder, const std::string& name) {
  struct stat st;
  int fd = OpenFileAt(folder, name, false, st);
  if (fd < 0) return false;
  bool locked = false;
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    locked = IsLockedError(errno);
  } else {
    // An OFD query sees POSIX record locks of every process and OFD locks of every open
    // file, but not the flock just taken.
    struct flock probe = WholeFile(F_WRLCK);
    locked = fcntl(fd, F_OFD_GETLK, &probe) == 0 && probe.l_type != F_UNLCK;
  }
  close(fd);
  return locked;
}

bool DosLockForTransfer(int fd) {
  if (flock(fd, LOCK_EX | LOCK_NB) != 0 && IsLockedError(errno)) return false;
  // An OFD lock belongs to this descriptor alone and ends with it; programs that lock
  // with lockf or fcntl see it, as flock users see the one above.
  struct flock lock = WholeFile(F_WRLCK);
  if (fcntl(fd, F_OFD_SETLK, &lock) != 0 && IsLockedError(errno)) return false;
  return true;
}

bool DosLockForReading(int fd) {
  if (flock(fd, LOCK_SH | LOCK_NB) != 0 && IsLockedError(errno)) return false;
  struct flock lock = WholeFile(F_RDLCK);
  if (fcntl(fd, F_OFD_SETLK, &lock) != 0 && IsLockedError(errno)) return false;
  return true;
}

}  // namespace mirte
