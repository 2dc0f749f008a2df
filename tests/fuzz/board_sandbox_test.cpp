// The board target's sandbox is its oracle: it must see every change outside the drives,
// whatever way it was made, and put the drives back exactly, while it only looks through
// descriptors held open for the whole process.
#include "fuzz_board_parts.h"
#include "platform/dos_folder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

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
    EXPECT_FALSE(sandbox.OutsideUntouched()) << c.name;
  }
}

// A sandbox the file service refuses (a folder below /dev, say) fuzzes no file command at
// all while every oracle still holds.
TEST(BoardSandboxTest, MakesDrivesTheFileServiceServes) {
  BoardSandbox sandbox;
  for (int drive = 0; drive < 3; ++drive) EXPECT_FALSE(IsRefusedRoot(sandbox.Drive(drive))) << drive;
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
  // A file written in place, with no name in its folder changed, is caught by its held
  // descriptor alone.
  ASSERT_EQ(::truncate((a + "/SEED.TXT").c_str(), 0), 0);
  sandbox.RestoreDrives();
  EXPECT_EQ(Read(a + "/SEED.TXT"), seed);
}

}  // namespace
}  // namespace mirte::fuzzing
