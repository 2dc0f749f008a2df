#include "support/board_front_end.h"

#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <thread>

#include "common/settings.h"
#include "support/serve_process.h"

namespace mirte::testing {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

// The COM number the window reaches the board by; mirte-serve is given the device itself.
constexpr int kBoardCom = 49;

// mirte-serve started in the program folder, so that the window's program file there is
// its own: it is linked in under a hidden name, which the board never sees.
class ServeFrontEnd final : public IBoardFrontEnd {
public:
  explicit ServeFrontEnd(std::string program) : program(std::move(program)) {}

  bool Start(const TFrontEndSetUp& setUp, std::string& why) override {
    const fs::path self = setUp.ProgramFolder / ".mirte-serve";
    std::error_code fault;
    if (!fs::exists(self)) {
      fs::create_hard_link(program, self, fault);
      if (fault) fs::copy_file(program, self, fault);
      if (fault) {
        why = "mirte-serve not placed in the program folder: " + fault.message();
        return false;
      }
    }
    fs::create_directories(setUp.ProgramFolder / ".home");
    fs::create_directories(setUp.ProgramFolder / ".config");
    std::vector<std::string> args{"--settings",      (setUp.ProgramFolder / "mirte.SET").string(),
                                  "--device",        setUp.Device.string(),
                                  "--folder",        setUp.WorkFolder.string(),
                                  "--print-to-pdf",  setUp.WorkFolder.string(),
                                  "--console-stdio"};
    for (const auto& [letter, folder] : setUp.Drives) {
      args.push_back("--drive");
      args.push_back(std::string(1, letter) + "=" + folder.string());
    }
    console.clear();
    process = std::make_unique<ServeProcess>(
        self.string(), args, true,
        std::vector<std::pair<std::string, std::string>>{{"HOME", (setUp.ProgramFolder / ".home").string()},
                                                         {"XDG_CONFIG_HOME", (setUp.ProgramFolder / ".config").string()}});
    if (!process->Serving()) {
      why = "mirte-serve did not come up: " + process->Errors();
      return false;
    }
    return true;
  }
  void Turn() override { std::this_thread::sleep_for(1ms); }
  void Idle(std::chrono::milliseconds time) override { std::this_thread::sleep_for(time); }
  void RunBesides(const std::function<void()>& board) override { board(); }
  std::string Console() override {
    for (;;) {
      pollfd ready{process->Out(), POLLIN, 0};
      if (::poll(&ready, 1, 0) <= 0) break;
      char chunk[512];
      const ssize_t got = ::read(process->Out(), chunk, sizeof chunk);
      if (got <= 0) break;
      console.append(chunk, static_cast<std::size_t>(got));
    }
    return console;
  }
  bool PortLost() override {
    const std::string& said = process->ErrorsSoFar();
    const auto lost = said.rfind("went away"), back = said.rfind("is back");
    return lost != std::string::npos && (back == std::string::npos || back < lost);
  }
  double CpuSeconds() override { return process->CpuSeconds(); }
  void ExpectShownLost() override {
    EXPECT_NE(process->ErrorsSoFar().find("mirte-serve: COM50 went away; waiting for it\n"), std::string::npos)
        << process->Errors();
  }
  void ExpectShownServing() override {
    EXPECT_FALSE(PortLost()) << process->Errors();
    EXPECT_NE(process->Errors().find("mirte-serve: serving COM50"), std::string::npos) << process->Errors();
  }
  void Stop() override {
    if (!process) return;
    process->Signal(SIGTERM);
    // Not timed here: the serve program tests hold the ending to its second.
    EXPECT_EQ(process->Wait(10000ms), 0) << process->Errors();
    process.reset();
  }

private:
  std::string program;
  std::unique_ptr<ServeProcess> process;
  std::string console;
};

}  // namespace

std::unique_ptr<IBoardFrontEnd> MakeServeFrontEnd(const std::string& program) {
  return std::make_unique<ServeFrontEnd>(program);
}

const char* FrontEndName(TFrontEndKind kind) { return kind == TFrontEndKind::Window ? "Window" : "Serve"; }

BoardRig::BoardRig(std::unique_ptr<IBoardFrontEnd> end) : frontEnd(std::move(end)) {
  // The line hides in a folder of its own, so that a program folder served as the working
  // folder shows the board nothing of it.
  fs::create_directories(folder / ".line");
  fs::create_directories(folder / "dosdevices");
  folder.write("mirte", "\x7f" "ELF program");
  device = folder / ".line" / "board";
  LinkDevice(board->slavePath());
}

BoardRig::~BoardRig() { Stop(); }

void BoardRig::LinkDevice(const fs::path& target) {
  std::error_code ignored;
  fs::remove(device, ignored);
  fs::create_symlink(target, device);
}

bool BoardRig::Start(const fs::path& work, std::vector<std::pair<char, fs::path>> drives) {
  TSettings settings;
  settings.ProgramFolder = folder.path().string() + "/";
  settings.SettingsPath = (folder / "mirte.SET").string();
  settings.SetDefaultSettings();
  settings.Rec.ComNumber = kBoardCom;
  settings.SetWorkFolder(work.string());
  settings.SaveSettings();
  const TFrontEndSetUp setUp{folder.path(), device, work, std::move(drives)};
  note.clear();
  started = frontEnd->Start(setUp, note);
  if (!started) return false;
  // The start's own traffic (DTR, a console reset) dies away before the test speaks.
  RunFor(100ms);
  board->readUntilQuiet(20ms);
  return true;
}

void BoardRig::Stop() {
  if (!started) return;
  started = false;
  frontEnd->Stop();
}

void BoardRig::Send(const std::vector<std::uint8_t>& bytes) {
  // The pty takes a few kilobytes at a time; the window must handle its events to take more.
  for (std::size_t from = 0; from < bytes.size(); from += 1024) {
    board->write(std::vector<std::uint8_t>(bytes.begin() + static_cast<std::ptrdiff_t>(from),
                                           bytes.begin() + static_cast<std::ptrdiff_t>(std::min(bytes.size(), from + 1024))));
    frontEnd->Turn();
  }
}

void BoardRig::Send(const std::string& bytes) { Send(std::vector<std::uint8_t>(bytes.begin(), bytes.end())); }

std::vector<std::uint8_t> BoardRig::Reply(std::size_t count, std::chrono::milliseconds limit) {
  std::vector<std::uint8_t> got;
  const auto end = Clock::now() + limit;
  while (got.size() < count && Clock::now() < end) {
    frontEnd->Turn();
    const auto chunk = board->read(count - got.size(), 2ms);
    got.insert(got.end(), chunk.begin(), chunk.end());
  }
  return got;
}

std::vector<std::uint8_t> BoardRig::Exchange(const std::string& bytes, std::size_t replySize) {
  Send(bytes);
  return Reply(replySize);
}

void BoardRig::RunFor(std::chrono::milliseconds time) { frontEnd->Idle(time); }

bool BoardRig::RunUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
  const auto end = Clock::now() + limit;
  while (!done()) {
    if (Clock::now() >= end) return false;
    frontEnd->Turn();
  }
  return true;
}

void BoardRig::Unplug() {
  board.reset();
  LinkDevice(folder / ".line" / "unplugged");
}

void BoardRig::Replug() {
  board = std::make_unique<PtyPair>();
  LinkDevice(board->slavePath());
}

}  // namespace mirte::testing
