#include "board/board_view.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "platform/drive_options.h"
#include "support/temp_folder.h"

namespace mirte {
namespace {

namespace fs = std::filesystem;

TEST(BoardView, ListsWhatASearchFindsAndSaysWhyTheRestIsOutOfReach) {
  testing::TempFolder temp;
  temp.write("prog/mirte", "program");
  temp.write("prog/mirte.SET", std::string(604, '\0'));
  temp.write("prog/Long file name.txt", std::string(129, 'l'));
  temp.write("prog/READ.ME", "");
  temp.write("prog/readme", "r");
  temp.write("prog/.profile", "p");
  temp.write("elsewhere.txt", "e");
  fs::create_directories(temp / "prog/dosdevices");
  fs::create_directories(temp / "prog/sub");
  fs::create_symlink(temp / "elsewhere.txt", temp / "prog/LINK.TXT");
  ASSERT_EQ(mkfifo((temp / "prog/PIPE").c_str(), 0644), 0);
  chmod((temp / "prog/READ.ME").c_str(), 0444);
  std::string prog = (temp / "prog").string();
  TDosDrives drives({prog + "/mirte", prog + "/mirte.SET", prog + "/dosdevices"});

  TBoardView view = BoardViewOf(drives, prog);
  ASSERT_EQ(view.Files.size(), 3u);
  EXPECT_EQ(view.Files[0].Alias, "LONGFI~1.TXT");
  EXPECT_EQ(view.Files[0].Name, "Long file name.txt");
  EXPECT_EQ(view.Files[0].Records, 2u);
  EXPECT_EQ(view.Files[1].Alias, "READ.ME");
  EXPECT_EQ(view.Files[1].Records, 0u);
  EXPECT_TRUE(view.Files[1].ReadOnly);
  EXPECT_EQ(view.Files[2].Alias, "README");
  EXPECT_FALSE(view.Files[2].ReadOnly);

  struct Apart {
    std::string name;
    TUnreachable why;
    std::string alias;
  } expected[] = {
      {".profile", TUnreachable::Hidden, ""},
      {"LINK.TXT", TUnreachable::Link, ""},
      {"Long file name.txt", TUnreachable::GeneratedAlias, "LONGFI~1.TXT"},
      {"PIPE", TUnreachable::NotRegular, ""},
      {"dosdevices", TUnreachable::ProgramFile, ""},
      {"mirte", TUnreachable::ProgramFile, ""},
      {"mirte.SET", TUnreachable::ProgramFile, ""},
      {"sub", TUnreachable::Folder, ""},
  };
  ASSERT_EQ(view.Apart.size(), std::size(expected));
  for (std::size_t i = 0; i < view.Apart.size(); ++i) {
    EXPECT_EQ(view.Apart[i].Name, expected[i].name);
    EXPECT_EQ(view.Apart[i].Why, expected[i].why) << expected[i].name;
    EXPECT_EQ(view.Apart[i].Alias, expected[i].alias) << expected[i].name;
  }

  EXPECT_TRUE(BoardViewOf(drives, prog + "/missing").Files.empty());

  // Read one entry at a time, the view is the same: nothing is lost between slices.
  TBoardViewReader reader(drives, prog);
  int slices = 1;
  while (!reader.Step(1)) ++slices;
  EXPECT_GE(slices, 12);
  EXPECT_TRUE(reader.Step(1)) << "a finished reader stays finished";
  ASSERT_EQ(reader.View().Files.size(), view.Files.size());
  ASSERT_EQ(reader.View().Apart.size(), view.Apart.size());
  for (std::size_t i = 0; i < view.Files.size(); ++i) EXPECT_EQ(reader.View().Files[i].Alias, view.Files[i].Alias);
  for (std::size_t i = 0; i < view.Apart.size(); ++i) EXPECT_EQ(reader.View().Apart[i].Why, view.Apart[i].Why);
}

TEST(BoardView, AFileWithOtherHardLinksIsReadOnlyUnlessItsDriveAllowsWritingThem) {
  testing::TempFolder temp;
  temp.write("prog/mirte.SET", std::string(604, '\0'));
  temp.write("prog/ALONE.TXT", "a");
  temp.write("outside.txt", "o");
  fs::create_directories(temp / "prog/dosdevices");
  fs::create_hard_link(temp / "outside.txt", temp / "prog/TWIN.TXT");
  std::string prog = (temp / "prog").string();
  TDosDrives drives({prog + "/mirte", prog + "/mirte.SET", prog + "/dosdevices"});
  ASSERT_TRUE(drives.SetWorkingFolder(prog));
  ASSERT_EQ(drives.WorkingDrive(), 'C');

  auto file = [&](const TBoardView& view, const std::string& alias) {
    for (const TBoardFile& f : view.Files)
      if (f.Alias == alias) return f;
    ADD_FAILURE() << alias << " not in the view";
    return TBoardFile{};
  };
  TBoardView view = BoardViewOf(drives, prog);
  EXPECT_FALSE(view.LinksWritable);
  EXPECT_EQ(file(view, "TWIN.TXT").Links, 2u);
  EXPECT_TRUE(file(view, "TWIN.TXT").LinkedReadOnly);
  EXPECT_FALSE(file(view, "TWIN.TXT").ReadOnly) << "its own permission is not the reason";
  EXPECT_FALSE(file(view, "ALONE.TXT").LinkedReadOnly);

  TDriveOptions options;
  options.SetLinksWritable('B', true);
  ASSERT_TRUE(SaveDriveOptions(drives.DriveOptionsFile(), options));
  EXPECT_TRUE(file(BoardViewOf(drives, prog), "TWIN.TXT").LinkedReadOnly) << "another drive's choice";
  options.SetLinksWritable('C', true);
  ASSERT_TRUE(SaveDriveOptions(drives.DriveOptionsFile(), options));
  view = BoardViewOf(drives, prog);
  EXPECT_TRUE(view.LinksWritable);
  EXPECT_EQ(file(view, "TWIN.TXT").Links, 2u);
  EXPECT_FALSE(file(view, "TWIN.TXT").LinkedReadOnly);
}

}  // namespace
}  // namespace mirte
