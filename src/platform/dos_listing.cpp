#include "platform/dos_listing.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cerrno>
#include <ctime>

namespace mirte {

namespace {

constexpr std::uint32_t kWatchedChanges =
    IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_ATTRIB | IN_DELETE_SELF | IN_ONLYDIR;
// More changes than this between two questions are cheaper to read again in full.
constexpr std::size_t kMostPending = 4096;
// Change times are kept in ticks of a few milliseconds: a listing read within one of the
// folder's last change may have missed a change stamped with the same time.
constexpr std::int64_t kTimeTicksNs = 50'000'000;

std::int64_t Nanoseconds(const struct timespec& t) {
  return static_cast<std::int64_t>(t.tv_sec) * 1'000'000'000 + t.tv_nsec;
}

bool VisibleRegular(int folderFd, const std::string& name, bool& readOnly) {
  if (name.empty() || name[0] == '.') return false;
  struct stat st {};
  if (fstatat(folderFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode)) return false;
  readOnly = (st.st_mode & S_IWUSR) == 0;
  return true;
}

}  // namespace

bool ToFcbName(std::string_view name, TFcbName& fcb) {
  fcb.fill(' ');
  std::size_t dot = name.rfind('.');
  std::string_view base = name.substr(0, dot);
  std::string_view ext = dot == std::string_view::npos ? std::string_view() : name.substr(dot + 1);
  auto field = [&](std::string_view part, std::size_t at, std::size_t width) {
    for (std::size_t i = 0; i < part.size(); ++i) {
      if (part[i] == '*') {
        std::fill(fcb.begin() + static_cast<std::ptrdiff_t>(at + std::min(i, width)),
                  fcb.begin() + static_cast<std::ptrdiff_t>(at + width), '?');
        return true;
      }
      if (i >= width) return false;
      char c = part[i];
      fcb[at + i] = c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
    }
    return true;
  };
  return field(base, 0, 8) && field(ext, 8, 3);
}

void TDosListing::Fill(int folderFd) {
  byName_.clear();
  byAlias_.clear();
  byUpper_.clear();
  int own = fcntl(folderFd, F_DUPFD_CLOEXEC, 0);
  DIR* dir = own < 0 ? nullptr : fdopendir(own);
  if (!dir) {
    if (own >= 0) close(own);
    renumber_ = false;
    return;
  }
  rewinddir(dir);
  while (const dirent* entry = readdir(dir)) {
    std::string name = entry->d_name;
    if (entry->d_type != DT_REG && entry->d_type != DT_UNKNOWN) continue;
    bool readOnly = false;
    if (!VisibleRegular(folderFd, name, readOnly)) continue;
    Insert(name, {}, readOnly);
  }
  closedir(dir);
  Renumber();
}

void TDosListing::Insert(const std::string& name, const std::string& alias, bool readOnly) {
  TEntry& entry = byName_[name];
  entry.Info = {name, alias, readOnly};
  byUpper_[DosUpper(name)].push_back(name);
  if (!alias.empty()) {
    byAlias_[alias] = name;
    ToFcbName(alias, entry.Fcb);
  }
}

void TDosListing::Erase(std::map<std::string, TEntry>::iterator it) {
  auto upper = byUpper_.find(DosUpper(it->first));
  if (upper != byUpper_.end()) {
    std::erase(upper->second, it->first);
    if (upper->second.empty()) byUpper_.erase(upper);
  }
  auto alias = byAlias_.find(it->second.Info.Alias);
  if (alias != byAlias_.end() && alias->second == it->first) byAlias_.erase(alias);
  byName_.erase(it);
}

bool TDosListing::Update(int folderFd, const std::string& name) {
  bool readOnly = false;
  bool visible = VisibleRegular(folderFd, name, readOnly);
  auto it = byName_.find(name);
  if (it != byName_.end()) {
    if (visible) {
      it->second.Info.ReadOnly = readOnly;
      return true;
    }
    const std::string& alias = it->second.Info.Alias;
    // Its alias was its own and nobody else could have wanted it.
    const auto same = byUpper_.find(alias);
    const bool alone = alias == DosUpper(name) && alias.find('~') == std::string::npos && same != byUpper_.end() &&
                       same->second.size() == 1;
    Erase(it);
    return alone;
  }
  if (!visible) return true;
  // The file joins the listing either way; only a name of the board's own keeps every
  // other alias as it was.
  std::string upper = DosUpper(name);
  const bool boardsOwn = IsShortName(name) && byAlias_.count(upper) == 0;
  Insert(name, boardsOwn ? upper : std::string{}, readOnly);
  return boardsOwn;
}

void TDosListing::Renumber() {
  std::vector<std::string> names;
  names.reserve(byName_.size());
  for (const auto& [name, entry] : byName_) names.push_back(name);
  std::vector<std::string> aliases = AssignShortAliases(names);
  byAlias_.clear();
  byAlias_.reserve(names.size());
  std::size_t i = 0;
  for (auto& [name, entry] : byName_) {
    entry.Info.Alias = std::move(aliases[i++]);
    ToFcbName(entry.Info.Alias, entry.Fcb);
    byAlias_[entry.Info.Alias] = name;
  }
  renumber_ = false;
}

const TDosFileInfo* TDosListing::Alias(const std::string& upper) {
  if (renumber_) Renumber();
  auto it = byAlias_.find(upper);
  return it == byAlias_.end() ? nullptr : &byName_.at(it->second).Info;
}

const TDosFileInfo* TDosListing::Find(std::string_view boardName) {
  if (boardName.empty()) return nullptr;
  if (renumber_) Renumber();
  if (auto it = byName_.find(std::string(boardName)); it != byName_.end()) return &it->second.Info;
  std::string upper = DosUpper(boardName);
  if (const TDosFileInfo* file = Alias(upper)) return file;
  auto same = byUpper_.find(upper);
  if (same == byUpper_.end() || same->second.empty()) return nullptr;
  return &byName_.at(*std::min_element(same->second.begin(), same->second.end())).Info;
}

const TDosFileInfo* TDosListing::NextMatch(std::string_view pattern, const std::string& after, const TSkip& skip) {
  if (renumber_) Renumber();
  if (!HasWildcards(pattern)) {
    const TDosFileInfo* file = Find(pattern);
    if (!file || (!after.empty() && file->Name <= after) || (skip && skip(*file))) return nullptr;
    return file;
  }
  TFcbName wanted;
  if (!ToFcbName(pattern, wanted)) return nullptr;
  auto it = after.empty() ? byName_.begin() : byName_.upper_bound(after);
  for (; it != byName_.end(); ++it) {
    const TFcbName& fcb = it->second.Fcb;
    bool match = true;
    for (std::size_t i = 0; i < wanted.size() && match; ++i) match = wanted[i] == '?' || wanted[i] == fcb[i];
    if (match && (!skip || !skip(it->second.Info))) return &it->second.Info;
  }
  return nullptr;
}

std::vector<TDosFileInfo> TDosListing::Files() {
  if (renumber_) Renumber();
  std::vector<TDosFileInfo> files;
  files.reserve(byName_.size());
  for (const auto& [name, entry] : byName_) files.push_back(entry.Info);
  return files;
}

TDosListings::TDosListings() : notify_(inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {}

TDosListings::~TDosListings() {
  if (notify_ >= 0) close(notify_);
}

void TDosListings::Clear() {
  for (auto& [key, folder] : kept_)
    if (folder.Watch >= 0) inotify_rm_watch(notify_, folder.Watch);
  kept_.clear();
}

TDosListings::TKept* TDosListings::ByWatch(int watch) {
  for (auto& [key, folder] : kept_)
    if (folder.Watch == watch) return &folder;
  return nullptr;
}

void TDosListings::Drain() {
  if (notify_ < 0) return;
  alignas(inotify_event) char buffer[16384];
  for (;;) {
    ssize_t n = read(notify_, buffer, sizeof buffer);
    if (n <= 0) return;
    // A read leaves room for the longest event only when it took the whole queue.
    const bool all = static_cast<std::size_t>(n) <= sizeof buffer - (sizeof(inotify_event) + NAME_MAX + 1);
    for (ssize_t at = 0; at < n;) {
      const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
      at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
      if (event->mask & IN_Q_OVERFLOW) {
        for (auto& [key, folder] : kept_) folder.Stale = true;
        continue;
      }
      TKept* folder = ByWatch(event->wd);
      if (!folder) continue;
      if (event->mask & (IN_IGNORED | IN_DELETE_SELF)) {
        folder->Stale = true;
        folder->Watch = -1;
      } else if (event->len > 0 && !folder->Stale) {
        folder->Pending.emplace_back(event->name);
        if (folder->Pending.size() > kMostPending) folder->Stale = true;
      }
    }
    if (all) return;
  }
}

void TDosListings::Evict() {
  while (kept_.size() > kKeptFolders) {
    auto oldest = std::min_element(kept_.begin(), kept_.end(),
                                   [](const auto& a, const auto& b) { return a.second.LastUse < b.second.LastUse; });
    if (oldest->second.Watch >= 0) inotify_rm_watch(notify_, oldest->second.Watch);
    kept_.erase(oldest);
  }
}

TDosListing* TDosListings::Of(int folderFd) {
  struct stat st {};
  if (folderFd < 0 || fstat(folderFd, &st) != 0) return nullptr;
  return Of(folderFd, st);
}

TDosListing* TDosListings::Of(const TFolderHandle& folder) {
  // With a watch only the folder's identity and type count, which an open descriptor keeps;
  // without one its change times count, and those are asked afresh.
  const struct stat* kept = folder.Status();
  if (kept && notify_ >= 0) return Of(folder.Fd(), *kept);
  return Of(folder.Fd());
}

TDosListing* TDosListings::Of(int folderFd, const struct stat& st) {
  if (!S_ISDIR(st.st_mode)) return nullptr;
  Drain();
  TKey key{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
  TKept& folder = kept_[key];
  folder.LastUse = ++useCounter_;
  if (!folder.Listing) folder.Listing = std::make_unique<TDosListing>();
  if (folder.Watch < 0 && notify_ >= 0) {
    // Watched before it is read, so that nothing changed during the reading is missed.
    std::string self = "/proc/self/fd/" + std::to_string(folderFd);
    folder.Watch = inotify_add_watch(notify_, self.c_str(), kWatchedChanges);
    folder.Stale = true;
  }
  if (folder.Watch < 0) {
    std::int64_t change = Nanoseconds(st.st_ctim), modify = Nanoseconds(st.st_mtim);
    if (!folder.Trusted || change != folder.ChangeNs || modify != folder.ModifyNs) folder.Stale = true;
    folder.ChangeNs = change;
    folder.ModifyNs = modify;
  }
  if (folder.Stale) {
    struct timespec now {};
    clock_gettime(CLOCK_REALTIME, &now);
    folder.Listing->Fill(folderFd);
    folder.Pending.clear();
    folder.Stale = false;
    folder.Trusted = Nanoseconds(now) - std::max(folder.ChangeNs, folder.ModifyNs) > kTimeTicksNs;
  } else {
    for (const std::string& name : folder.Pending)
      if (!folder.Listing->Update(folderFd, name)) folder.Listing->renumber_ = true;
    folder.Pending.clear();
  }
  TDosListing* listing = folder.Listing.get();
  Evict();
  return listing;
}

}  // namespace mirte
