// What a board may reach when the working folder changes under a running service, played
// as a hostile peer over a pseudo-terminal: a folder that is or becomes the root stands for
// no drive. The rules a board meets with a set-up fixed at the start are played against
// both programs in tests/serve/front_ends_test.cpp.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/board_frames.h"
#include "support/port_service_fixture.h"

namespace mirte {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;
using testing::Frame;
using testing::NameBlock;

// A program folder with its executable, settings file and dosdevices/ (A and D mapped), a
// working folder, and files beside them that no drive stands for.
class DriveRulesTest : public testing::PortServiceFixture {
protected:
  DriveRulesTest() : PortServiceFixture("mirte", "mirte.SET") {
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
    Serve();
  }

  std::uint8_t Result(std::uint8_t type, std::string_view params) { return testing::ResultOf(Exchanger(), type, params); }
  // Every name the board is shown on the drive the drive byte names.
  std::vector<std::string> List(std::uint8_t drive) { return testing::ListNames(Exchanger(), drive); }
};

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

}  // namespace
}  // namespace mirte
