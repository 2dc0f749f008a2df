// What a board may reach, played as a hostile peer over a pseudo-terminal against the real
// service: only the working folder and the mapped drives, never the program's own files,
// never a file another program holds locked.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "board/board_service.h"
#include "platform/drive_options.h"
#include "session/com_port_link.h"
#include "serial/port_rig.h"
#include "support/fake_board_window.h"
#include "support/foreign_lock.h"
#include "terminal/terminal_buffer.h"

namespace mirte {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using namespace std::string_literals;
using Bytes = std::vector<std::uint8_t>;
using testing::ForeignLock;

std::string Frame(std::uint8_t type, std::string_view params = {}) {
  return "\x10\x11"s + static_cast<char>(type) + std::string(params);
}

std::string NameBlock(std::uint8_t drive, std::string_view fcb) {
  return std::string(1, static_cast<char>(drive)) + std::string(fcb);
}

// Every regular file below a folder, by path, links not followed.
std::set<std::string> FilesBelow(const fs::path& root) {
  std::set<std::string> files;
  for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it)
    if (it->symlink_status().type() == fs::file_type::regular) files.insert(it->path().string());
  return files;
}

// A program folder with its executable, settings file and dosdevices/ (A and D mapped), a
// working folder, and files beside them that no drive stands for.
class DriveRulesTest : public ::testing::Test {
protected:
  DriveRulesTest() {
    const fs::path& root = rig.folder.path();
    rig.folder.write("mirte", "\x7f" "ELF program");
    rig.folder.write("mirte.SET", std::string(604, '\0'));
    rig.folder.write("work/W1.TXT", "w");
    rig.folder.write("diskA/A1.TXT", "a");
    rig.folder.write("diskD/D1.TXT", "d");
    rig.folder.write("OUTSIDE.TXT", "o");
    rig.folder.write("diskA-sibling/S1.TXT", "s");
    fs::create_symlink(root / "diskA", root / "dosdevices/a:");
    fs::create_symlink(root / "diskD", root / "dosdevices/d:");
    buffer.tbSetSVRowCount(24);
    window.onPump = [this] { rig.queue.ProcessMessages(); };
    service.ResetConsole();
    service.InitFileService();
    rig.port.SetOnTriggerAvail([this](TCustomComPort&, std::uint16_t) { service.ComPortTriggerAvail(); });
    rig.port.SetOpen(true);
  }

  Bytes Exchange(const std::string& bytes, std::size_t replySize) { return rig.exchange(bytes, replySize); }
  std::uint8_t Result(std::uint8_t type, std::string_view params) {
    Bytes reply = Exchange(Frame(type, params), 1);
    return reply.empty() ? 0xEE : reply[0];
  }
  // Search first and next with the given drive byte: every name the board is shown.
  std::vector<std::string> List(std::uint8_t drive) {
    std::vector<std::string> names;
    Bytes reply = Exchange(Frame(17, NameBlock(drive, "???????????")), 13);
    while (reply.size() == 13 && reply[0] == 0) {
      names.emplace_back(reply.begin() + 2, reply.end());
      reply = Exchange(Frame(18, NameBlock(drive, "???????????")), 13);
    }
    return names;
  }

  testing::PortRig rig;
  TTerminalBuffer buffer;
  testing::FakeBoardWindow window;
  TComPortLink link{rig.port};
  TProgramFiles own{(rig.folder / "mirte").string(), (rig.folder / "mirte.SET").string(),
                    (rig.folder / "dosdevices").string()};
  TBoardService service{buffer, window, {&link, nullptr, nullptr, own}};
};

TEST_F(DriveRulesTest, EveryDriveByteListsOnlyTheWorkingFolderAndTheMappedDrives) {
  ASSERT_TRUE(service.FileService().SetWorkingFolder((rig.folder / "work").string()));
  EXPECT_EQ(Exchange(Frame(24), 2), (Bytes{0x0D, 0x00})) << "A, C (the working folder) and D";
  EXPECT_EQ(Exchange(Frame(25), 1), Bytes{2});
  const std::vector<std::string> work = {"W1      TXT"}, a = {"A1      TXT"}, d = {"D1      TXT"};
  for (std::uint8_t drive = 0; drive <= 16; ++drive) {
    std::vector<std::string> expected;
    if (drive == 0 || drive == 3) expected = work;
    if (drive == 1) expected = a;
    if (drive == 4) expected = d;
    EXPECT_EQ(List(drive), expected) << "drive byte " << int(drive);
  }
}

