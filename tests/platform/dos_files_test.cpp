#include "platform/dos_files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <set>

#include "support/foreign_lock.h"
#include "support/temp_folder.h"

namespace mirte {
namespace {

namespace fs = std::filesystem;
using testing::TempFolder;

TEST(DosNames, ShortNamesAreRecognised) {
  struct Case {
    const char* name;
    bool isShort;
  } cases[] = {
      {"TEST.TXT", true},   {"readme", true},      {"ABCDEFGH.ABC", true}, {"A.B", true},
      {"ABCDEFGHI", false}, {"A.ABCD", false},     {"A.B.C", false},       {"A B.TXT", false},
      {".PROFILE", false},  {"NAME.", false},      {"A+B.TXT", false},     {"A[1].TXT", false},
      {"", false},          {"caf\xC3\xA9.txt", true},
  };
  for (const auto& c : cases) EXPECT_EQ(IsShortName(c.name), c.isShort) << c.name;
}

TEST(DosNames, AliasesAreUniqueStableAndNumberedInSortedOrder) {
  std::vector<std::string> names = {"longfilename.text", "LongFileName.txt", "short.txt", "SHORT.TXT",
                                    "a+b c.dat",         "x.y.z",            "Report 2024.docx"};
  std::vector<std::string> aliases = AssignShortAliases(names);
  ASSERT_EQ(aliases.size(), names.size());
  // "LongFileName.txt" sorts before "longfilename.text", so it is ~1.
  EXPECT_EQ(aliases[1], "LONGFI~1.TXT");
  EXPECT_EQ(aliases[0], "LONGFI~1.TEX");
  // The board's own upper-case file keeps its name; the lower-case twin gets a number.
  EXPECT_EQ(aliases[3], "SHORT.TXT");
  EXPECT_EQ(aliases[2], "SHORT~1.TXT");
  EXPECT_EQ(aliases[4], "ABC~1.DAT");
  EXPECT_EQ(aliases[5], "XY~1.Z");
  EXPECT_EQ(aliases[6], "REPORT~1.DOC");

  std::vector<std::string> many;
  for (int i = 0; i < 12; ++i) many.push_back("document number " + std::to_string(100 + i) + ".txt");
  std::vector<std::string> manyAliases = AssignShortAliases(many);
  EXPECT_EQ(manyAliases[0], "DOCUME~1.TXT");
  EXPECT_EQ(manyAliases[8], "DOCUME~9.TXT");
  EXPECT_EQ(manyAliases[9], "DOCUM~10.TXT");
  EXPECT_EQ(AssignShortAliases(many), manyAliases);

  // A folder of thousands of similar long names is numbered without a quadratic search.
  std::vector<std::string> crowd;
  for (int i = 0; i < 20000; ++i) crowd.push_back("measurement " + std::to_string(100000 + i) + ".csv");
  std::vector<std::string> crowdAliases = AssignShortAliases(crowd);
  EXPECT_EQ(crowdAliases.back(), "ME~20000.CSV");
  EXPECT_EQ(std::set<std::string>(crowdAliases.begin(), crowdAliases.end()).size(), crowd.size());
}

TEST(DosNames, WildcardsMatchLikeFileControlBlocks) {
  struct Case {
    const char* pattern;
    const char* name;
    bool match;
  } cases[] = {
      {"*.*", "TEST.TXT", true},       {"*.*", "NOEXT", true},        {"*", "NOEXT", true},
      {"*", "TEST.TXT", false},        {"AB*", "ABCDEFGH", true},     {"AB*.TXT", "ABC.TXT", true},
      {"AB*.TXT", "AXC.TXT", false},   {"A?B?????.TXT", "AXB.TXT", true}, {"A?B?????.TXT", "AB.TXT", false},
      {"TEST.T?T", "TEST.TXT", true},  {"TEST.T?T", "TEST.T", false},   {"TEST.A*", "TEST.ABC", true},
      {"TEST.A*", "test.abc", true},   {"????????.???", "X", true},   {"LONGER*.TXT", "LONGFI~1.TXT", false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(DosWildcardMatch(c.pattern, c.name), c.match) << c.pattern << " vs " << c.name;
}

TEST(DosNames, CreatableNamesExcludePathsHiddenFilesAndReservedCharacters) {
  for (const char* bad : {"", ".", "..", ".HIDDEN", "A/B", "A?B", "A*", "A:B", "A\\B", "A|B", "A\x01"})
    EXPECT_FALSE(IsCreatableName(bad)) << bad;
  for (const char* good : {"TEST.TXT", "A.B.C", "A+B", "X"}) EXPECT_TRUE(IsCreatableName(good)) << good;
  EXPECT_FALSE(IsCreatableName(std::string_view("A\0B", 3)));
}

class DosFolderTest : public ::testing::Test {
protected:
  TempFolder temp;
  std::string folder() const { return temp.path().string(); }
};

TEST_F(DosFolderTest, ListsOnlyVisibleRegularFiles) {
  temp.write("B.TXT", "b");
  temp.write("a long name.txt", "a");
  temp.write(".hidden", "h");
  fs::create_directory(temp / "SUBDIR");
  fs::create_symlink(temp / "B.TXT", temp / "LINK.TXT");
  mkfifo((temp / "PIPE").c_str(), 0600);

  std::vector<TDosFileInfo> files = ListDosFiles(folder());
  ASSERT_EQ(files.size(), 2u);
  EXPECT_EQ(files[0].Name, "B.TXT");
  EXPECT_EQ(files[0].Alias, "B.TXT");
  EXPECT_EQ(files[1].Name, "a long name.txt");
  EXPECT_EQ(files[1].Alias, "ALONGN~1.TXT");
  EXPECT_TRUE(ListDosFiles(folder() + "/missing").empty());
}

TEST_F(DosFolderTest, FindsFilesByNameAliasOrUpperCase) {
  temp.write("TEST.TXT", "1");
  temp.write("lower.txt", "2");
  temp.write("My Long Document.text", "3");
  temp.write("a.b.c", "4");
  temp.write(".secret", "5");

  EXPECT_EQ(FindDosFile(folder(), "TEST.TXT"), "TEST.TXT");
  EXPECT_EQ(FindDosFile(folder(), "LOWER.TXT"), "lower.txt");
  EXPECT_EQ(FindDosFile(folder(), "MYLONG~1.TEX"), "My Long Document.text");
  EXPECT_EQ(FindDosFile(folder(), "A.B.C"), "a.b.c");
  for (const char* missing : {"NONE.TXT", ".SECRET", "..", "../TEST.TXT", ""})
    EXPECT_EQ(FindDosFile(folder(), missing), "") << missing;
  EXPECT_EQ(ShortFileName(folder() + "/My Long Document.text"), "MYLONG~1.TEX");
  EXPECT_EQ(ShortFileName(folder() + "/TEST.TXT"), "TEST.TXT");
}

TEST_F(DosFolderTest, SearchWalksTheMatchesOnceAndEnds) {
  for (const char* name : {"A1.TXT", "A2.TXT", "B1.TXT", "a3.txt"}) temp.write(name, "x");
  TDosSearch search;
  std::vector<std::string> found;
  for (bool more = search.FindFirst(folder(), "A*.TXT"); more; more = search.FindNext())
    found.push_back(search.Found().Alias);
  EXPECT_EQ(found, (std::vector<std::string>{"A1.TXT", "A2.TXT", "A3.TXT"}));
  EXPECT_FALSE(search.Active());
  EXPECT_FALSE(search.FindNext());

  EXPECT_TRUE(search.FindFirst(folder(), "a3.TXT"));
  EXPECT_EQ(search.Found().Name, "a3.txt");
  EXPECT_FALSE(search.FindNext());
  EXPECT_FALSE(search.FindFirst(folder(), "C*.*"));
}

TEST_F(DosFolderTest, ReadOnlyFilesRefuseWritingEvenForRoot) {
  std::string path = temp.write("RO.TXT", "data").string();
  ASSERT_TRUE(DosSetReadOnly(path, true));
  EXPECT_TRUE(DosIsReadOnly(path));
  EXPECT_EQ(fs::status(path).permissions() & fs::perms::all & (fs::perms::owner_write | fs::perms::group_write |
                                                                 fs::perms::others_write),
            fs::perms::none);
  EXPECT_EQ(DosOpenReadWrite(path), -1);
  EXPECT_EQ(DosCreateFile(path), -1);
  EXPECT_FALSE(DosDeleteFile(path));
  EXPECT_EQ(temp.read("RO.TXT").size(), 4u);

  ASSERT_TRUE(DosSetReadOnly(path, false));
  int fd = DosOpenReadWrite(path);
  EXPECT_GE(fd, 0);
  close(fd);
}

TEST_F(DosFolderTest, NeverWorksThroughLinksOrOnFolders) {
  TempFolder outside;
  std::string target = outside.write("TARGET.TXT", "keep").string();
  fs::create_symlink(target, temp / "LINK.TXT");
  fs::create_directory(temp / "DIR");
  std::string link = folder() + "/LINK.TXT";

  EXPECT_EQ(DosOpenReadWrite(link), -1);
  EXPECT_EQ(DosCreateFile(link), -1);
  EXPECT_FALSE(DosSetReadOnly(link, true));
  EXPECT_FALSE(DosDeleteFile(link));
  EXPECT_FALSE(DosDeleteFile(folder() + "/DIR"));
  EXPECT_EQ(DosOpenReadWrite(folder() + "/DIR"), -1);
  EXPECT_EQ(outside.read("TARGET.TXT").size(), 4u);
  EXPECT_TRUE(fs::is_symlink(link));
}

TEST_F(DosFolderTest, RenameNeverReplacesAFile) {
  std::string a = temp.write("A.TXT", "a").string();
  std::string b = temp.write("B.TXT", "b").string();
  EXPECT_FALSE(DosRenameFile(a, b));
  EXPECT_EQ(temp.read("B.TXT"), std::vector<std::uint8_t>{'b'});
  EXPECT_TRUE(DosRenameFile(a, folder() + "/C.TXT"));
  EXPECT_FALSE(fs::exists(a));
  EXPECT_EQ(temp.read("C.TXT"), std::vector<std::uint8_t>{'a'});
}

TEST_F(DosFolderTest, DrivesAreTheWorkingFolderAndTheLinkedFoldersOnly) {
  fs::create_directories(temp / "prog/dosdevices");
  fs::create_directories(temp / "disks/a/sub");
  fs::create_directories(temp / "disks/a/nested");
  fs::create_directories(temp / "work/inner");
  fs::create_directories(temp / "prog/dosdevices/f:");  // a folder, not a link: no drive
  fs::create_symlink(temp / "disks/a", temp / "prog/dosdevices/a:");
  fs::create_symlink(temp / "disks/a/nested", temp / "prog/dosdevices/d:");
  fs::create_symlink(temp / "missing", temp / "prog/dosdevices/e:");
  fs::create_symlink(temp / "disks", temp / "disks/a/up");  // a link out of drive A
  TDosDrives drives({"", "", folder() + "/prog/dosdevices"});
  std::string rootA = fs::canonical(temp / "disks/a").string();
  std::string work = folder() + "/work";

  EXPECT_FALSE(drives.DriveExists('C')) << "no working folder yet";
  EXPECT_EQ(drives.CurrentFolder(), "");
  ASSERT_TRUE(drives.SetWorkingFolder(work + "/"));
  EXPECT_EQ(drives.DriveRoot('C'), work) << "the working folder is drive C's root, not /";
  EXPECT_EQ(drives.WorkingDrive(), 'C');
  EXPECT_EQ(drives.DriveRoot('A'), rootA);
  EXPECT_FALSE(drives.DriveExists('B'));
  EXPECT_FALSE(drives.DriveExists('E')) << "a link to nowhere";
  EXPECT_EQ(drives.LinkTarget('E'), folder() + "/missing");
  EXPECT_FALSE(drives.DriveExists('F'));
  EXPECT_FALSE(drives.DriveExists('Q')) << "the board has A to P";
  EXPECT_EQ(drives.DriveOf(rootA + "/sub"), 'A');
  EXPECT_EQ(drives.DriveOf(rootA + "/nested"), 'D');
  EXPECT_EQ(drives.DriveOf(folder()), 0) << "above every chosen folder";
  EXPECT_EQ(drives.DriveOf("/"), 0);

  // Current folders stay inside their drive and are never entered through links.
  EXPECT_FALSE(drives.SetCurrentFolder(folder()));
  EXPECT_FALSE(drives.SetCurrentFolder("/etc"));
  EXPECT_FALSE(drives.SetCurrentFolder(rootA + "/up")) << "the link leads out of A";
  EXPECT_TRUE(drives.Reachable(rootA + "/sub"));
  EXPECT_FALSE(drives.Reachable(rootA + "/up/a"));
  EXPECT_FALSE(drives.Reachable(folder() + "/disks"));
  ASSERT_TRUE(drives.SetCurrentFolder(rootA + "/sub/"));
  EXPECT_EQ(drives.CurrentDrive(), 'A');
  EXPECT_EQ(drives.CurrentFolder(), rootA + "/sub");
  ASSERT_TRUE(drives.SetCurrentFolder(work + "/inner"));
  EXPECT_EQ(drives.CurrentDrive(), 'C');
  ASSERT_TRUE(drives.SetCurrentFolder("A:"));
  EXPECT_EQ(drives.CurrentFolder(), rootA + "/sub") << "A kept its own current folder";
  EXPECT_FALSE(drives.SetCurrentFolder("B:"));
  // Selecting a drive with a folder that is not its own keeps the drive's own folder.
  ASSERT_TRUE(drives.SelectDrive('C', rootA + "/sub"));
  EXPECT_EQ(drives.CurrentFolder(), work + "/inner");

  // A working folder inside a mapped drive is that drive's; C then needs a link.
  ASSERT_TRUE(drives.SetWorkingFolder(rootA + "/sub"));
  EXPECT_EQ(drives.WorkingDrive(), 'A');
  EXPECT_FALSE(drives.DriveExists('C'));

  // A drive that goes away takes its current folder with it; the working drive remains.
  ASSERT_TRUE(drives.SetWorkingFolder(work));
  ASSERT_TRUE(drives.SetCurrentFolder(rootA + "/nested"));
  EXPECT_EQ(drives.CurrentDrive(), 'D');
  ASSERT_TRUE(drives.UnmapDrive('D'));
  EXPECT_EQ(drives.CurrentDrive(), 'C');
}

TEST_F(DosFolderTest, MappingWritesAndRemovesOnlyLinks) {
  fs::create_directories(temp / "disk");
  fs::create_directories(temp / "prog");
  TDosDrives drives({"", "", folder() + "/prog/dosdevices"});
  ASSERT_TRUE(drives.MapDrive('b', folder() + "/disk/"));
  EXPECT_TRUE(fs::is_symlink(temp / "prog/dosdevices/b:")) << "the links folder is made when missing";
  EXPECT_EQ(drives.DriveRoot('B'), fs::canonical(temp / "disk").string());
  ASSERT_TRUE(drives.MapDrive('B', folder()));
  EXPECT_EQ(drives.DriveRoot('B'), folder()) << "an older link is replaced";
  EXPECT_FALSE(drives.MapDrive('B', folder() + "/missing"));
  EXPECT_FALSE(drives.MapDrive('Q', folder()));
  ASSERT_TRUE(drives.UnmapDrive('B'));
  EXPECT_FALSE(fs::exists(fs::symlink_status(temp / "prog/dosdevices/b:")));
  fs::create_directories(temp / "prog/dosdevices/g:");
  EXPECT_FALSE(drives.UnmapDrive('G'));
  EXPECT_TRUE(fs::is_directory(temp / "prog/dosdevices/g:"));
}

TEST_F(DosFolderTest, TheProgramsOwnFilesAreKnownByNameAndByIdentity) {
  temp.write("prog/mirte", "program");
  temp.write("prog/mirte.SET", "settings");
  fs::create_directories(temp / "prog/dosdevices/sub");
  fs::create_hard_link(temp / "prog/mirte", temp / "prog/COPY");
  TDosDrives drives({folder() + "/prog/mirte", folder() + "/prog/mirte.SET", folder() + "/prog/dosdevices"});
  std::string prog = folder() + "/prog";
  for (const char* own : {"mirte", "MIRTE", "mirte.SET", "MIRTE.SET", "dosdevices", "COPY"}) {
    EXPECT_TRUE(drives.IsProgramFile(prog, own)) << own;
    EXPECT_EQ(drives.IsProgramFileName(prog, own), std::string(own) != "COPY") << own << ", by name alone";
  }
  EXPECT_TRUE(drives.IsProgramFile(prog + "/dosdevices/sub", "ANY.TXT"));
  EXPECT_FALSE(drives.IsProgramFile(prog, "BOARD.TXT"));
  EXPECT_FALSE(drives.IsProgramFile(folder(), "mirte.SET")) << "the same name elsewhere is the board's";
}

TEST_F(DosFolderTest, LocksOfOtherProgramsAreSeenAndTransfersLockTheirFile) {
  std::string path = temp.write("SHARED.TXT", "data").string();
  using Kind = testing::ForeignLock::Kind;
  for (Kind kind : {Kind::Flock, Kind::Lockf, Kind::OfdWrite}) {
    testing::ForeignLock lock(path, kind);
    ASSERT_TRUE(lock.held());
    EXPECT_TRUE(DosLockedByOther(path));
    int fd = DosOpenReadWrite(path);
    ASSERT_GE(fd, 0);
    EXPECT_FALSE(DosLockForTransfer(fd));
    close(fd);
    EXPECT_EQ(DosCreateFile(path), -1);
    EXPECT_EQ(temp.read("SHARED.TXT").size(), 4u) << "not truncated under the lock";
    lock.release();
    EXPECT_FALSE(DosLockedByOther(path));
  }

  int fd = DosOpenReadWrite(path);
  ASSERT_TRUE(DosLockForTransfer(fd));
  EXPECT_FALSE(testing::OtherProcessCanLock(path, Kind::Flock));
  EXPECT_FALSE(testing::OtherProcessCanLock(path, Kind::Lockf));
  close(fd);
  EXPECT_TRUE(testing::OtherProcessCanLock(path, Kind::Flock));
  EXPECT_TRUE(testing::OtherProcessCanLock(path, Kind::Lockf));
}

}  // namespace
}  // namespace mirte
