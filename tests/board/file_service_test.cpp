#include "board/file_service.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <stdio.h>

#include <array>
#include <atomic>
#include <filesystem>
#include <functional>
#include <thread>

#include "support/temp_folder.h"

namespace mirte {
namespace {

namespace fs = std::filesystem;
using testing::TempFolder;
using Bytes = std::vector<std::uint8_t>;

class FileServiceTest : public ::testing::Test {
protected:
  FileServiceTest()
      : service(params, record,
                {(temp / "prog/mirte").string(), (temp / "prog/mirte.SET").string(),
                 (temp / "prog/dosdevices").string()}) {
    fs::create_directories(temp / "prog/dosdevices");
    fs::create_directories(temp / "work");
    work = fs::canonical(temp / "work").string();
    service.InitFileService();
    service.SetWorkingFolder(work);
  }

  // An 11-character "NAME    EXT" block on a drive byte.
  void Name(std::uint8_t drive, std::string_view fcb) {
    params[0] = drive;
    for (std::size_t i = 0; i < 11; ++i) params[1 + i] = static_cast<std::uint8_t>(i < fcb.size() ? fcb[i] : ' ');
  }
  void Name(std::string_view fcb) { Name(0, fcb); }
  void RecordNumber(int n) {
    params[12] = static_cast<std::uint8_t>(n);
    params[13] = static_cast<std::uint8_t>(n >> 8);
  }
  std::string NameBlock() const { return std::string(params.begin() + 1, params.begin() + 12); }
  std::uint32_t ThreeBytes() const { return params[0] | params[1] << 8 | params[2] << 16; }
  void FillRecord(std::uint8_t value) { record.fill(value); }
  Bytes WorkFile(const std::string& name) const { return testing::readFileBytes(fs::path(work) / name); }
  fs::path WritePc(const std::string& name, const Bytes& bytes) const { return temp.write("work/" + name, bytes); }

