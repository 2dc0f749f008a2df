// What a board may reach when the working folder changes under a running service, played
// as a hostile peer over a pseudo-terminal: a folder that is or becomes the root stands for
// no drive. The rules a board meets with a set-up fixed at the start are played against
// both programs in tests/serve/front_ends_test.cpp.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "board/board_service.h"
#include "session/com_port_link.h"
#include "serial/port_rig.h"
#include "support/fake_board_window.h"
#include "terminal/terminal_buffer.h"

namespace mirte {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using namespace std::string_literals;
using Bytes = std::vector<std::uint8_t>;

std::string Frame(std::uint8_t type, std::string_view params = {}) {
  return "\x10\x11"s + static_cast<char>(type) + std::string(params);
}

std::string NameBlock(std::uint8_t drive, std::string_view fcb) {
  return std::string(1, static_cast<char>(drive)) + std::string(fcb);
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
