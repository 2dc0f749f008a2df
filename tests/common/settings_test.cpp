#include "common/settings.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <vector>

#include "support/scoped_environment.h"
#include "support/temp_folder.h"

namespace mirte {
namespace {

class SettingsTest : public ::testing::Test {
protected:
  mirte::testing::TempFolder folder;
  std::string program = (folder / "mirte").string();
  std::string settingsFile = (folder / "mirte.SET").string();
  std::string programFolder = folder.path().string() + "/";
  // The default working folder goes to a home of the test's own.
  mirte::testing::ScopedEnvironment home{"HOME", (folder / "home").string()};
  std::string defaultWork = (folder / "home/MIRTE").string();

  SettingsTest() { std::filesystem::create_directory(folder / "home"); }

  SettingsRec validRecord() {
    TSettings defaults;
    defaults.ProgramFolder = programFolder;
    defaults.SetDefaultSettings();
    defaults.Rec.Reserved = 0x5A;
    defaults.Rec.ComNumber = 3;
    defaults.Rec.Baud = 57600;
    defaults.Rec.FontSize = 16;
    defaults.Rec.TextColor = 0x00112233;
    defaults.Rec.BackColor = 0x00445566;
    defaults.Rec.PrintEachPage = 1;
    defaults.Rec.UserStr[2].Assign("DIR");
    defaults.Rec.UserStrEnter[2] = 1;
    return defaults.Rec;
  }

  void writeRecord(const SettingsRec& rec, std::size_t size = sizeof(SettingsRec)) {
    std::vector<std::uint8_t> bytes(size, 0);
    std::memcpy(bytes.data(), &rec, std::min(size, sizeof rec));
    folder.write("mirte.SET", bytes);
  }

