#include "board/board_view.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>

namespace mirte {

TBoardView BoardViewOf(const TDosDrives& drives, const std::string& folder) {
  TBoardView view;
  DIR* dir = opendir(folder.c_str());
  if (!dir) return view;
  int dirFd = dirfd(dir);
  while (dirent* entry = readdir(dir)) {
    std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    struct stat st;
    if (fstatat(dirFd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
    // The reasons are checked in the order the file service meets them.
    if (name[0] == '.')
      view.Apart.push_back({name, TUnreachable::Hidden, {}});
    else if (S_ISLNK(st.st_mode))
      view.Apart.push_back({name, TUnreachable::Link, {}});
    else if (S_ISDIR(st.st_mode))
      view.Apart.push_back({name, drives.IsProgramFile(folder, name) ? TUnreachable::ProgramFile : TUnreachable::Folder, {}});
    else if (!S_ISREG(st.st_mode))
      view.Apart.push_back({name, TUnreachable::NotRegular, {}});
  }
  closedir(dir);

  // Aliases are numbered among all visible files, the program's own included, exactly as
  // a search numbers them.
  for (const TDosFileInfo& file : ListDosFiles(folder)) {
    if (drives.IsProgramFile(folder, file.Name)) {
      view.Apart.push_back({file.Name, TUnreachable::ProgramFile, {}});
      continue;
    }
    struct stat st;
    std::uint32_t records = 0;
    if (stat(JoinDosPath(folder, file.Name).c_str(), &st) == 0)
      records = static_cast<std::uint32_t>((st.st_size + 127) / 128);
    view.Files.push_back({file.Alias, file.Name, records, file.ReadOnly});
    if (file.Alias != DosUpper(file.Name)) view.Apart.push_back({file.Name, TUnreachable::GeneratedAlias, file.Alias});
  }
  std::sort(view.Apart.begin(), view.Apart.end(), [](const auto& a, const auto& b) { return a.Name < b.Name; });
  return view;
}

}  // namespace mirte