TEST_F(DriveRulesTest, MakeOnEveryDriveByteCreatesNothingOutsideTheChosenFolders) {
  ASSERT_TRUE(service.FileService().SetWorkingFolder((rig.folder / "work").string()));
  std::set<std::string> before = FilesBelow(rig.folder.path());
  std::set<std::string> allowed = before;
  for (const char* folder : {"work", "diskA", "diskD"}) allowed.insert((rig.folder / folder / "PWNROOT.TXT").string());
  for (std::uint8_t drive = 0; drive <= 16; ++drive) {
    bool served = drive == 0 || drive == 1 || drive == 3 || drive == 4;
    EXPECT_EQ(Result(22, NameBlock(drive, "PWNROOT TXT")), served ? 0 : 255) << "drive byte " << int(drive);
    Result(16, NameBlock(drive, "PWNROOT TXT"));
  }
  std::set<std::string> after = FilesBelow(rig.folder.path());
  for (const auto& file : after) EXPECT_TRUE(allowed.count(file)) << file;
  EXPECT_EQ(after.size(), before.size() + 3);
  EXPECT_FALSE(fs::exists("/PWNROOT.TXT"));
}

TEST_F(DriveRulesTest, TheProgramFolderAsWorkingFolderHidesTheProgramsOwnFiles) {
  rig.folder.write("BOARD.TXT", std::string(128, 'b'));
  ASSERT_TRUE(service.FileService().SetWorkingFolder(rig.folder.path().string()));
  EXPECT_EQ(List(0), (std::vector<std::string>{"BOARD   TXT", "OUTSIDE TXT"}));

  struct Attempt {
    const char* what;
    std::uint8_t type;
    std::string params;
  } attempts[] = {
      {"open the settings", 15, NameBlock(0, "MIRTE   SET")},
      {"open the program", 15, NameBlock(0, "MIRTE      ")},
      {"make the settings", 22, NameBlock(0, "MIRTE   SET")},
      {"delete the program", 19, NameBlock(0, "MIRTE      ")},
      {"delete by wildcard", 19, NameBlock(0, "MIRTE   ???")},
      {"rename the settings", 23, NameBlock(0, "MIRTE   SET") + "STOLEN  SET"},
      {"rename onto the settings", 23, NameBlock(0, "BOARD   TXT") + "MIRTE   SET"},
      {"attributes of the program", 30, NameBlock(0, "MIRTE      ")},
      {"open the links folder", 15, NameBlock(0, "DOSDEVIC   ")},
  };
  for (const auto& attempt : attempts)
    EXPECT_EQ(Result(attempt.type, attempt.params), 255) << attempt.what;
  EXPECT_EQ(Exchange(Frame(35, NameBlock(0, "MIRTE   SET")), 3), (Bytes{0, 0, 0})) << "no size either";
  EXPECT_EQ(rig.folder.read("mirte.SET").size(), 604u);
  EXPECT_EQ(rig.folder.read("mirte").size(), 12u);
  EXPECT_TRUE(fs::exists(rig.folder / "BOARD.TXT"));
  EXPECT_FALSE(fs::exists(rig.folder / "STOLEN.SET"));
}

TEST_F(DriveRulesTest, AFileLockedByAnotherProgramFailsUntilTheLockIsGone) {
  ASSERT_TRUE(service.FileService().SetWorkingFolder((rig.folder / "work").string()));
  const std::string file = (rig.folder / "work/W1.TXT").string();
  const std::string name = NameBlock(0, "W1      TXT");
  for (auto kind : {ForeignLock::Kind::Flock, ForeignLock::Kind::Lockf}) {
    SCOPED_TRACE(kind == ForeignLock::Kind::Flock ? "flock" : "lockf");
    ASSERT_EQ(Result(15, name), 0);
    ForeignLock lock(file, kind);
    ASSERT_TRUE(lock.held());
    EXPECT_EQ(Result(15, name), 255) << "open";
    EXPECT_EQ(Exchange(Frame(20, name), 129)[0], 255) << "read";
    EXPECT_EQ(Result(22, name), 255) << "make (truncate)";
    EXPECT_EQ(Result(19, name), 255) << "delete";
    EXPECT_EQ(Result(23, name + "W2      TXT"), 255) << "rename";
    EXPECT_EQ(Result(30, name), 255) << "attributes";
    EXPECT_EQ(rig.folder.read("work/W1.TXT").size(), 1u);
    lock.release();
    EXPECT_EQ(Result(15, name), 0);
    EXPECT_EQ(Exchange(Frame(20, name), 129)[0], 0);
  }
}

