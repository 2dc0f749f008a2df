// The board target's sandbox is its oracle: it must see every change outside the drives,
// whatever way it was made, and put the drives back exactly, while it only looks through
// descriptors held open for the whole process, and only where its folder watches saw news.
#include "fuzz_board_parts.h"
#include "platform/dos_folder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace mirte::fuzzing {
namespace {

namespace fs = std::filesystem;

std::string Read(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void Append(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary | std::ios::app) << text;
}

TEST(BoardSandboxTest, SeesEveryKindOfChangeOutsideTheDrives) {
  struct TCase {
    const char* name;
    void (*change)(const std::string& root);
  };
  const TCase cases[] = {
      {"file above the drives written", [](const std::string& r) { Append(r + "/SECRET.TXT", "x"); }},
      {"file replaced under its name",
       [](const std::string& r) {
         Append(r + "/NEW.TXT", "outside");
         fs::rename(r + "/NEW.TXT", r + "/SECRET.TXT");
       }},
      {"file removed", [](const std::string& r) { fs::remove(r + "/outside/TARGET.TXT"); }},
      {"mode changed", [](const std::string& r) { ::chmod((r + "/outside/TARGET.TXT").c_str(), 0600); }},
      {"link's target written through the link", [](const std::string& r) { Append(r + "/work/LINK.TXT", "x"); }},
      {"file added to a subfolder of drive C", [](const std::string& r) { Append(r + "/work/SUBDIR/NEW", "x"); }},
      {"drive folder moved away", [](const std::string& r) { fs::rename(r + "/drive-b", r + "/drive-z"); }},
  };
  for (const auto& c : cases) {
    BoardSandbox sandbox;
    ASSERT_TRUE(sandbox.OutsideUntouched()) << c.name;
    c.change(sandbox.Root());
    sandbox.TakeNews();
    EXPECT_FALSE(sandbox.OutsideUntouched()) << c.name;
  }
}

// A sandbox the file service refuses (a folder below /dev, say) fuzzes no file command at
// all while every oracle still holds.
TEST(BoardSandboxTest, MakesDrivesTheFileServiceServes) {
  BoardSandbox sandbox;
  for (int drive = 0; drive < 3; ++drive) EXPECT_FALSE(IsRefusedRoot(sandbox.Drive(drive))) << drive;
}

bool MountedHere(const std::string& source) {
  std::ifstream mounts("/proc/self/mountinfo");
  for (std::string line; std::getline(mounts, line);)
    if (line.find(" " + source + " ") != std::string::npos) return true;
  return false;
}

// In a process of its own, as the target makes it: a tmpfs where the process may mount
// one, seen by no other process, and still served with the scripts' TMPDIR in /dev/shm;
// on the disk where it may not, served all the same.
TEST(BoardSandboxTest, KeepsItsDrivesInAFileSystemOfItsOwnWhereItMayMountOne) {
  EXPECT_EXIT(
      {
        ::setenv("TMPDIR", "/dev/shm", 1);
        bool served = true;
        {
          BoardSandbox sandbox(ScratchFolder::kServedDrivesInMemory);
          for (int drive = 0; drive < 3; ++drive) served = served && !IsRefusedRoot(sandbox.Drive(drive));
          struct statfs fs {};
          constexpr long kTmpfs = 0x01021994;
          if (sandbox.InOwnMemory())
            served = served && ::statfs(sandbox.Root().c_str(), &fs) == 0 && fs.f_type == kTmpfs &&
                     MountedHere("mirte-fuzz");
        }
        std::exit(served ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
  EXPECT_FALSE(MountedHere("mirte-fuzz"));
}

TEST(BoardSandboxTest, TellsWhichDrivesAnInputTouched) {
  struct TCase {
    const char* name;
    void (*change)(const BoardSandbox& sandbox);
    std::array<bool, 3> touched;  // drives C, A, B
  };
  const TCase cases[] = {
      {"a seed file read", [](const BoardSandbox& s) { (void)Read(s.Drive(1) + "/SEED.TXT"); }, {false, false, false}},
      {"a seed file written in drive A", [](const BoardSandbox& s) { Append(s.Drive(1) + "/SEED.TXT", "x"); },
       {false, true, false}},
      {"a file made in drive B", [](const BoardSandbox& s) { Append(s.Drive(2) + "/NEW.TXT", "x"); },
       {false, false, true}},
      {"a mode changed in drive C", [](const BoardSandbox& s) { ::chmod((s.Drive(0) + "/RO.DAT").c_str(), 0644); },
       {true, false, false}},
      {"a file renamed in drive C and one removed in drive B",
       [](const BoardSandbox& s) {
         fs::rename(s.Drive(0) + "/SEED.TXT", s.Drive(0) + "/OTHER.TXT");
         fs::remove(s.Drive(2) + "/A Long Name.text");
       },
       {true, false, true}},
      {"a seed file emptied in drive A", [](const BoardSandbox& s) { fs::resize_file(s.Drive(1) + "/SEED.TXT", 0); },
       {false, true, false}},
      {"a folder made in drive B, with a file in it",
       [](const BoardSandbox& s) {
         fs::create_directory(s.Drive(2) + "/NEW");
         Append(s.Drive(2) + "/NEW/INNER.TXT", "x");
       },
       {false, false, true}},
      {"a seed file replaced by a copy under its name in drive A",
       [](const BoardSandbox& s) {
         fs::copy_file(s.Drive(1) + "/RO.DAT", s.Drive(1) + "/COPY.DAT");
         fs::rename(s.Drive(1) + "/COPY.DAT", s.Drive(1) + "/RO.DAT");
       },
       {false, true, false}},
  };
  BoardSandbox sandbox;
  for (const auto& c : cases) {
    c.change(sandbox);
    sandbox.TakeNews();
    for (int drive = 0; drive < 3; ++drive)
      EXPECT_EQ(sandbox.DriveTouched(drive), c.touched[std::size_t(drive)]) << c.name << ", drive " << drive;
    EXPECT_TRUE(sandbox.OutsideUntouched()) << c.name;
    EXPECT_EQ(sandbox.RestoreDrives(), c.touched) << c.name << ": the drives the restore changed";
    for (int drive = 0; drive < 3; ++drive) EXPECT_FALSE(sandbox.DriveTouched(drive)) << c.name << " restored";
  }
  EXPECT_EQ(Read(sandbox.Drive(1) + "/SEED.TXT"), std::string(200, 's'));
  EXPECT_TRUE(fs::exists(sandbox.Drive(0) + "/SEED.TXT"));
  EXPECT_FALSE(fs::exists(sandbox.Drive(0) + "/OTHER.TXT"));
  EXPECT_FALSE(fs::exists(sandbox.Drive(2) + "/NEW"));
}

// News of a drive that the input itself took back leaves the restore nothing to do.
TEST(BoardSandboxTest, ChangesNothingAnInputUndidItself) {
  BoardSandbox sandbox;
  const std::string a = sandbox.Drive(1);
  Append(a + "/GONE.TXT", "x");
  fs::remove(a + "/GONE.TXT");
  fs::rename(a + "/SEED.TXT", a + "/AWAY.TXT");
  fs::rename(a + "/AWAY.TXT", a + "/SEED.TXT");
  sandbox.TakeNews();
  EXPECT_TRUE(sandbox.DriveTouched(1));
  EXPECT_EQ(sandbox.RestoreDrives(), (std::array<bool, 3>{false, false, false}));
}

// More events than the queue holds: the names of the last are lost, so the restore looks
// at every name of every drive, and the outside check at every sentinel.
TEST(BoardSandboxTest, PutsBackEverythingAfterTheQueueOverflowed) {
  BoardSandbox sandbox;
  const std::string c = sandbox.Drive(0);
  const std::string b = sandbox.Drive(2);
  // Events in turn on two names outside the drives, which the kernel cannot merge; each
  // file ends with the mode it had.
  const std::string outside[] = {sandbox.Root() + "/SECRET.TXT", sandbox.Root() + "/outside/TARGET.TXT"};
  for (int i = 0; i < 9000; ++i)
    for (const auto& path : outside) ::chmod(path.c_str(), (i & 1) ? 0644 : 0600);
  Append(b + "/ADDED.TXT", "new");
  ::chmod((c + "/RO.DAT").c_str(), 0644);
  sandbox.TakeNews();
  for (int drive = 0; drive < 3; ++drive) EXPECT_TRUE(sandbox.DriveTouched(drive)) << drive;
  EXPECT_TRUE(sandbox.OutsideUntouched());
  EXPECT_EQ(sandbox.RestoreDrives(), (std::array<bool, 3>{true, false, true}));
  EXPECT_FALSE(fs::exists(b + "/ADDED.TXT"));
  EXPECT_EQ(fs::status(c + "/RO.DAT").permissions() & fs::perms::all, fs::perms(0444));
  EXPECT_TRUE(fs::exists(c + "/LINK.TXT") || fs::is_symlink(c + "/LINK.TXT"));
  EXPECT_TRUE(fs::exists(c + "/SUBDIR/INNER.TXT"));
}

TEST(BoardSandboxTest, PutsBackWhatAnInputChangedInTheDrives) {
  BoardSandbox sandbox;
  const std::string c = sandbox.Drive(0);
  const std::string a = sandbox.Drive(1);
  const std::string seed = Read(c + "/SEED.TXT");
  for (int round = 0; round < 3; ++round) {
    Append(c + "/SEED.TXT", "more");
    fs::rename(a + "/RO.DAT", a + "/MOVED.DAT");
    Append(sandbox.Drive(2) + "/ADDED.TXT", "new");
    fs::remove(c + "/A Long Name.text");
    sandbox.TakeNews();
    EXPECT_TRUE(sandbox.OutsideUntouched());
    sandbox.RestoreDrives();
    EXPECT_EQ(Read(c + "/SEED.TXT"), seed) << round;
    EXPECT_TRUE(fs::exists(c + "/A Long Name.text")) << round;
    EXPECT_TRUE(fs::exists(a + "/RO.DAT")) << round;
    EXPECT_FALSE(fs::exists(a + "/MOVED.DAT")) << round;
    EXPECT_FALSE(fs::exists(sandbox.Drive(2) + "/ADDED.TXT")) << round;
    EXPECT_TRUE(fs::exists(c + "/SUBDIR/INNER.TXT")) << round;
    EXPECT_TRUE(sandbox.OutsideUntouched()) << round;
  }
  // A file written in place, with no name in its folder changed, is caught by the event
  // that names it.
  ASSERT_EQ(::truncate((a + "/SEED.TXT").c_str(), 0), 0);
  sandbox.TakeNews();
  sandbox.RestoreDrives();
  EXPECT_EQ(Read(a + "/SEED.TXT"), seed);
}

}  // namespace
}  // namespace mirte::fuzzing