  TempFolder temp;
  std::array<std::uint8_t, kParamBufferSize> params{};
  std::array<std::uint8_t, kRecordSize> record{};
  TFileService service;
  std::string work;
};

TEST_F(FileServiceTest, NameBlocksBecomePathsInTheDrivesFolder) {
  fs::create_directories(temp / "diskA");
  fs::create_symlink(temp / "diskA", temp / "prog/dosdevices/a:");
  std::string rootA = fs::canonical(temp / "diskA").string();
  struct Case {
    std::uint8_t drive;
    std::string fcb;
    std::string path;
  } cases[] = {
      {0, "TEST    TXT", work + "/TEST.TXT"},
      {0, "test    txt", work + "/TEST.TXT"},
      {0, "???????????", work + "/*.*"},
      {0, "A?B?????TXT", work + "/A?B?????.TXT"},
      {0, "AB??????T??", work + "/AB*.T*"},
      {0, "AB?CD???TXT", work + "/AB?CD???.TXT"},
      {0, "????????   ", work + "/*"},
      {0, "NOEXT      ", work + "/NOEXT"},
      {0, "T E S T TXT", work + "/TEST.TXT"},
      {0, "TEST    \xD4X\xD4", work + "/TEST.TXT"},  // flag bits are not part of the name
      {0, "TEST    \xA0  ", work + "/TEST"},         // a flagged blank extension is no extension
      {3, "???????????", work + "/*.*"},  // drive C, whose current folder is work
      {1, "FILE    DAT", rootA + "/FILE.DAT"},
      {2, "FILE    DAT", ""},  // no drive B
      {17, "FILE    DAT", ""},
      {0, "..         ", ""},
      {0, ".          ", ""},
      {0, ".PROFILE   ", ""},
      {0, "../ETC  PAS", ""},
      {0, "A/B     TXT", ""},
      {0, std::string("A\0B     TXT", 11), ""},
      {0, "           ", ""},
  };
  for (const auto& c : cases) {
    Name(c.drive, c.fcb);
    EXPECT_EQ(service.NameBlockToPath(), c.path) << "drive " << int(c.drive) << " '" << c.fcb << "'";
  }
}

TEST(FileService, ServesNothingBeforeItIsStarted) {
  std::array<std::uint8_t, kParamBufferSize> params{};
  std::array<std::uint8_t, kRecordSize> record{};
  TFileService service(params, record);
  std::string fcb = "???????????";
  std::copy(fcb.begin(), fcb.end(), params.begin() + 1);
  EXPECT_EQ(service.NameBlockToPath(), "");
  EXPECT_EQ(service.SearchFirstFile(), kResultFailed);
  EXPECT_EQ(service.MakeBoardFile(), kResultFailed);
  EXPECT_EQ(service.GetDriveVector(), 0);
}

TEST_F(FileServiceTest, SequentialReadsPadTheLastRecordAndEndWithResultOne) {
  Bytes content(200);
  for (std::size_t i = 0; i < content.size(); ++i) content[i] = static_cast<std::uint8_t>(i);
  WritePc("DATA.BIN", content);
  Name("DATA    BIN");
  ASSERT_EQ(service.OpenBoardFile(), kResultOk);

  EXPECT_EQ(service.ReadNextRecord(), kResultOk);
  EXPECT_EQ(Bytes(record.begin(), record.end()), Bytes(content.begin(), content.begin() + 128));
  service.GetCurrentRecord();
  EXPECT_EQ(ThreeBytes(), 1u);

  Name("DATA    BIN");
  EXPECT_EQ(service.ReadNextRecord(), kResultOk);
  Bytes expected(content.begin() + 128, content.end());
  expected.resize(128, 0x1A);
  EXPECT_EQ(Bytes(record.begin(), record.end()), expected);

  EXPECT_EQ(service.ReadNextRecord(), kResultEndOfFile);
  EXPECT_EQ(Bytes(record.begin(), record.end()), expected) << "the record is left as it was";

  RecordNumber(65535);
  EXPECT_EQ(service.ReadRandomRecord(), kResultEndOfFile);
  RecordNumber(0);
  EXPECT_EQ(service.ReadRandomRecord(), kResultOk);
  EXPECT_EQ(record[5], 5);
  // Sequential access goes on after the record read at random.
  EXPECT_EQ(service.ReadNextRecord(), kResultOk);
  EXPECT_EQ(record[0], 128);
}

TEST_F(FileServiceTest, RandomWriteBeyondTheEndGrowsTheFile) {
  Name("NEW     DAT");
  ASSERT_EQ(service.MakeBoardFile(), kResultOk);
  EXPECT_TRUE(fs::exists(fs::path(work) / "NEW.DAT"));
  FillRecord('x');
  RecordNumber(2);
  EXPECT_EQ(service.WriteRandomRecord(), kResultOk);
  Bytes file = WorkFile("NEW.DAT");
  ASSERT_EQ(file.size(), 384u);
  EXPECT_EQ(file[0], 0);
  EXPECT_EQ(file[256], 'x');

  service.ComputeFileSize();
  EXPECT_EQ(ThreeBytes(), 3u);
  Name("NEW     DAT");
  service.GetCurrentRecord();
  EXPECT_EQ(ThreeBytes(), 3u);

  Name("NEW     DAT");
  FillRecord('y');
  EXPECT_EQ(service.WriteNextRecord(), kResultOk);
  EXPECT_EQ(WorkFile("NEW.DAT").size(), 512u);
  EXPECT_EQ(WorkFile("NEW.DAT")[384], 'y');
}

TEST_F(FileServiceTest, TheOpenFileTableKeepsOneEntryPerPathAndReusesFreeOnes) {
  WritePc("A.TXT", Bytes(300, 'a'));
  WritePc("B.TXT", Bytes(10, 'b'));
  Name("A       TXT");
  EXPECT_EQ(service.CloseBoardFile(), kResultFailed);
  EXPECT_EQ(service.ReadNextRecord(), kResultFailed);
  EXPECT_EQ(service.WriteNextRecord(), kResultFailed);
  EXPECT_EQ(service.WriteRandomRecord(), kResultFailed);

  ASSERT_EQ(service.OpenBoardFile(), kResultOk);
  ASSERT_EQ(service.ReadNextRecord(), kResultOk);
  ASSERT_EQ(service.OpenBoardFile(), kResultOk);
  ASSERT_EQ(service.OpenFileTable().size(), 1u);
  EXPECT_EQ(service.OpenFileTable()[0].position, 0) << "opening again starts from the beginning";

  Name("B       TXT");
  ASSERT_EQ(service.OpenBoardFile(), kResultOk);
  EXPECT_EQ(service.OpenFileTable().size(), 2u);
  Name("A       TXT");
  EXPECT_EQ(service.CloseBoardFile(), kResultOk);
  EXPECT_EQ(service.CloseBoardFile(), kResultFailed);
  Name("MISSING TXT");
  EXPECT_EQ(service.OpenBoardFile(), kResultFailed);
  EXPECT_EQ(service.OpenFileTable().size(), 2u);
  Name("B       TXT");
  EXPECT_EQ(service.MakeBoardFile(), kResultOk);
  EXPECT_EQ(WorkFile("B.TXT").size(), 0u) << "make truncates an existing file";
  Name("A       TXT");
  ASSERT_EQ(service.OpenBoardFile(), kResultOk);
  EXPECT_EQ(service.OpenFileTable().size(), 2u) << "the freed entry is taken again";
  EXPECT_EQ(service.OpenFileTable()[0].path, work + "/A.TXT");
}

TEST_F(FileServiceTest, ReadOnlyFilesOpenForReadingOnlyAndFollowTheAttributeFlag) {
  WritePc("RO.TXT", Bytes(256, 'r'));
  Name("RO      TXT");
  ASSERT_EQ(service.OpenBoardFile(), kResultOk);
  Name("RO      \xD4XT");  // read-only flag on the first extension byte
  EXPECT_EQ(service.SetBoardFileAttr(), kResultOk);
  EXPECT_EQ(service.OpenFileTable()[0].path, "") << "setting attributes closes the file";

  Name("RO      TXT");
  ASSERT_EQ(service.OpenBoardFile(), kResultOk);
  EXPECT_EQ(service.ReadNextRecord(), kResultOk);
  EXPECT_EQ(record[0], 'r');
  FillRecord('w');
  EXPECT_EQ(service.WriteNextRecord(), kResultFailed);
  RecordNumber(0);
  EXPECT_EQ(service.WriteRandomRecord(), kResultFailed);
  EXPECT_EQ(service.MakeBoardFile(), kResultFailed);
  EXPECT_EQ(service.DeleteBoardFiles(), kResultFailed);
  service.ComputeFileSize();
  EXPECT_EQ(ThreeBytes(), 2u);
  EXPECT_EQ(WorkFile("RO.TXT"), Bytes(256, 'r'));

  Name("RO      T\xD8T");  // system flag only: writable again
  EXPECT_EQ(service.SetBoardFileAttr(), kResultOk);
  Name("RO      TXT");
  EXPECT_EQ(service.OpenBoardFile(), kResultOk);
  service.ComputeFileSize();
  EXPECT_EQ(ThreeBytes(), 2u);
  Name("NONE    TXT");
  EXPECT_EQ(service.SetBoardFileAttr(), kResultFailed);
}

TEST_F(FileServiceTest, SearchesReportAliasesAndEndAfterTheLastMatch) {
  WritePc("ALPHA.TXT", Bytes(1));
  WritePc("Another Long Name.txt", Bytes(1));
  WritePc("BETA.TXT", Bytes(1));
  WritePc("ALPHA.DAT", Bytes(1));
  fs::create_directory(fs::path(work) / "ASUBDIR.TXT");

  Name(5, "A???????TXT");  // drive byte 5 does not exist, so nothing is found
  EXPECT_EQ(service.SearchFirstFile(), kResultFailed);
  EXPECT_EQ(NameBlock(), "A???????TXT") << "a failed search leaves the block as sent";

  Name(0, "A???????TXT");
  std::vector<std::string> found;
  ASSERT_EQ(service.SearchFirstFile(), kResultOk);
  found.push_back(NameBlock());
  EXPECT_EQ(params[0], 0);
  Name(0, "XXXXXXXXXXX");  // the block sent with search next is not used
  while (service.SearchNextFile() == kResultOk) found.push_back(NameBlock());
  EXPECT_EQ(found, (std::vector<std::string>{"ALPHA   TXT", "ANOTHE~1TXT"}));
  EXPECT_EQ(service.SearchNextFile(), kResultFailed);

  Name("???????????");
  ASSERT_EQ(service.SearchFirstFile(), kResultOk);
  Name("BETA    TXT");
  EXPECT_EQ(service.DeleteBoardFiles(), kResultOk);
  EXPECT_EQ(service.SearchNextFile(), kResultFailed) << "delete replaced the search";
  EXPECT_FALSE(fs::exists(fs::path(work) / "BETA.TXT"));
  EXPECT_EQ(service.DeleteBoardFiles(), kResultFailed);
}

TEST_F(FileServiceTest, LongNamesAreReachedThroughTheirAliases) {
  WritePc("Quarterly Report.text", Bytes(130, 'q'));
  Name("QUARTE~1TEX");
  ASSERT_EQ(service.OpenBoardFile(), kResultOk);
  EXPECT_EQ(service.ReadNextRecord(), kResultOk);
  EXPECT_EQ(record[0], 'q');
  EXPECT_EQ(service.ReadNextRecord(), kResultOk);
  EXPECT_EQ(record[1], 'q');
  EXPECT_EQ(record[2], 0x1A);
  EXPECT_EQ(service.MakeBoardFile(), kResultOk);
  EXPECT_EQ(WorkFile("Quarterly Report.text").size(), 0u) << "make truncates the file the alias stands for";
  EXPECT_FALSE(fs::exists(fs::path(work) / "QUARTE~1.TEX"));
  EXPECT_EQ(service.DeleteBoardFiles(), kResultOk);
  EXPECT_TRUE(fs::is_empty(work));
  EXPECT_EQ(service.OpenFileTable()[0].path, "");
}

TEST_F(FileServiceTest, LongNamedFilesThePcAddsAndRemovesBetweenCommandsAreSeenAtTheNext) {
  WritePc("First Long Name.txt", Bytes(1));
  Name("FIRSTL~1TXT");
  ASSERT_EQ(service.OpenBoardFile(), kResultOk);
  EXPECT_EQ(service.CloseBoardFile(), kResultOk);
  fs::remove(fs::path(work) / "First Long Name.txt");
  WritePc("Second Long Name.txt", Bytes(1));
  Name("FIRSTL~1TXT");
  EXPECT_EQ(service.OpenBoardFile(), kResultFailed);
  Name("SECOND~1TXT");
  EXPECT_EQ(service.OpenBoardFile(), kResultOk);
}

TEST_F(FileServiceTest, DeleteRemovesEveryMatchAndClosesTheirEntries) {
  for (const char* name : {"T1.TMP", "T2.TMP", "t3.tmp", "KEEP.TXT"}) WritePc(name, Bytes(1));
  Name("T1      TMP");
  ASSERT_EQ(service.OpenBoardFile(), kResultOk);
  Name("????????TMP");
  EXPECT_EQ(service.DeleteBoardFiles(), kResultOk);
  EXPECT_EQ(service.OpenFileTable()[0].path, "");
  std::vector<std::string> left;
  for (const auto& entry : fs::directory_iterator(work)) left.push_back(entry.path().filename().string());
  EXPECT_EQ(left, std::vector<std::string>{"KEEP.TXT"});
}

TEST_F(FileServiceTest, RenameNeverReplacesAndAlwaysClosesTheOldName) {
  WritePc("OLD.TXT", Bytes{'o'});
  WritePc("TAKEN.TXT", Bytes{'t'});
  auto rename = [&](std::string_view oldFcb, std::string_view newFcb) {
    Name(oldFcb);
    for (std::size_t i = 0; i < 11; ++i) params[12 + i] = static_cast<std::uint8_t>(newFcb[i]);
    return service.RenameBoardFile();
  };
  Name("OLD     TXT");
  ASSERT_EQ(service.OpenBoardFile(), kResultOk);
  EXPECT_EQ(rename("OLD     TXT", "TAKEN   TXT"), kResultFailed);
  EXPECT_EQ(service.OpenFileTable()[0].path, "") << "the entry is freed even when the rename fails";
  EXPECT_EQ(WorkFile("TAKEN.TXT"), Bytes{'t'});
  for (const char* bad : {"../OUT  TXT", "NE?     TXT", ".HIDDEN    ", "           "})
    EXPECT_EQ(rename("OLD     TXT", bad), kResultFailed) << bad;
  EXPECT_EQ(rename("MISSING TXT", "OTHER   TXT"), kResultFailed);
  EXPECT_EQ(rename("OLD     TXT", "new     t\xF8t"), kResultOk);
  EXPECT_EQ(WorkFile("NEW.TXT"), Bytes{'o'});
  EXPECT_EQ(rename("NEW     TXT", "NOEXT      "), kResultOk);
  EXPECT_TRUE(fs::exists(fs::path(work) / "NOEXT"));
}

TEST_F(FileServiceTest, NamesThatAreNotPlainNamesFailEverywhereAndTouchNothingOutside) {
  temp.write("secret.txt", "outside");
  temp.write("work/.hidden", "dot");
  using Command = std::function<std::uint8_t()>;
  std::vector<std::pair<const char*, Command>> commands = {
      {"open", [&] { return service.OpenBoardFile(); }},     {"make", [&] { return service.MakeBoardFile(); }},
      {"close", [&] { return service.CloseBoardFile(); }},   {"search", [&] { return service.SearchFirstFile(); }},
      {"delete", [&] { return service.DeleteBoardFiles(); }}, {"read", [&] { return service.ReadNextRecord(); }},
      {"write", [&] { return service.WriteNextRecord(); }},  {"attr", [&] { return service.SetBoardFileAttr(); }},
      {"rename", [&] { return service.RenameBoardFile(); }}, {"random", [&] { return service.WriteRandomRecord(); }},
  };
  std::string dotdot = "..      /SE";
  for (std::string fcb : {dotdot, std::string("..         "), std::string(".HIDDEN    "),
                          std::string("/SECRET TXT"), std::string("..\0SECRETTXT", 11)}) {
    for (auto& [what, command] : commands) {
      Name(fcb);
      for (std::size_t i = 12; i < 23; ++i) params[i] = 'X';
      EXPECT_EQ(command(), kResultFailed) << what << " '" << fcb << "'";
    }
  }
  Name("..         ");
  service.ComputeFileSize();
  EXPECT_EQ(ThreeBytes(), 0u);
  EXPECT_EQ(temp.read("secret.txt").size(), 7u);
  EXPECT_EQ(temp.read("work/.hidden").size(), 3u);
}

TEST_F(FileServiceTest, DrivesFollowTheLinksAndKeepTheirFolders) {
  fs::create_directories(temp / "diskA/sub");
  fs::create_directories(temp / "diskP");
  fs::create_symlink(temp / "diskA", temp / "prog/dosdevices/a:");
  fs::create_symlink(temp / "diskP", temp / "prog/dosdevices/p:");
  std::string rootA = fs::canonical(temp / "diskA").string();
  std::string rootP = fs::canonical(temp / "diskP").string();
  temp.write("diskA/sub/ON_A.TXT", "a");

  EXPECT_EQ(service.GetDriveVector(), (1u << 0) | (1u << 2) | (1u << 15));
  EXPECT_EQ(service.GetCurrentDrive(), 2);

  service.DriveFolders[0] = rootA + "/sub";
  params[0] = 0;  // select A
  service.SelectBoardDrive();
  EXPECT_EQ(service.GetCurrentDrive(), 0);
  EXPECT_EQ(service.DriveFolders[2], work) << "the folder left on C is remembered";
  Name("ON_A    TXT");
  EXPECT_EQ(service.OpenBoardFile(), kResultOk);

  params[0] = 15;  // P: its own current folder, the root
  service.SelectBoardDrive();
  EXPECT_EQ(service.GetCurrentDrive(), 15);
  EXPECT_EQ(service.Drives().CurrentFolder(), rootP);
  params[0] = 1;  // B does not exist: nothing changes
  service.SelectBoardDrive();
  EXPECT_EQ(service.GetCurrentDrive(), 15);
  params[0] = 200;
  service.SelectBoardDrive();
  EXPECT_EQ(service.GetCurrentDrive(), 15);
  params[0] = 2;  // back to C where the board left it
  service.SelectBoardDrive();
  EXPECT_EQ(service.Drives().CurrentFolder(), work);

  EXPECT_TRUE(service.SetWorkingFolder(rootA + "/sub/"));
  EXPECT_EQ(service.DriveFolders[0], rootA + "/sub");
  EXPECT_EQ(service.GetCurrentDrive(), 0);
  EXPECT_FALSE(service.SetWorkingFolder(work + "/missing"));
  EXPECT_EQ(service.GetCurrentDrive(), 0);

  service.InitFileService();
  EXPECT_EQ(service.DriveFolders[0], "A:");
  EXPECT_EQ(service.DriveFolders[15], "P:");
  EXPECT_EQ(service.OpenFileTable().size(), 1u);
}

// Another local process swaps the board's current folder with a link to an outside folder
// as fast as it can while the board makes, writes and deletes files there.
TEST_F(FileServiceTest, AFolderSwappedForALinkDuringCommandsChangesNothingOutside) {
  fs::create_directories(fs::path(work) / "SUB");
  fs::create_directories(temp / "outside");
  temp.write("outside/VICTIM.TXT", Bytes(300, 'v'));
  const std::string sub = work + "/SUB";
  const std::string link = work + "/EVIL";
  fs::create_symlink(temp / "outside", link);
  ASSERT_TRUE(service.Drives().SetCurrentFolder(sub));

  std::atomic<bool> stop{false};
  std::atomic<int> swaps{0};
  std::thread swapper([&] {
    while (!stop) {
      if (renameat2(AT_FDCWD, sub.c_str(), AT_FDCWD, link.c_str(), RENAME_EXCHANGE) == 0) ++swaps;
      std::this_thread::yield();
    }
  });
  FillRecord('x');
  for (int i = 0; i < 3000; ++i) {
    Name(i % 2 ? "VICTIM  TXT" : "NEW" + std::to_string(i % 10) + "    TXT");
    service.MakeBoardFile();
    RecordNumber(3);
    service.WriteRandomRecord();
    if (i % 3 == 0) service.SetBoardFileAttr();
    Name("VICTIM  TXT");
    service.DeleteBoardFiles();
  }
  stop = true;
  swapper.join();
  EXPECT_GT(swaps.load(), 100);

  std::vector<std::string> outside;
  for (const auto& entry : fs::directory_iterator(temp / "outside")) outside.push_back(entry.path().filename().string());
  EXPECT_EQ(outside, std::vector<std::string>{"VICTIM.TXT"});
  EXPECT_EQ(temp.read("outside/VICTIM.TXT"), Bytes(300, 'v'));
  EXPECT_EQ(fs::status(temp / "outside/VICTIM.TXT").permissions() & fs::perms::owner_write, fs::perms::owner_write);
}

}  // namespace
}  // namespace mirte
