#include "platform/dos_listing.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include "support/temp_folder.h"

namespace mirte {
namespace {

namespace fs = std::filesystem;
using Entries = std::vector<std::tuple<std::string, std::string, bool>>;

Entries EntriesOf(TDosListing* listing) {
  Entries entries;
  if (listing != nullptr)
    for (const TDosFileInfo& file : listing->Files()) entries.emplace_back(file.Name, file.Alias, file.ReadOnly);
  return entries;
}

class DosListingTest : public ::testing::Test {
protected:
  DosListingTest() : folder(::open(temp.path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {}
  ~DosListingTest() override { ::close(folder); }

  // What a listing read afresh says now.
  Entries Fresh() const {
    TDosListings fresh;
    return EntriesOf(fresh.Of(folder));
  }
  void Write(const std::string& name) const { temp.write(name, std::string("x")); }
  fs::path At(const std::string& name) const { return temp / name; }

  testing::TempFolder temp;
  int folder;
};

// A listing kept while the PC changes the folder must always answer as one read afresh: the
// board would otherwise be shown files that are gone and miss files that came.
TEST_F(DosListingTest, AKeptListingAnswersAsAFreshOneAfterEveryKindOfChange) {
  struct Step {
    const char* what;
    std::function<void()> change;
  } steps[] = {
      {"a long name comes", [&] { Write("First Long Name.txt"); }},
      {"a name of the board's own comes", [&] { Write("MADE.TXT"); }},
      {"a name that is another file's alias comes", [&] { Write("FIRSTL~1.TXT"); }},
      {"the long name goes", [&] { fs::remove(At("First Long Name.txt")); }},
      {"a lower-case short name comes", [&] { Write("lower.txt"); }},
      {"a file becomes read-only", [&] { fs::permissions(At("MADE.TXT"), fs::perms::owner_read); }},
      {"a long name is renamed to a short one",
       [&] {
         Write("Second Long Name.txt");
         fs::rename(At("Second Long Name.txt"), At("SECOND.TXT"));
       }},
      {"a short name is renamed to a long one", [&] { fs::rename(At("SECOND.TXT"), At("Third Long Name.txt")); }},
      {"two long names share a prefix", [&] {
         Write("Report One.txt");
         Write("Report Two.txt");
       }},
      {"the first of them goes", [&] { fs::remove(At("Report One.txt")); }},
      {"a file is replaced by a folder of its name",
       [&] {
         fs::remove(At("lower.txt"));
         fs::create_directory(At("lower.txt"));
       }},
      {"a hidden file comes", [&] { Write(".hidden"); }},
      {"a board name goes", [&] { fs::remove(At("FIRSTL~1.TXT")); }},
  };
  TDosListings kept;
  EXPECT_EQ(EntriesOf(kept.Of(folder)), Entries{});
  for (const Step& step : steps) {
    step.change();
    EXPECT_EQ(EntriesOf(kept.Of(folder)), Fresh()) << step.what;
  }
}

TEST_F(DosListingTest, AKeptListingTakesManyChangesBetweenTwoQuestions) {
  TDosListings kept;
  Write("Old Long Name.txt");
  Write("OLD.TXT");
  ASSERT_EQ(EntriesOf(kept.Of(folder)).size(), 2u);
  fs::remove(At("Old Long Name.txt"));
  fs::remove(At("OLD.TXT"));
  for (const char* name : {"New Long Name.txt", "NEW.TXT", "new.dat", "New Long Name Two.txt"}) Write(name);
  const Entries now = EntriesOf(kept.Of(folder));
  EXPECT_EQ(now, Fresh());
  EXPECT_EQ(now.size(), 4u);
  const TDosFileInfo* found = kept.Of(folder)->Find("NEWLON~1.TXT");
  ASSERT_NE(found, nullptr);
  EXPECT_EQ(found->Name, "New Long Name Two.txt");
  EXPECT_EQ(kept.Of(folder)->Find("OLDLON~1.TXT"), nullptr);
}

}  // namespace
}  // namespace mirte
