#include "board/board_view.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <climits>
#include <cstdlib>

namespace mirte {

namespace {

std::string LastComponent(const std::string& path) {
  std::string trimmed = path;
  while (trimmed.size() > 1 && trimmed.back() == '/') trimmed.pop_back();
  std::size_t slash = trimmed.rfind('/');
  return slash == std::string::npos ? trimmed : trimmed.substr(slash + 1);
}

std::string Resolved(const std::string& path) {
  char buffer[PATH_MAX];
  return !path.empty() && realpath(path.c_str(), buffer) ? std::string(buffer) : std::string();
}

}  // namespace

TBoardViewReader::TBoardViewReader(const TDosDrives& dosDrives, std::string viewed)
    : drives_(dosDrives), folder_(std::move(viewed)) {
  dir_ = opendir(folder_.c_str());
  if (!dir_) {
    phase_ = TPhase::Done;
    return;
  }
  // Asking the drives about each of 100,000 names would read the dosdevices folder as
  // often: its answers that do not depend on the name are taken once, and the drives are
  // asked only about names that could be one of the program's own.
  ownIds_ = drives_.OwnFileIds();
  const TProgramFiles& own = drives_.ProgramFiles();
  for (const std::string& path : {own.Executable, own.SettingsFile, drives_.DriveOptionsFile(), drives_.DosDevicesFolder()})
    if (!path.empty()) ownNames_.insert(DosUpper(LastComponent(path)));
  std::string canonical = Resolved(folder_);
  std::string devices = Resolved(drives_.DosDevicesFolder());
  inDevices_ = !canonical.empty() && !devices.empty() &&
              (canonical == devices || canonical.rfind(devices + "/", 0) == 0);
  char letter = drives_.DriveOf(folder_);
  view_.LinksWritable = letter != 0 && drives_.LinksWritable(letter);
}

TBoardViewReader::~TBoardViewReader() {
  if (dir_) closedir(static_cast<DIR*>(dir_));
}

bool TBoardViewReader::IsProgramFile(const std::string& name, const struct stat& st) const {
  if (inDevices_) return true;
  TFileId id{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
  if (std::find(ownIds_.begin(), ownIds_.end(), id) != ownIds_.end()) return true;
  return ownNames_.count(DosUpper(name)) != 0 && drives_.IsProgramFile(folder_, name);
}

void TBoardViewReader::Classify(const char* entryName) {
  std::string name = entryName;
  if (name == "." || name == "..") return;
  struct stat st;
  if (fstatat(dirfd(static_cast<DIR*>(dir_)), entryName, &st, AT_SYMLINK_NOFOLLOW) != 0) return;
  // The reasons are checked in the order the file service meets them.
  if (name[0] == '.')
    view_.Apart.push_back({name, TUnreachable::Hidden, {}});
  else if (S_ISLNK(st.st_mode))
    view_.Apart.push_back({name, TUnreachable::Link, {}});
  else if (S_ISDIR(st.st_mode))
    view_.Apart.push_back({name, IsProgramFile(name, st) ? TUnreachable::ProgramFile : TUnreachable::Folder, {}});
  else if (!S_ISREG(st.st_mode))
    view_.Apart.push_back({name, TUnreachable::NotRegular, {}});
  else
    visible_.push_back({name, static_cast<std::uint32_t>((st.st_size + 127) / 128), (st.st_mode & S_IWUSR) == 0,
                       static_cast<std::uint32_t>(st.st_nlink), IsProgramFile(name, st)});
}

bool TBoardViewReader::Step(std::size_t entries) {
  switch (phase_) {
    case TPhase::Reading:
      for (std::size_t i = 0; i < entries; ++i) {
        dirent* entry = readdir(static_cast<DIR*>(dir_));
        if (!entry) {
          closedir(static_cast<DIR*>(dir_));
          dir_ = nullptr;
          phase_ = TPhase::Sorting;
          break;
        }
        ++read_;
        Classify(entry->d_name);
      }
      // A folder no larger than a slice is finished in the same slice.
      if (phase_ == TPhase::Sorting && read_ <= entries) {
        Sort();
        Number();
        MakeView();
        phase_ = TPhase::Done;
      }
      break;
    case TPhase::Sorting:
      Sort();
      phase_ = TPhase::Numbering;
      break;
    case TPhase::Numbering:
      Number();
      phase_ = TPhase::Making;
      break;
    case TPhase::Making:
      MakeView();
      phase_ = TPhase::Done;
      break;
    case TPhase::Done:
      break;
  }
  return phase_ == TPhase::Done;
}

void TBoardViewReader::Sort() {
  std::sort(visible_.begin(), visible_.end(), [](const auto& a, const auto& b) { return a.Name < b.Name; });
}

void TBoardViewReader::Number() {
  // Aliases are numbered among all visible files, the program's own included, exactly as
  // a search numbers them.
  std::vector<std::string> names;
  names.reserve(visible_.size());
  for (const TVisible& file : visible_) names.push_back(file.Name);
  aliases_ = AssignShortAliases(names);
}

void TBoardViewReader::MakeView() {
  view_.Files.reserve(visible_.size());
  for (std::size_t i = 0; i < visible_.size(); ++i) {
    TVisible& file = visible_[i];
    if (file.Own) {
      view_.Apart.push_back({std::move(file.Name), TUnreachable::ProgramFile, {}});
      continue;
    }
    bool generated = aliases_[i] != DosUpper(file.Name);
    if (generated) view_.Apart.push_back({file.Name, TUnreachable::GeneratedAlias, aliases_[i]});
    view_.Files.push_back({std::move(aliases_[i]), std::move(file.Name), file.Records, file.ReadOnly, file.Links,
                          file.Links > 1 && !view_.LinksWritable});
  }
  visible_ = {};
  aliases_ = {};
  std::sort(view_.Apart.begin(), view_.Apart.end(), [](const auto& a, const auto& b) { return a.Name < b.Name; });
}

TBoardView BoardViewOf(const TDosDrives& drives, const std::string& folder) {
  TBoardViewReader reader(drives, folder);
  while (!reader.Step(4096)) {
  }
  return std::move(reader.View());
}

}  // namespace mirte
