// The board's side of both programs that serve it, the main window and mirte-serve, played
// over a pseudo-terminal with the same set-up: frames on the line, what the board may reach
// (refused roots, the program's own files, hard links, read-only files), files another
// program holds locked, replies held up while the board does not read, and a board
// unplugged and plugged in again. Every reply is compared with the bytes it must be, so the
// two programs answer alike or one of them fails.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/drive_options.h"
#include "support/board_frames.h"
#include "support/board_front_end.h"
#include "support/foreign_lock.h"

namespace mirte {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using namespace std::string_literals;
using Bytes = std::vector<std::uint8_t>;
using testing::ForeignLock;
using testing::Frame;
using testing::NameBlock;
using testing::Record;
using testing::TFrontEndKind;

// Every regular file below a folder, by path, links not followed.
std::set<std::string> FilesBelow(const fs::path& root) {
  std::set<std::string> files;
  for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it)
    if (it->symlink_status().type() == fs::file_type::regular) files.insert(it->path().string());
  return files;
}

// A program folder with the program file, its settings and dosdevices/, a working folder,
// folders for drives A and D, and files beside them that no drive stands for.
class BoardFrontEndTest : public ::testing::TestWithParam<TFrontEndKind> {
protected:
  BoardFrontEndTest() {
    rig.folder.write("work/W1.TXT", "w");
    rig.folder.write("diskA/A1.TXT", "a");
    rig.folder.write("diskD/D1.TXT", "d");
    rig.folder.write("OUTSIDE.TXT", "o");
    rig.folder.write("diskA-sibling/S1.TXT", "s");
  }

  static std::unique_ptr<testing::IBoardFrontEnd> FrontEnd() {
    if (GetParam() == TFrontEndKind::Window) return testing::MakeWindowFrontEnd();
    return testing::MakeServeFrontEnd(MIRTE_SERVE);
  }
  fs::path Root() const { return rig.folder.path(); }
  // Serving with the working folder work/ and drives A and D, plus `more`.
  void StartOnWork(std::vector<std::pair<char, fs::path>> more = {}) {
    more.insert(more.begin(), {{'A', Root() / "diskA"}, {'D', Root() / "diskD"}});
    ASSERT_TRUE(rig.Start(Root() / "work", more)) << rig.Note();
  }

  Bytes Exchange(const std::string& bytes, std::size_t replySize) { return rig.Exchange(bytes, replySize); }
  testing::TBoardExchange Exchanger() {
    return [this](const std::string& bytes, std::size_t replySize) { return Exchange(bytes, replySize); };
  }
  std::uint8_t Result(std::uint8_t type, std::string_view params) { return testing::ResultOf(Exchanger(), type, params); }
  // Every name the board is shown on the drive the drive byte names. The search ends on
  // the result 255, never on a missing reply.
  std::vector<std::string> List(std::uint8_t drive) {
    Bytes reply;
    std::vector<std::string> names = testing::ListNames(Exchanger(), drive, &reply);
    EXPECT_EQ(reply.size(), 13u) << "drive byte " << int(drive);
    EXPECT_EQ(reply.empty() ? 0 : reply[0], 255) << "drive byte " << int(drive);
    return names;
  }

  testing::BoardRig rig{FrontEnd()};
};

TEST_P(BoardFrontEndTest, ServesTheConsoleAndTheDiskOnOneLine) {
  StartOnWork();
  rig.Send("MIRTE\r\nA>");
  EXPECT_TRUE(rig.RunUntil([&] { return rig.FrontEnd().Console() == "MIRTE\r\nA>"; })) << rig.FrontEnd().Console();

  const std::string name = NameBlock(0, "TEST    TXT");
  std::string record(128, '\0');
  for (std::size_t i = 0; i < record.size(); ++i) record[i] = static_cast<char>(i);
  EXPECT_EQ(Result(22, name), 0) << "make";
  EXPECT_EQ(Result(21, name + record), 0) << "write next record";
  EXPECT_EQ(Result(16, name), 0) << "close";
  EXPECT_EQ(rig.folder.read("work/TEST.TXT"), Bytes(record.begin(), record.end()));

  EXPECT_EQ(Result(15, name), 0) << "open";
  Bytes reply = Exchange(Frame(20, name), 129);  // read next record: result, then the record
  ASSERT_EQ(reply.size(), 129u);
  EXPECT_EQ(reply[0], 0);
  EXPECT_EQ(std::string(reply.begin() + 1, reply.end()), record);
  EXPECT_EQ(Exchange(Frame(20, name), 129)[0], 1) << "end of file";

  rig.Send("OK");
  EXPECT_TRUE(rig.RunUntil([&] { return rig.FrontEnd().Console() == "MIRTE\r\nA>OK"; }))
      << "frames never reach the console: " << rig.FrontEnd().Console();
  rig.FrontEnd().ExpectShownServing();
}