TEST_F(DriveRulesTest, LinksToTheSystemsOwnFoldersStandForNoDrive) {
  ASSERT_TRUE(service.FileService().SetWorkingFolder((rig.folder / "work").string()));
  const fs::path devices = rig.folder / "dosdevices";
  fs::create_symlink("/", devices / "e:");
  fs::create_symlink("/proc", devices / "f:");
  fs::create_symlink("/proc/self/root", devices / "g:");
  fs::create_symlink("/run", devices / "h:");
  fs::create_symlink("/dev", devices / "i:");
  fs::create_symlink("/sys/kernel", devices / "j:");
  EXPECT_EQ(Exchange(Frame(24), 2), (Bytes{0x0D, 0x00})) << "still only A, C and D";
  for (std::uint8_t drive = 5; drive <= 10; ++drive) {
    EXPECT_TRUE(List(drive).empty()) << "drive byte " << int(drive);
    EXPECT_EQ(Result(22, NameBlock(drive, "PWNROOT TXT")), 255) << "drive byte " << int(drive);
  }
  Exchange(Frame(14, "\x04"), 0);  // select E:, which is refused: the board stays on C
  EXPECT_EQ(Exchange(Frame(25), 1), Bytes{2});

  // A drive's folder replaced by a link to "/" after it was mapped is caught at the next command.
  ASSERT_EQ(List(4), (std::vector<std::string>{"D1      TXT"}));
  fs::rename(rig.folder / "diskD", rig.folder / "diskD-moved");
  fs::create_symlink("/", rig.folder / "diskD");
  EXPECT_TRUE(List(4).empty());
  EXPECT_EQ(Exchange(Frame(24), 2), (Bytes{0x05, 0x00})) << "A and C";
  EXPECT_FALSE(fs::exists("/PWNROOT.TXT"));
}

TEST_F(DriveRulesTest, AWorkingFolderThatIsOrBecomesTheRootIsNoDrive) {
  EXPECT_FALSE(service.FileService().SetWorkingFolder("/"));
  EXPECT_EQ(Exchange(Frame(24), 2), (Bytes{0x09, 0x00})) << "A and D, no C";
  EXPECT_TRUE(List(0).empty());
  EXPECT_TRUE(List(3).empty());

  fs::create_directory(rig.folder / "later");
  rig.folder.write("later/L.TXT", "l");
  ASSERT_TRUE(service.FileService().SetWorkingFolder((rig.folder / "later").string()));
  ASSERT_EQ(List(3), (std::vector<std::string>{"L       TXT"}));
  fs::rename(rig.folder / "later", rig.folder / "later-moved");
  fs::create_symlink("/", rig.folder / "later");
  EXPECT_TRUE(List(3).empty());
  EXPECT_EQ(Result(22, NameBlock(3, "PWNROOT TXT")), 255);
}

