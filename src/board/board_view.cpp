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
    : drives(dosDrives), folder(std::move(viewed)) {
  dir = opendir(folder.c_str());
  if (!dir) {
    phase = TPhase::Done;
    return;
  }
  // Asking the drives about each of 100,000 names would read the dosdevices folder as
  // often: its answers that do not depend on the name are taken once, and the drives are
  // asked only about names that could be one of the program's own.
  ownIds = drives.OwnFileIds();
  const TProgramFiles& own = drives.ProgramFiles();
  for (const std::string& path : {own.Executable, own.SettingsFile, drives.DriveOptionsFile(), drives.DosDevicesFolder()})
    if (!path.empty()) ownNames.insert(DosUpper(LastComponent(path)));
  std::string canonical = Resolved(folder);
  std::string devices = Resolved(drives.DosDevicesFolder());
  inDevices = !canonical.empty() && !devices.empty() &&
              (canonical == devices || canonical.rfind(devices + "/", 0) == 0);
  char letter = drives.DriveOf(folder);
  view.LinksWritable = letter != 0 && drives.LinksWritable(letter);
}

TBoardViewReader::~TBoardViewReader() {
  if (dir) closedir(static_cast<DIR*>(dir));
}

bool TBoardViewReader::IsProgramFile(const std::string& name, const struct stat& st) const {
  if (inDevices) return true;
  TFileId id{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
  if (std::find(ownIds.begin(), ownIds.end(), id) != ownIds.end()) return true;
  return ownNames.count(DosUpper(name)) != 0 && drives.IsProgramFile(folder, name);
}

void TBoardViewReader::Classify(const char* entryName) {
  std::string name = entryName;
  if (name == "." || name == "..") return;
  struct stat st;
  if (fstatat(dirfd(static_cast<DIR*>(dir)), entryName, &st, AT_SYMLINK_NOFOLLOW) != 0) return;
  // The reasons are checked in the order the file service meets them.
  if (name[0] == '.')
    view.Apart.push_back({name, TUnreachable::Hidden, {}});
  else if (S_ISLNK(st.st_mode))
    view.Apart.push_back({name, TUnreachable::Link, {}});
  else if (S_ISDIR(st.st_mode))
    view.Apart.push_back({name, IsProgramFile(name, st) ? TUnreachable::ProgramFile : TUnreachable::Folder, {}});
  else if (!S_ISREG(st.st_mode))
    view.Apart.push_back({name, TUnreachable::NotRegular, {}});
  else
    visible.push_back({name, static_cast<std::uint32_t>((st.st_size + 127) / 128), (st.st_mode & S_IWUSR) == 0,
                       static_cast<std::uint32_t>(st.st_nlink), IsProgramFile(name, st)});
}

bool TBoardViewReader::Step(std::size_t entries) {
  switch (phase) {
    case TPhase::Reading:
      for (std::size_t i = 0; i < entries; ++i) {
        dirent* entry = readdir(static_cast<DIR*>(dir));
        if (!entry) {
          closedir(static_cast<DIR*>(dir));
          dir = nullptr;
          phase = TPhase::Sorting;
          break;
        }
        ++read;
        Classify(entry->d_name);
      }
      // A folder no larger than a slice is finished in the same slice.
      if (phase == TPhase::Sorting && read <= entries) {
        Sort();
        Number();
        MakeView();
        phase = TPhase::Done;
      }
      break;
    case TPhase::Sorting:
      Sort();
      phase = TPhase::Numbering;
      break;
    case TPhase::Numbering:
      Number();
      phase = TPhase::Making;
      break;
    case TPhase::Making:
      MakeView();
      phase = TPhase::Done;
      break;
    case TPhase::Done:
      break;
  }
  return phase == TPhase::Done;
}

void TBoardViewReader::Sort() {
  std::sort(visible.begin(), visible.end(), [](const auto& a, const auto& b) { return a.Name < b.Name; });
}

void TBoardViewReader::Number() {
  // Aliases are numbered among all visible files, the program's own included, exactly as
  // a search numbers them.
  std::vector<std::string> names;
  names.reserve(visible.size());
  for (const TVisible& file : visible) names.push_back(file.Name);
  aliases = AssignShortAliases(names);
}

void TBoardViewReader::MakeView() {
  view.Files.reserve(visible.size());
  for (std::size_t i = 0; i < visible.size(); ++i) {
    TVisible& file = visible[i];
    if (file.Own) {
      view.Apart.push_back({std::move(file.Name), TUnreachable::ProgramFile, {}});
      continue;
    }
    bool generated = aliases[i] != DosUpper(file.Name);
    if (generated) view.Apart.push_back({file.Name, TUnreachable::GeneratedAlias, aliases[i]});
    view.Files.push_back({std::move(aliases[i]), std::move(file.Name), file.Records, file.ReadOnly, file.Links,
                          file.Links > 1 && !view.LinksWritable});
  }
  visible = {};
  aliases = {};
  std::sort(view.Apart.begin(), view.Apart.end(), [](const auto& a, const auto& b) { return a.Name < b.Name; });
}

TBoardView BoardViewOf(const TDosDrives& drives, const std::string& folder) {
  TBoardViewReader reader(drives, folder);
  while (!reader.Step(4096)) {
  }
  return std::move(reader.View());
}

}  // namespace mirte