TEST_P(BoardFrontEndTest, EveryDriveByteListsOnlyTheWorkingFolderAndTheMappedDrives) {
  StartOnWork();
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

TEST_P(BoardFrontEndTest, MakeOnEveryDriveByteCreatesNothingOutsideTheChosenFolders) {
  StartOnWork();
  std::set<std::string> before = FilesBelow(Root());
  std::set<std::string> allowed = before;
  for (const char* folder : {"work", "diskA", "diskD"}) allowed.insert((Root() / folder / "PWNROOT.TXT").string());
  for (std::uint8_t drive = 0; drive <= 16; ++drive) {
    bool served = drive == 0 || drive == 1 || drive == 3 || drive == 4;
    EXPECT_EQ(Result(22, NameBlock(drive, "PWNROOT TXT")), served ? 0 : 255) << "drive byte " << int(drive);
    Result(16, NameBlock(drive, "PWNROOT TXT"));
  }
  std::set<std::string> after = FilesBelow(Root());
  for (const auto& file : after) EXPECT_TRUE(allowed.count(file)) << file;
  EXPECT_EQ(after.size(), before.size() + 3);
  EXPECT_FALSE(fs::exists("/PWNROOT.TXT"));
}

TEST_P(BoardFrontEndTest, TheProgramFolderAsWorkingFolderHidesTheProgramsOwnFiles) {
  rig.folder.write("BOARD.TXT", std::string(128, 'b'));
  ASSERT_TRUE(rig.Start(Root(), {{'A', Root() / "diskA"}, {'D', Root() / "diskD"}})) << rig.Note();
  EXPECT_EQ(List(0), (std::vector<std::string>{"BOARD   TXT", "OUTSIDE TXT"}));

  struct Attempt {
    const char* what;
    std::uint8_t type;
    std::string params;
  } attempts[] = {
      {"open the settings", 15, NameBlock(0, "MIRTE   SET")},
      {"open the program", 15, NameBlock(0, "MIRTE      ")},
      {"make the settings", 22, NameBlock(0, "MIRTE   SET")},
      {"delete the settings", 19, NameBlock(0, "MIRTE   SET")},
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
  EXPECT_TRUE(fs::exists(Root() / "BOARD.TXT"));
  EXPECT_FALSE(fs::exists(Root() / "STOLEN.SET"));
}

TEST_P(BoardFrontEndTest, AFileLockedByAnotherProgramFailsUntilTheLockIsGone) {
  StartOnWork();
  const std::string file = (Root() / "work/W1.TXT").string();
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

TEST_P(BoardFrontEndTest, DrivesOnTheSystemsOwnFoldersStandForNoDrive) {
  StartOnWork({{'E', "/"}, {'F', "/proc"}, {'G', "/proc/self/root"}, {'H', "/run"}, {'I', "/dev"}, {'J', "/sys/kernel"}});
  EXPECT_EQ(Exchange(Frame(24), 2), (Bytes{0x0D, 0x00})) << "still only A, C and D";
  for (std::uint8_t drive = 5; drive <= 10; ++drive) {
    EXPECT_TRUE(List(drive).empty()) << "drive byte " << int(drive);
    EXPECT_EQ(Result(22, NameBlock(drive, "PWNROOT TXT")), 255) << "drive byte " << int(drive);
  }
  Exchange(Frame(14, "\x04"), 0);  // select E:, which is refused: the board stays on C
  EXPECT_EQ(Exchange(Frame(25), 1), Bytes{2});

  // A drive's folder replaced by a link to "/" after it was mapped is caught at the next command.
  ASSERT_EQ(List(4), (std::vector<std::string>{"D1      TXT"}));
  fs::rename(Root() / "diskD", Root() / "diskD-moved");
  fs::create_symlink("/", Root() / "diskD");
  EXPECT_TRUE(List(4).empty());
  EXPECT_EQ(Exchange(Frame(24), 2), (Bytes{0x05, 0x00})) << "A and C";
  EXPECT_FALSE(fs::exists("/PWNROOT.TXT"));
}

TEST_P(BoardFrontEndTest, AReadOnlyFileIsCopiedFromButNeverWritten) {
  rig.folder.write("work/READONLY.TXT", std::string(200, 'r'));
  fs::permissions(Root() / "work/READONLY.TXT", fs::perms::owner_read | fs::perms::group_read);
  StartOnWork();
  const std::string name = NameBlock(0, "READONLYTXT");
  // What a copy program does: open, read to the end, close.
  ASSERT_EQ(Result(15, name), 0);
  Bytes first = Exchange(Frame(20, name), 129);
  ASSERT_EQ(first.size(), 129u);
  EXPECT_EQ(first[0], 0);
  EXPECT_EQ(first[1], 'r');
  Bytes second = Exchange(Frame(20, name), 129);
  ASSERT_EQ(second.size(), 129u);
  EXPECT_EQ(second[0], 0);
  EXPECT_EQ(second[72], 'r');
  EXPECT_EQ(second[73], 0x1A);
  EXPECT_EQ(Exchange(Frame(20, name), 129)[0], 1);
  EXPECT_EQ(Exchange(Frame(35, name), 3), (Bytes{2, 0, 0}));
  // And what a program writing back would do.
  EXPECT_EQ(Result(21, name + Record('w')), 255) << "write";
  EXPECT_EQ(Result(34, name + "\x00\x00"s + Record('w')), 255) << "random write";
  EXPECT_EQ(Result(22, name), 255) << "make";
  EXPECT_EQ(Result(19, name), 255) << "delete";
  EXPECT_EQ(rig.folder.read("work/READONLY.TXT"), Bytes(200, 'r'));
  EXPECT_EQ(Result(23, name + "RENAMED TXT"), 0) << "rename";
  EXPECT_EQ(rig.folder.read("work/RENAMED.TXT"), Bytes(200, 'r'));
}

TEST_P(BoardFrontEndTest, HardLinksToTheProgramsOwnFilesAreNeverServed) {
  rig.folder.write("dosdevices/notes", "n");
  fs::create_hard_link(Root() / "mirte", Root() / "work/PROGRAM.BIN");
  fs::create_hard_link(Root() / "dosdevices/notes", Root() / "work/NOTES.TXT");
  StartOnWork();
  fs::create_hard_link(Root() / "mirte.SET", Root() / "work/SETTINGS.BIN");
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
  EXPECT_TRUE(fs::exists(Root() / "work/SETTINGS.BIN"));
}

TEST_P(BoardFrontEndTest, AFileWithOtherHardLinksIsReadOnlyUnlessTheDriveAllowsIt) {
  fs::create_hard_link(Root() / "OUTSIDE.TXT", Root() / "diskA/LINKED.TXT");
  StartOnWork();
  const std::string name = NameBlock(1, "LINKED  TXT");
  ASSERT_EQ(Result(15, name), 0);
  Bytes read = Exchange(Frame(20, name), 129);
  ASSERT_EQ(read.size(), 129u);
  EXPECT_EQ(read[1], 'o');
  EXPECT_EQ(Result(34, name + "\x00\x00"s + Record('w')), 255) << "random write";
  EXPECT_EQ(Result(21, name + Record('w')), 255) << "write";
  EXPECT_EQ(Result(22, name), 255) << "make (truncate)";
  EXPECT_EQ(Result(19, name), 255) << "delete";
  EXPECT_EQ(Result(30, NameBlock(1, "LINKED  \xD4XT")), 255) << "attributes";
  EXPECT_EQ(rig.folder.read("OUTSIDE.TXT"), Bytes{'o'});

  TDriveOptions options;
  options.SetLinksWritable('A', true);
  ASSERT_TRUE(SaveDriveOptions(DriveOptionsPath((Root() / "mirte.SET").string()), options));
  ASSERT_EQ(Result(15, name), 0);
  EXPECT_EQ(Result(21, name + Record('w')), 0);
  EXPECT_EQ(rig.folder.read("OUTSIDE.TXT").size(), 128u);
}

// The board sends a run of reads and then reads nothing for a while: more replies are due
// than the line holds, so the program's writes wait. Once the board reads again every
// reply comes, whole and in order.
TEST_P(BoardFrontEndTest, RepliesHeldUpWhileTheBoardDoesNotReadAllArriveInOrder) {
  constexpr int kRecords = 608;  // 76 KB of replies, more than a pseudo-terminal holds
  std::string contents;
  for (int i = 0; i < kRecords * 128; ++i) contents += static_cast<char>((i * 7 + i / 128) & 0xFF);
  rig.folder.write("work/BIG.DAT", contents);
  StartOnWork();
  const std::string name = NameBlock(0, "BIG     DAT");
  std::string frames = Frame(15, name);
  for (int i = 0; i < kRecords; ++i) frames += Frame(20, name);

  Bytes expected{0};
  for (int i = 0; i < kRecords; ++i) {
    expected.push_back(0);
    expected.insert(expected.end(), contents.begin() + i * 128, contents.begin() + (i + 1) * 128);
  }
  Bytes replies;
  rig.PlayBoard([&] {
    rig.board->write(frames);
    std::this_thread::sleep_for(300ms);
    replies = rig.board->read(expected.size(), 10000ms);
  });
  ASSERT_EQ(replies.size(), expected.size());
  EXPECT_TRUE(replies == expected) << "a reply lost, cut or out of order";
  EXPECT_EQ(Exchange(Frame(25), 1), Bytes{2}) << "and the line is served as before";
}

// A frame cut off by the unplug, the device away for a while, a new one under the same
// name: the program waits at next to no cost, opens it by itself and serves it afresh.
TEST_P(BoardFrontEndTest, AnUnpluggedBoardIsWaitedForCheaplyAndServedAgainWhenBack) {
  StartOnWork();
  rig.FrontEnd().ExpectShownServing();
  rig.Send(std::string("\x10\x11\x0F\x00HA", 6));
  rig.RunFor(300ms);
  rig.Unplug();
  ASSERT_TRUE(rig.RunUntil([&] { return rig.FrontEnd().PortLost(); }));
  rig.FrontEnd().ExpectShownLost();

  const double cpuBefore = rig.FrontEnd().CpuSeconds();
  const auto wall = std::chrono::steady_clock::now();
  rig.RunFor(1000ms);
  const double cpu = rig.FrontEnd().CpuSeconds() - cpuBefore;
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - wall).count();
  EXPECT_LT(cpu, 0.02 * seconds) << "processor time while the device is away";
  RecordProperty("lost_cpu_ms_per_s", static_cast<int>(cpu * 1000 / seconds));

  rig.Replug();
  const auto replugged = std::chrono::steady_clock::now();
  ASSERT_TRUE(rig.RunUntil([&] { return !rig.FrontEnd().PortLost(); }, 3000ms)) << "the port is back within 3 s";
  RecordProperty("back_after_ms", static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                                       std::chrono::steady_clock::now() - replugged).count()));
  rig.FrontEnd().ExpectShownServing();
  rig.RunFor(100ms);
  rig.board->readUntilQuiet(20ms);
  EXPECT_EQ(Result(22, NameBlock(0, "NEWFILE TXT")), 0) << "a fresh frame gets its reply";
  EXPECT_TRUE(fs::exists(Root() / "work/NEWFILE.TXT")) << "the cut frame did not swallow the new one";
}