TEST_F(DriveRulesTest, AReadOnlyFileIsCopiedFromButNeverWritten) {
  ASSERT_TRUE(service.FileService().SetWorkingFolder((rig.folder / "work").string()));
  rig.folder.write("work/READONLY.TXT", std::string(200, 'r'));
  fs::permissions(rig.folder / "work/READONLY.TXT", fs::perms::owner_read | fs::perms::group_read);
  const std::string name = NameBlock(0, "READONLYTXT");
  // What a copy program does: open, read to the end, close.
  ASSERT_EQ(Result(15, name), 0);
  Bytes first = Exchange(Frame(20, name), 129);
  ASSERT_EQ(first.size(), 129u);
  EXPECT_EQ(first[0], 0);
  EXPECT_EQ(first[1], 'r');
  Bytes second = Exchange(Frame(20, name), 129);
  EXPECT_EQ(second[0], 0);
  EXPECT_EQ(second[72], 'r');
  EXPECT_EQ(second[73], 0x1A);
  EXPECT_EQ(Exchange(Frame(20, name), 129)[0], 1);
  EXPECT_EQ(Exchange(Frame(35, name), 3), (Bytes{2, 0, 0}));
  // And what a program writing back would do.
  const std::string record(128, 'w');
  EXPECT_EQ(Result(21, name + record), 255) << "write";
  EXPECT_EQ(Result(34, name + "\x00\x00"s + record), 255) << "random write";
  EXPECT_EQ(Result(22, name), 255) << "make";
  EXPECT_EQ(Result(19, name), 255) << "delete";
  EXPECT_EQ(rig.folder.read("work/READONLY.TXT"), Bytes(200, 'r'));
  EXPECT_EQ(Result(23, name + "RENAMED TXT"), 0) << "rename";
  EXPECT_EQ(rig.folder.read("work/RENAMED.TXT"), Bytes(200, 'r'));
}

TEST_F(DriveRulesTest, HardLinksToTheProgramsOwnFilesAreNeverServed) {
  ASSERT_TRUE(service.FileService().SetWorkingFolder((rig.folder / "work").string()));
  rig.folder.write("dosdevices/notes", "n");
  fs::create_hard_link(rig.folder / "mirte.SET", rig.folder / "work/SETTINGS.BIN");
  fs::create_hard_link(rig.folder / "mirte", rig.folder / "work/PROGRAM.BIN");
  fs::create_hard_link(rig.folder / "dosdevices/notes", rig.folder / "work/NOTES.TXT");
  EXPECT_EQ(List(0), (std::vector<std::string>{"W1      TXT"}));
  for (const char* fcb : {"SETTINGSBIN", "PROGRAM BIN", "NOTES   TXT"}) {
    SCOPED_TRACE(fcb);
    const std::string name = NameBlock(0, fcb);
    EXPECT_EQ(Result(15, name), 255) << "open";
    EXPECT_EQ(Result(22, name), 255) << "make";
    EXPECT_EQ(Result(19, name), 255) << "delete";
    EXPECT_EQ(Result(23, name + "STOLEN  BIN"), 255) << "rename";
    EXPECT_EQ(Result(30, name), 255) << "attributes";
  }
  EXPECT_EQ(rig.folder.read("mirte.SET").size(), 604u);
  EXPECT_TRUE(fs::exists(rig.folder / "work/SETTINGS.BIN"));
}

TEST_F(DriveRulesTest, AFileWithOtherHardLinksIsReadOnlyUnlessTheDriveAllowsIt) {
  ASSERT_TRUE(service.FileService().SetWorkingFolder((rig.folder / "work").string()));
  fs::create_hard_link(rig.folder / "OUTSIDE.TXT", rig.folder / "diskA/LINKED.TXT");
  const std::string name = NameBlock(1, "LINKED  TXT");
  const std::string record(128, 'w');
  ASSERT_EQ(Result(15, name), 0);
  Bytes read = Exchange(Frame(20, name), 129);
  ASSERT_EQ(read.size(), 129u);
  EXPECT_EQ(read[1], 'o');
  EXPECT_EQ(Result(34, name + "\x00\x00"s + record), 255) << "random write";
  EXPECT_EQ(Result(21, name + record), 255) << "write";
  EXPECT_EQ(Result(22, name), 255) << "make (truncate)";
  EXPECT_EQ(Result(19, name), 255) << "delete";
  EXPECT_EQ(Result(30, NameBlock(1, "LINKED  \xD4XT")), 255) << "attributes";
  EXPECT_EQ(rig.folder.read("OUTSIDE.TXT"), Bytes{'o'});

  TDriveOptions options;
  options.SetLinksWritable('A', true);
  ASSERT_TRUE(SaveDriveOptions(DriveOptionsPath(own.SettingsFile), options));
  ASSERT_EQ(Result(15, name), 0);
  EXPECT_EQ(Result(21, name + record), 0);
  EXPECT_EQ(rig.folder.read("OUTSIDE.TXT").size(), 128u);
}

}  // namespace
}  // namespace mirte