  SettingsRec fileRecord() {
    auto bytes = folder.read("mirte.SET");
    EXPECT_EQ(bytes.size(), 604u);
    SettingsRec rec{};
    std::memcpy(&rec, bytes.data(), std::min(bytes.size(), sizeof rec));
    return rec;
  }
};

TEST_F(SettingsTest, FirstStartWritesTheDefaultsBesideTheProgram) {
  TSettings settings;
  settings.LoadSettings(program);

  EXPECT_EQ(settings.ProgramFolder, programFolder);
  EXPECT_EQ(settings.SettingsPath, settingsFile);
  const SettingsRec& rec = settings.Rec;
  EXPECT_EQ(rec.Language, 2);
  EXPECT_EQ(rec.ComNumber, 1);
  EXPECT_EQ(rec.Baud, 115200);
  EXPECT_EQ(rec.FontSize, 10);
  EXPECT_EQ(rec.TextColor, 0x00C0C0C0u);
  EXPECT_EQ(rec.BackColor, 0x00800000u);
  EXPECT_EQ(rec.PrintEachPage, 0);
  EXPECT_EQ(rec.Release.Str(), "1.01.0");
  // A folder of its own in the home folder, made now, never the program folder.
  EXPECT_EQ(settings.WorkFolderPath(), defaultWork);
  EXPECT_TRUE(std::filesystem::is_directory(defaultWork));
  for (int n = 0; n < 10; ++n) {
    EXPECT_EQ(rec.UserStr[n].Length, 0);
    EXPECT_EQ(rec.UserStrEnter[n], 0);
  }
  SettingsRec written = fileRecord();
  EXPECT_EQ(std::memcmp(&rec, &written, sizeof rec), 0) << "the file holds the record byte for byte";
}

TEST_F(SettingsTest, ProgramFileExtensionIsReplacedBySet) {
  TSettings settings;
  settings.LoadSettings((folder / "prog.bin").string());
  EXPECT_EQ(settings.SettingsPath, (folder / "prog.SET").string());
  EXPECT_TRUE(std::filesystem::exists(folder / "prog.SET"));
}

TEST_F(SettingsTest, ValidFileLoadsUnchangedAndIsNotRewritten) {
  SettingsRec stored = validRecord();
  writeRecord(stored, 700);  // bytes past the record are ignored
  auto before = std::filesystem::last_write_time(settingsFile);

  TSettings settings;
  settings.LoadSettings(program);

  EXPECT_EQ(std::memcmp(&settings.Rec, &stored, sizeof stored), 0);
  EXPECT_EQ(folder.read("mirte.SET").size(), 700u) << "a valid file must not be rewritten";
  EXPECT_EQ(std::filesystem::last_write_time(settingsFile), before);
}

TEST_F(SettingsTest, ShortFileIsReplacedWithDefaults) {
  writeRecord(validRecord(), 603);
  TSettings settings;
  settings.LoadSettings(program);
  EXPECT_EQ(settings.Rec.ComNumber, 1);
  EXPECT_EQ(settings.Rec.FontSize, 10);
  EXPECT_EQ(fileRecord().Baud, 115200);
}

struct Correction {
  const char* what;
  std::function<void(SettingsRec&)> spoil;
  std::function<void(const SettingsRec&)> check;
};

TEST_F(SettingsTest, InvalidFieldsAreCorrectedOneByOneAndWrittenBack) {
  const std::vector<Correction> cases = {
      {"language 0", [](SettingsRec& r) { r.Language = 0; }, [](const SettingsRec& r) { EXPECT_EQ(r.Language, 2); }},
      {"language 3", [](SettingsRec& r) { r.Language = 3; }, [](const SettingsRec& r) { EXPECT_EQ(r.Language, 2); }},
      {"font 11", [](SettingsRec& r) { r.FontSize = 11; }, [](const SettingsRec& r) { EXPECT_EQ(r.FontSize, 10); }},
      {"baud 4800", [](SettingsRec& r) { r.Baud = 4800; }, [](const SettingsRec& r) { EXPECT_EQ(r.Baud, 115200); }},
      {"negative baud", [](SettingsRec& r) { r.Baud = -9600; }, [](const SettingsRec& r) { EXPECT_EQ(r.Baud, 115200); }},
      {"baud wrapping 16 bits", [](SettingsRec& r) { r.Baud = 9600 + 655360; },
       [](const SettingsRec& r) { EXPECT_EQ(r.Baud, 115200); }},
      {"release", [](SettingsRec& r) { r.Release.Assign("1.00.9"); },
       [](const SettingsRec& r) { EXPECT_EQ(r.Release.Str(), "1.01.0"); }},
      {"release too short", [](SettingsRec& r) { r.Release.Assign("1.01"); },
       [](const SettingsRec& r) { EXPECT_EQ(r.Release.Str(), "1.01.0"); }},
      {"work folder gone", [](SettingsRec& r) { r.WorkFolder.Assign("/no/such/folder"); },
       [this](const SettingsRec& r) { EXPECT_EQ(r.WorkFolder.Str(), defaultWork); }},
      {"work folder from the other system", [](SettingsRec& r) { r.WorkFolder.Assign("D:\\BOARD\\"); },
       [this](const SettingsRec& r) { EXPECT_EQ(r.WorkFolder.Str(), defaultWork); }},
      {"work folder the whole system", [](SettingsRec& r) { r.WorkFolder.Assign("/"); },
       [this](const SettingsRec& r) { EXPECT_EQ(r.WorkFolder.Str(), defaultWork); }},
      {"work folder /run", [](SettingsRec& r) { r.WorkFolder.Assign("/run/"); },
       [this](const SettingsRec& r) { EXPECT_EQ(r.WorkFolder.Str(), defaultWork); }},
      {"work folder below /dev", [](SettingsRec& r) { r.WorkFolder.Assign("/dev/shm"); },
       [this](const SettingsRec& r) { EXPECT_EQ(r.WorkFolder.Str(), defaultWork); }},
      {"work folder reaching / through /proc", [](SettingsRec& r) { r.WorkFolder.Assign("/proc/self/root"); },
       [this](const SettingsRec& r) { EXPECT_EQ(r.WorkFolder.Str(), defaultWork); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    SettingsRec stored = validRecord();
    stored.WorkFolder.Assign(folder.path().string());
    c.spoil(stored);
    writeRecord(stored);

    TSettings settings;
    settings.LoadSettings(program);
    c.check(settings.Rec);
    SettingsRec written = fileRecord();
    c.check(written);
    // Everything that was valid survives, including the reserved byte and user strings.
    EXPECT_EQ(written.Reserved, 0x5A);
    EXPECT_EQ(written.ComNumber, 3);
    EXPECT_EQ(written.TextColor, 0x00112233u);
    EXPECT_EQ(written.PrintEachPage, 1);
    EXPECT_EQ(written.UserStr[2].Str(), "DIR");
    EXPECT_EQ(written.UserStrEnter[2], 1);
  }
}

TEST_F(SettingsTest, BaudWithinTheSameTenthPasses) {
  for (std::int32_t baud : {9600, 19200, 38400, 57600, 115200, 115209}) {
    SettingsRec stored = validRecord();
    stored.Baud = baud;
    writeRecord(stored);
    TSettings settings;
    settings.LoadSettings(program);
    EXPECT_EQ(settings.Rec.Baud, baud);
  }
}

TEST_F(SettingsTest, CheckReportsWhetherAnythingChanged) {
  TSettings settings;
  settings.ProgramFolder = programFolder;
  settings.Rec = validRecord();
  EXPECT_TRUE(settings.CheckSettings());
  settings.Rec.FontSize = 9;
  settings.Rec.Language = 7;
  EXPECT_FALSE(settings.CheckSettings());
  EXPECT_TRUE(settings.CheckSettings());
}

TEST_F(SettingsTest, FolderNamesOutsideWindows1252SurviveTheRoundTrip) {
  std::filesystem::create_directory(folder / "Платы");
  std::string latin = (folder / "Münzen").string();
  std::filesystem::create_directory(latin);
  TSettings settings;
  settings.ProgramFolder = programFolder;
  settings.Rec = validRecord();

  settings.SetWorkFolder(latin);
  EXPECT_EQ(settings.Rec.WorkFolder.Length, latin.size() - 1) << "ü is one byte in the record";
  EXPECT_EQ(settings.WorkFolderPath(), latin);

  std::string cyrillic = (folder / "Платы").string();
  settings.SetWorkFolder(cyrillic);
  EXPECT_EQ(settings.WorkFolderPath(), cyrillic);
  EXPECT_TRUE(settings.CheckSettings());
}

TEST_F(SettingsTest, UnwritableFileIsIgnoredAndTheRecordKept) {
  // A folder in the file's place can be neither read nor written, even by root.
  std::filesystem::create_directory(settingsFile);
  TSettings settings;
  settings.LoadSettings(program);
  EXPECT_EQ(settings.Rec.Baud, 115200);
  settings.Rec.FontSize = 12;
  settings.SaveSettings();
  EXPECT_EQ(settings.Rec.FontSize, 12);
  EXPECT_TRUE(std::filesystem::is_directory(settingsFile));
}

TEST_F(SettingsTest, ReadOnlyValidFileIsReadButNotReplaced) {
  SettingsRec stored = validRecord();
  writeRecord(stored);
  ::chmod(settingsFile.c_str(), 0444);
  TSettings settings;
  settings.LoadSettings(program);
  EXPECT_EQ(settings.Rec.ComNumber, 3);
  settings.Rec.ComNumber = 4;
  settings.SaveSettings();
  EXPECT_EQ(fileRecord().ComNumber, 3);
}

TEST_F(SettingsTest, TheDefaultWorkingFolderIsMadeOnceAndKeptAsAnyChosenOne) {
  TSettings first;
  first.LoadSettings(program);
  ASSERT_TRUE(std::filesystem::is_directory(defaultWork));
  folder.write("home/MIRTE/KEEP.TXT", "k");
  TSettings second;
  second.LoadSettings(program);
  EXPECT_EQ(second.WorkFolderPath(), defaultWork);
  EXPECT_EQ(folder.read("home/MIRTE/KEEP.TXT").size(), 1u);

  // Gone since the last run: made again, and the unchanged record is not rewritten.
  std::filesystem::remove_all(defaultWork);
  auto before = std::filesystem::last_write_time(settingsFile);
  TSettings third;
  third.LoadSettings(program);
  EXPECT_TRUE(std::filesystem::is_directory(defaultWork));
  EXPECT_EQ(std::filesystem::last_write_time(settingsFile), before);
}

TEST_F(SettingsTest, AHomeWhoseNameWindows1252CannotSpellStillGetsItsWorkingFolder) {
  std::filesystem::create_directory(folder / "Платы");
  mirte::testing::ScopedEnvironment cyrillicHome{"HOME", (folder / "Платы").string()};
  TSettings first;
  first.LoadSettings(program);
  EXPECT_EQ(first.WorkFolderPath(), (folder / "Платы/MIRTE").string());
  EXPECT_TRUE(std::filesystem::is_directory(folder / "Платы/MIRTE"));
  auto before = std::filesystem::last_write_time(settingsFile);
  TSettings second;
  second.LoadSettings(program);
  EXPECT_EQ(std::filesystem::last_write_time(settingsFile), before) << "nothing to correct";
}

TEST_F(SettingsTest, NothingButARegularFileIsReadOrWrittenAtTheSettingsPath) {
  folder.write("precious.txt", "precious");
  struct Case {
    const char* what;
    std::function<void()> make;
    std::function<bool()> intact;
  } cases[] = {
      {"link", [&] { std::filesystem::create_symlink(folder / "precious.txt", settingsFile); },
       [&] { return std::filesystem::is_symlink(settingsFile) && folder.read("precious.txt").size() == 8; }},
      {"dangling link", [&] { std::filesystem::create_symlink(folder / "made-by-link", settingsFile); },
       [&] { return std::filesystem::is_symlink(settingsFile) && !std::filesystem::exists(folder / "made-by-link"); }},
      // Opening a FIFO for reading would wait for a writer: start-up must not.
      {"fifo", [&] { ASSERT_EQ(::mkfifo(settingsFile.c_str(), 0644), 0); },
       [&] { return std::filesystem::is_fifo(settingsFile); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    c.make();
    TSettings settings;
    settings.LoadSettings(program);
    EXPECT_EQ(settings.Rec.Baud, 115200);
    settings.Rec.FontSize = 16;
    settings.SaveSettings();
    EXPECT_TRUE(c.intact());
    std::filesystem::remove(settingsFile);
  }
  int stray = 0;
  for (const auto& entry : std::filesystem::directory_iterator(folder.path()))
    stray += entry.path().filename().string().starts_with(".mirte.SET");
  EXPECT_EQ(stray, 0) << "no half-written file is left behind";
}

// A folder that can take no more bytes. A small tmpfs is mounted where the test may mount
// one, and filled up; elsewhere a file size limit makes every write past it fail alike.
class FullFolder {
public:
  explicit FullFolder(const std::filesystem::path& where) : folder(where) {
    std::filesystem::create_directory(where);
    mounted = ::mount("mirte-test", where.c_str(), "tmpfs", 0, "size=16k") == 0;
  }
  ~FullFolder() {
    if (mounted) ::umount2(folder.c_str(), MNT_DETACH);
    if (limited) {
      ::setrlimit(RLIMIT_FSIZE, &oldLimit);
      ::signal(SIGXFSZ, oldHandler);
    }
  }
  void fill() {
    if (mounted) {
      std::vector<char> block(512, 'x');
      FILE* filler = std::fopen((folder / "filler").c_str(), "wb");
      while (filler && std::fwrite(block.data(), 1, block.size(), filler) == block.size() && std::fflush(filler) == 0) {
      }
      if (filler) std::fclose(filler);
      return;
    }
    ::getrlimit(RLIMIT_FSIZE, &oldLimit);
    oldHandler = ::signal(SIGXFSZ, SIG_IGN);
    rlimit limit = oldLimit;
    limit.rlim_cur = 100;
    limited = ::setrlimit(RLIMIT_FSIZE, &limit) == 0;
  }

private:
  std::filesystem::path folder;
  bool mounted = false;
  bool limited = false;
  rlimit oldLimit{};
  sighandler_t oldHandler = SIG_DFL;
};

TEST_F(SettingsTest, ASaveOnAFullDiskLeavesTheOldSettingsWhole) {
  std::filesystem::path disk = folder / "disk";
  FullFolder full(disk);
  TSettings settings;
  settings.ProgramFolder = disk.string() + "/";
  settings.SettingsPath = (disk / "mirte.SET").string();
  settings.Rec = validRecord();
  settings.SaveSettings();
  ASSERT_EQ(std::filesystem::file_size(disk / "mirte.SET"), 604u);

  full.fill();
  settings.Rec.FontSize = 8;
  settings.SaveSettings();
  auto bytes = mirte::testing::readFileBytes(disk / "mirte.SET");
  ASSERT_EQ(bytes.size(), 604u);
  SettingsRec kept{};
  std::memcpy(&kept, bytes.data(), sizeof kept);
  EXPECT_EQ(kept.FontSize, 16);
  for (const auto& entry : std::filesystem::directory_iterator(disk)) {
    std::string name = entry.path().filename().string();
    EXPECT_TRUE(name == "mirte.SET" || name == "filler") << name << " was left behind";
  }
}

}  // namespace
}  // namespace mirte