// One board session played on both programs in turn, with every kind of file frame and a
// few the board gets wrong: each reply and the files left behind must be the same bytes.
TEST(BothProgramsTest, AnswerTheSameSessionWithTheSameBytes) {
  struct Step {
    std::string frame;
    std::size_t reply;
  };
  const std::string name = NameBlock(0, "SAME    DAT"), other = NameBlock(0, "OTHER   DAT");
  const std::vector<Step> steps = {
      {Frame(24), 2},
      {Frame(25), 1},
      {Frame(15, name), 1},  // open before the file exists
      {Frame(22, name), 1},
      {Frame(21, name + Record('1')), 1},
      {Frame(21, name + Record('2')), 1},
      {Frame(34, name + "\x05\x00"s + Record('5')), 1},
      {Frame(16, name), 1},
      {Frame(35, name), 3},
      {Frame(15, name), 1},
      {Frame(20, name), 129},
      {Frame(33, name + "\x03\x00"s), 129},  // a record inside the file never written
      {Frame(33, name + "\x09\x00"s), 129},  // past its end
      {Frame(20, name), 129},
      {Frame(17, NameBlock(0, "???????????")), 13},
      {Frame(18, NameBlock(0, "???????????")), 13},
      {Frame(18, NameBlock(0, "???????????")), 13},
      {Frame(23, name + "OTHER   DAT"), 1},
      {Frame(23, name + "OTHER   DAT"), 1},  // renamed already
      {Frame(30, other), 1},
      {Frame(14, "\x07"), 0},  // a drive that does not exist
      {Frame(25), 1},
      {Frame(7) + "text", 0},  // a type nobody serves: dropped, the text shown
      {Frame(22, NameBlock(0, "BAD*NAMEDAT")), 1},
      {Frame(19, NameBlock(0, "NOSUCH  DAT")), 1},
      {Frame(35, other), 3},
      {Frame(19, other), 1},
      {Frame(17, NameBlock(0, "???????????")), 13},
  };
  std::map<TFrontEndKind, std::vector<Bytes>> replies;
  std::map<TFrontEndKind, std::map<std::string, Bytes>> files;
  for (TFrontEndKind kind : {TFrontEndKind::Window, TFrontEndKind::Serve}) {
    SCOPED_TRACE(testing::FrontEndName(kind));
    testing::BoardRig rig(kind == TFrontEndKind::Window ? testing::MakeWindowFrontEnd()
                                                        : testing::MakeServeFrontEnd(MIRTE_SERVE));
    rig.folder.write("work/KEPT.TXT", "kept");
    ASSERT_TRUE(rig.Start(rig.folder / "work")) << rig.Note();
    for (const Step& step : steps) {
      replies[kind].push_back(rig.Exchange(step.frame, step.reply));
      if (step.reply == 0) rig.RunFor(50ms);
      EXPECT_EQ(replies[kind].back().size(), step.reply) << "frame type " << int(step.frame[2]);
    }
    EXPECT_TRUE(rig.board->readUntilQuiet(50ms).empty()) << "no reply beyond those due";
    for (const auto& entry : fs::directory_iterator(rig.folder / "work"))
      files[kind][entry.path().filename().string()] = testing::readFileBytes(entry.path());
  }
  ASSERT_EQ(replies[TFrontEndKind::Window].size(), steps.size());
  ASSERT_EQ(replies[TFrontEndKind::Serve].size(), steps.size());
  for (std::size_t i = 0; i < steps.size(); ++i)
    EXPECT_EQ(replies[TFrontEndKind::Window][i], replies[TFrontEndKind::Serve][i])
        << "step " << i << ", frame type " << int(steps[i].frame[2]);
  EXPECT_EQ(files[TFrontEndKind::Window], files[TFrontEndKind::Serve]);
  EXPECT_EQ(files[TFrontEndKind::Serve].size(), 1u) << "only KEPT.TXT is left";
  // Alike could still mean alike in failing: the session did what a board meant it to.
  const std::vector<Bytes>& served = replies[TFrontEndKind::Serve];
  EXPECT_EQ(served[4], Bytes{0}) << "written";
  EXPECT_EQ(served[8], (Bytes{6, 0, 0})) << "six records long";
  ASSERT_EQ(served[10].size(), 129u);
  EXPECT_EQ(served[10][0], 0);
  EXPECT_EQ(served[10][1], '1');
  EXPECT_EQ(served[17], Bytes{0}) << "renamed";
  EXPECT_EQ(served[18], Bytes{255}) << "renamed already";
}

INSTANTIATE_TEST_SUITE_P(BothPrograms, BoardFrontEndTest, ::testing::Values(TFrontEndKind::Window, TFrontEndKind::Serve),
                         [](const ::testing::TestParamInfo<TFrontEndKind>& info) {
                           return std::string(testing::FrontEndName(info.param));
                         });

}  // namespace
}  // namespace mirte
