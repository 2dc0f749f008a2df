// Any PC file names as the contents of one folder: the input is the names, separated by
// '/' (no name can hold one); NUL bytes are dropped, empty names, "." and ".." skipped, and
// at most 64 names of at most 255 bytes are taken. For the names alone, every alias is a
// valid upper-case 8.3 name, aliases are unique, a valid upper-case 8.3 name is its own
// alias, and the aliases do not depend on the order the names come in. In a real folder
// holding those files (made once per process, in /dev/shm when it can be written), the
// listing gives every file one alias, the alias in any case finds the same file again,
// ShortFileName agrees, and a search for *.* walks each file exactly once. A listing kept
// over that folder for the whole process answers as a fresh reading does after the files
// come, after every other one goes, and after the rest go.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "fuzz_scratch.h"
#include "platform/dos_files.h"
#include "platform/dos_listing.h"

namespace {

using namespace mirte;

constexpr std::size_t kMaxNames = 64;
constexpr std::size_t kMaxNameBytes = 255;

std::vector<std::string> NamesOf(const std::uint8_t* data, std::size_t size) {
  std::set<std::string> names;
  std::string name;
  auto take = [&] {
    if (!name.empty() && name != "." && name != ".." && names.size() < kMaxNames) names.insert(name);
    name.clear();
  };
  for (std::size_t i = 0; i < size; ++i) {
    if (data[i] == '/') {
      take();
    } else if (data[i] != 0 && name.size() < kMaxNameBytes) {
      name += char(data[i]);
    }
  }
  take();
  return {names.begin(), names.end()};
}

void CheckAliases(const std::vector<std::string>& names) {
  const std::vector<std::string> aliases = AssignShortAliases(names);
  FUZZ_CHECK(aliases.size() == names.size());
  std::map<std::string, std::string> aliasOf;
  std::set<std::string> seen;
  for (std::size_t i = 0; i < names.size(); ++i) {
    const std::string& alias = aliases[i];
    FUZZ_CHECK(IsShortName(alias) && DosUpper(alias) == alias);
    FUZZ_CHECK(seen.insert(alias).second);
    if (IsShortName(names[i]) && DosUpper(names[i]) == names[i]) FUZZ_CHECK(alias == names[i]);
    aliasOf[names[i]] = alias;
  }
  std::vector<std::string> reversed(names.rbegin(), names.rend());
  const std::vector<std::string> again = AssignShortAliases(reversed);
  for (std::size_t i = 0; i < reversed.size(); ++i) FUZZ_CHECK(again[i] == aliasOf[reversed[i]]);
}

struct NameFolder {
  mirte::fuzzing::ScratchFolder scratch{"mirte-names-fuzz"};
  const std::string& path = scratch.Path();
  const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);

  void Fill(const std::vector<std::string>& names) const {
    for (const auto& name : names) {
      int fd = ::open((path + "/" + name).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
      FUZZ_CHECK(fd >= 0);
      ::close(fd);
    }
  }
  void Empty(const std::vector<std::string>& names) const {
    for (const auto& name : names) ::unlink((path + "/" + name).c_str());
  }
};

void CheckFolder(const NameFolder& folder, const std::vector<std::string>& names) {
  const std::vector<TDosFileInfo> files = ListDosFiles(folder.path);
  // Hidden files are not listed; everything else is.
  std::size_t visible = 0;
  for (const auto& name : names) visible += name[0] != '.';
  FUZZ_CHECK(files.size() == visible);
  std::set<std::string> aliases;
  for (const auto& file : files) {
    FUZZ_CHECK(IsShortName(file.Alias) && DosUpper(file.Alias) == file.Alias);
    FUZZ_CHECK(aliases.insert(file.Alias).second);
    FUZZ_CHECK(std::binary_search(names.begin(), names.end(), file.Name));
    // Board names come upper case, so the alias as it stands is what a board sends.
    FUZZ_CHECK(FindDosFile(folder.path, file.Alias) == file.Name);
    FUZZ_CHECK(ShortFileName(JoinDosPath(folder.path, file.Name)) == file.Alias);
    FUZZ_CHECK(DosWildcardMatch("*.*", file.Alias));
  }
  TDosSearch search;
  std::set<std::string> found;
  for (bool more = search.FindFirst(folder.path, "*.*"); more; more = search.FindNext()) {
    FUZZ_CHECK(found.insert(search.Found().Name).second);
  }
  FUZZ_CHECK(found.size() == files.size());
}

void CheckKeptListing(TDosListings& kept, const NameFolder& folder) {
  TDosListing* listing = kept.Of(folder.fd);
  FUZZ_CHECK(listing != nullptr);
  const std::vector<TDosFileInfo> held = listing->Files();
  const std::vector<TDosFileInfo> fresh = ListDosFiles(folder.path);
  FUZZ_CHECK(held.size() == fresh.size());
  for (std::size_t i = 0; i < held.size(); ++i) {
    FUZZ_CHECK(held[i].Name == fresh[i].Name && held[i].Alias == fresh[i].Alias);
    FUZZ_CHECK(held[i].ReadOnly == fresh[i].ReadOnly);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const NameFolder folder;
  static TDosListings kept;
  const std::vector<std::string> names = NamesOf(data, size);
  CheckAliases(names);
  folder.Fill(names);
  CheckFolder(folder, names);
  CheckKeptListing(kept, folder);
  std::vector<std::string> everyOther;
  for (std::size_t i = 0; i < names.size(); i += 2) everyOther.push_back(names[i]);
  folder.Empty(everyOther);
  CheckKeptListing(kept, folder);
  folder.Empty(names);
  CheckKeptListing(kept, folder);
  return 0;
}
