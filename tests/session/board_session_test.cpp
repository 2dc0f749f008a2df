// One board session on its own, as either front end starts it: the settings of a program
// folder, its COM link to a pseudo-terminal, the board's console reaching the session's
// screen and the front end's console tap, and a port that will not open.
#include "session/board_session.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "serial/plain_main_thread_queue.h"
#include "support/fake_board_window.h"
#include "support/pty_pair.h"
#include "support/temp_folder.h"
#include "terminal/console_text.h"

namespace mirte {
namespace {

using namespace std::chrono_literals;

// The fake window answers with the session's flags, as both real front ends do.
struct SessionView : testing::FakeBoardWindow, ISessionEvents, IConsoleTap {
  TBoardSession* session = nullptr;
  int lost = 0;
  std::string console;
  TShellFlags& Flags() override { return session->Flags; }
  void DeviceLost() override { ++lost; }
  void DeviceBack() override {}
  void ConsoleOutput(std::uint8_t byte) override { console.push_back(static_cast<char>(byte)); }
};

class BoardSessionTest : public ::testing::Test {
protected:
  testing::TempFolder folder;
  testing::PtyPair board;
  SessionView view;
  TPlainMainThreadQueue* queue = nullptr;
  std::unique_ptr<TBoardSession> session;

  void Start(const std::filesystem::path& device) {
    std::filesystem::create_directories(folder / "work");
    std::filesystem::create_directories(folder / "dosdevices");
    std::filesystem::create_symlink(device, folder / "dosdevices" / "com49");
    TSettings settings;
    settings.ProgramFolder = folder.path().string() + "/";
    settings.SettingsPath = (folder / "mirte.SET").string();
    settings.SetDefaultSettings();
    settings.Rec.ComNumber = 49;
    settings.SetWorkFolder((folder / "work").string());
    settings.SaveSettings();

    auto plain = std::make_unique<TPlainMainThreadQueue>();
    queue = plain.get();
    const std::string program = (folder / "mirte").string();
    session = std::make_unique<TBoardSession>(SettingsBesideProgram(program), program, std::move(plain), view, view,
                                              nullptr);
    view.session = session.get();
    session->Board().SetReplyDelay(0us);
    session->LoadSettings();
    session->SetTermImp();
    session->StartBoard();
  }
};

TEST_F(BoardSessionTest, ServesTheBoardOnTheSettingsPortWithoutMovingTheProcessFolder) {
  const auto before = std::filesystem::current_path();
  Start(board.slavePath());
  ASSERT_FALSE(session->Flags.ComNotAvailable);
  EXPECT_EQ(std::filesystem::current_path(), before);
  EXPECT_EQ(session->Board().FileService().Drives().WorkingFolder(), (folder / "work").string());

  session->Board().SetConsoleTap(&view);
  board.write(std::string("HELLO\x10\x11\x19" "AGAIN"));
  EXPECT_TRUE(queue->PumpUntil([&] { return view.console.size() >= 10; }, 3000ms));
  EXPECT_EQ(view.console, "HELLOAGAIN") << "the frame between the texts never reaches the console";
  EXPECT_EQ(board.read(1, 1000ms).size(), 1u) << "the frame is answered";
  EXPECT_NE(ConsoleText(session->Screen()).find("HELLOAGAIN"), std::string::npos);

  session->SendToPort("dir\r");
  EXPECT_EQ(board.read(4, 1000ms), (std::vector<std::uint8_t>{'d', 'i', 'r', '\r'}));
}

TEST_F(BoardSessionTest, APortThatDoesNotOpenSaysWhyAndTakesNoKeys) {
  Start(folder / "ttyGONE");
  EXPECT_TRUE(session->Flags.ComNotAvailable);
  EXPECT_EQ(session->PortFault.Fault, TPortFault::Missing);
  EXPECT_EQ(session->PortFault.ComNumber, 49);
  session->SendToPort("lost keys");
  session->Terminate();
  session->Terminate();
}

TEST_F(BoardSessionTest, ABoardUnpluggedIsAbandonedMidFrameAndTheFrontEndIsTold) {
  Start(board.slavePath());
  board.write(std::string("\x10\x11\x0F"));
  queue->PumpFor(100ms);
  board.closeMaster();
  EXPECT_TRUE(queue->PumpUntil([&] { return view.lost > 0; }, 3000ms));
  EXPECT_TRUE(session->PortLost());
  EXPECT_TRUE(session->Flags.ComNotAvailable);
  EXPECT_EQ(session->Board().GetState(), TBoardService::Console);
  EXPECT_FALSE(session->RetryPort()) << "the device is not back";
}

}  // namespace
}  // namespace mirte
