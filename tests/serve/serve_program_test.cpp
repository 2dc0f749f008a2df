// mirte-serve as a rig runs it: the program started with its options, a scripted board on
// the master side of a pseudo-terminal, and the files, PDFs and console it leaves behind.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "common/settings.h"
#include "support/board_frames.h"
#include "support/pty_pair.h"
#include "support/serve_process.h"
#include "support/temp_folder.h"

namespace mirte {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;
using testing::bytes::Frame;
using testing::bytes::ListOutput;
using testing::bytes::NameBlock;
using testing::bytes::Plus;

// How long an ending the test does not time may take on a loaded machine before it counts
// as not ending at all.
constexpr auto kExitLimit = 10000ms;

using testing::ReadUntil;

// The built program with some options.
class ServeProcess : public testing::ServeProcess {
public:
  explicit ServeProcess(const std::vector<std::string>& args, bool stdio = false)
      : testing::ServeProcess(MIRTE_SERVE, args, stdio) {}
};

class ServeProgramTest : public ::testing::Test {
protected:
  testing::TempFolder folder;
  testing::PtyPair board;

  std::string SettingsFile() {
    TSettings settings;
    settings.ProgramFolder = folder.path().string() + "/";
    settings.SetDefaultSettings();
    const std::string path = (folder / "rig.SET").string();
    std::FILE* file = std::fopen(path.c_str(), "wb");
    std::fwrite(&settings.Rec, sizeof settings.Rec, 1, file);
    std::fclose(file);
    return path;
  }
  std::vector<std::string> RigOptions() {
    return {"--settings", SettingsFile(), "--device", board.slavePath(), "--folder", folder.path().string()};
  }
  Bytes Exchange(const Bytes& frame, std::size_t replySize) {
    board.write(frame);
    return board.read(replySize, 3000ms);
  }
  std::vector<std::filesystem::path> Pdfs() {
    std::vector<std::filesystem::path> found;
    for (const auto& entry : std::filesystem::directory_iterator(folder.path()))
      if (entry.path().extension() == ".pdf") found.push_back(entry.path());
    return found;
  }
  static std::string PdfText(const std::filesystem::path& pdf) {
    std::string text;
    if (std::FILE* out = ::popen(("pdftotext -layout '" + pdf.string() + "' - 2>/dev/null").c_str(), "r")) {
      char chunk[512];
      while (std::size_t got = std::fread(chunk, 1, sizeof chunk, out)) text.append(chunk, got);
      ::pclose(out);
    }
    return text;
  }
};

TEST_F(ServeProgramTest, ServesAFileWrittenReadBackRenamedAndDeletedAndReportsEachFrame) {
  auto options = RigOptions();
  options.push_back("--frames");
  ServeProcess serve(options);
  ASSERT_TRUE(serve.Serving()) << serve.Errors();
  board.readUntilQuiet(50ms);
  const Bytes made = NameBlock("NEW", "DAT");
  const Bytes record(128, 'w');
  EXPECT_EQ(Exchange(Frame(22, made), 1), Bytes{0}) << "make";
  EXPECT_EQ(Exchange(Frame(21, made, record), 1), Bytes{0}) << "write";
  EXPECT_EQ(Exchange(Frame(16, made), 1), Bytes{0}) << "close";
  EXPECT_EQ(folder.read("NEW.DAT"), record);

  EXPECT_EQ(Exchange(Frame(15, made), 1), Bytes{0}) << "open";
  EXPECT_EQ(Exchange(Frame(20, made), 129), Plus({0}, record)) << "read back";
  EXPECT_EQ(Exchange(Frame(16, made), 1), Bytes{0});

  const Bytes renamed = Plus(made, {'O', 'L', 'D', ' ', ' ', ' ', ' ', ' ', 'D', 'A', 'T'});
  EXPECT_EQ(Exchange(Frame(23, renamed), 1), Bytes{0}) << "rename";
  EXPECT_FALSE(std::filesystem::exists(folder / "NEW.DAT"));
  EXPECT_EQ(Exchange(Frame(19, NameBlock("OLD", "DAT")), 1), Bytes{0}) << "delete";
  EXPECT_FALSE(std::filesystem::exists(folder / "OLD.DAT"));

  serve.Signal(SIGTERM);
  ASSERT_EQ(serve.Wait(kExitLimit), 0);
  const std::string& report = serve.Errors();
  for (const char* line : {"Make\tC:NEW.DAT", "Write\tC:NEW.DAT", "Rename\tC:NEW.DAT \u2192 OLD.DAT", "Delete\tC:OLD.DAT"})
    EXPECT_NE(report.find(line), std::string::npos) << line << " in\n" << report;
}

TEST_F(ServeProgramTest, ServesDrivesNamedOnTheCommandLineWithoutTouchingTheSharedSetUp) {
  std::filesystem::create_directories(folder / "d");
  std::filesystem::create_directories(folder / "dosdevices");
  auto options = RigOptions();
  options.insert(options.end(), {"--drive", "D=" + (folder / "d").string()});
  ServeProcess serve(options);
  ASSERT_TRUE(serve.Serving()) << serve.Errors();
  board.readUntilQuiet(50ms);
  Bytes onD = NameBlock("ON", "D");
  onD[0] = 4;
  EXPECT_EQ(Exchange(Frame(22, onD), 1), Bytes{0});
  EXPECT_EQ(Exchange(Frame(16, onD), 1), Bytes{0});
  EXPECT_TRUE(std::filesystem::exists(folder / "d" / "ON.D"));
  EXPECT_TRUE(std::filesystem::is_empty(folder / "dosdevices")) << "the window's drive links are left alone";
}

TEST_F(ServeProgramTest, ListOutputEndsInOnePdfWhoseTextIsTheJobs) {
  ServeProcess serve(RigOptions());
  ASSERT_TRUE(serve.Serving()) << serve.Errors();
  board.readUntilQuiet(50ms);
  board.write(Plus(ListOutput("FIRST LINE OF THE JOB\r\nSECOND LINE\r\n\x1A"), Frame(25, {})));
  ASSERT_EQ(board.read(1, 5000ms).size(), 1u);
  const auto pdfs = Pdfs();
  ASSERT_EQ(pdfs.size(), 1u);
  const std::string text = PdfText(pdfs[0]);
  EXPECT_NE(text.find("FIRST LINE OF THE JOB"), std::string::npos) << text;
  EXPECT_NE(text.find("SECOND LINE"), std::string::npos) << text;
  serve.Signal(SIGTERM);
  EXPECT_EQ(serve.Wait(kExitLimit), 0);
  EXPECT_EQ(Pdfs().size(), 1u) << "no second, empty job at the end";
}

TEST_F(ServeProgramTest, SigtermWithAJobOpenFinishesThePdfAndExitsZeroWithinASecond) {
  // Finishing the document is stretched by a loaded machine, now and then past a second;
  // a cost every ending pays is not, so the quickest of the endings is held to it.
  Clock::duration quickest = Clock::duration::max();
  for (int signal : {SIGTERM, SIGINT, SIGHUP}) {
    SCOPED_TRACE(signal);
    for (const auto& pdf : Pdfs()) std::filesystem::remove(pdf);
    ServeProcess serve(RigOptions());
    ASSERT_TRUE(serve.Serving()) << serve.Errors();
    board.readUntilQuiet(50ms);
    board.write(Plus(ListOutput("STILL PRINTING\r\n"), Frame(25, {})));
    ASSERT_EQ(board.read(1, 5000ms).size(), 1u);
    const auto sent = Clock::now();
    serve.Signal(signal);
    EXPECT_EQ(serve.Wait(kExitLimit), 0) << serve.Errors();
    quickest = std::min(quickest, Clock::now() - sent);
    const auto pdfs = Pdfs();
    ASSERT_EQ(pdfs.size(), 1u);
    EXPECT_NE(PdfText(pdfs[0]).find("STILL PRINTING"), std::string::npos) << "a complete, readable document";
  }
  EXPECT_LT(quickest, 1000ms);
}

TEST_F(ServeProgramTest, BadOptionsAndUnusablePortsGiveOneLineAndAFailingStatus) {
  const std::string settings = SettingsFile();
  struct Case {
    std::vector<std::string> args;
    const char* says;
  } cases[] = {
      {{"--bogus"}, "unknown option"},
      {{"--baud", "1234"}, "--baud"},
      {{"--port", "COM0"}, "--port"},
      {{"--port", "COM3", "--device", "/dev/null"}, "exclude"},
      {{"--folder"}, "needs a value"},
      {{"--settings", (folder / "missing.SET").string()}, "cannot read"},
      {{"--settings", settings, "--folder", (folder / "missing").string()}, "not a folder"},
      {{"--settings", settings, "--device", (folder / "ttyGONE").string()}, "does not exist"},
      {{"--settings", settings, "--drive", "E=" + (folder / "missing").string()}, "not a folder"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[0] + " " + (c.args.size() > 1 ? c.args[1] : ""));
    ServeProcess serve(c.args);
    EXPECT_GT(serve.Wait(5000ms), 0);
    const std::string& errors = serve.Errors();
    EXPECT_EQ(errors.rfind("mirte-serve: ", 0), 0u) << errors;
    EXPECT_EQ(std::count(errors.begin(), errors.end(), '\n'), 1) << errors;
    EXPECT_NE(errors.find(c.says), std::string::npos) << errors;
  }
}

TEST_F(ServeProgramTest, AConsoleClientSeesTheBoardTypesKeysAndMayLeaveAndComeBack) {
  const std::string link = (folder / "console").string();
  auto options = RigOptions();
  options.insert(options.end(), {"--console-pty", link});
  ServeProcess serve(options);
  ASSERT_TRUE(serve.Serving()) << serve.Errors();
  board.readUntilQuiet(50ms);

  int client = ::open(link.c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(client, 0);
  board.write(std::string("login: "));
  std::string seen;
  ReadUntil(client, seen, [](const std::string& text) { return text.find("login: ") != std::string::npos; }, 3s);
  EXPECT_EQ(seen, "login: ");
  ASSERT_EQ(::write(client, "root\r", 5), 5);
  const Bytes typed = board.read(5, 3000ms);
  EXPECT_EQ(std::string(typed.begin(), typed.end()), "root\r");
  ::close(client);

  // Nobody attached: the board goes on being served, and what it shows waits.
  EXPECT_EQ(Exchange(Frame(25, {}), 1).size(), 1u) << "frames never reach the console";
  board.write(std::string("# "));
  client = ::open(link.c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(client, 0);
  seen.clear();
  ReadUntil(client, seen, [](const std::string& text) { return text.find("# ") != std::string::npos; }, 3s);
  EXPECT_EQ(seen, "# ");
  ::close(client);
  serve.Signal(SIGTERM);
  EXPECT_EQ(serve.Wait(kExitLimit), 0);
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(link))) << "the link goes with the server";
}

TEST_F(ServeProgramTest, TheConsoleOnStandardInputAndOutputOutlivesTheEndOfInput) {
  auto options = RigOptions();
  options.push_back("--console-stdio");
  ServeProcess serve(options, true);
  ASSERT_TRUE(serve.Serving()) << serve.Errors();
  board.readUntilQuiet(50ms);
  board.write(std::string("ok> "));
  std::string seen;
  ReadUntil(serve.Out(), seen, [](const std::string& text) { return text.size() >= 4; }, 3s);
  EXPECT_EQ(seen, "ok> ");
  ASSERT_EQ(::write(serve.In(), "run\r", 4), 4);
  const Bytes typed = board.read(4, 3000ms);
  EXPECT_EQ(std::string(typed.begin(), typed.end()), "run\r");

  serve.CloseIn();
  EXPECT_EQ(Exchange(Frame(25, {}), 1).size(), 1u) << "the board is still served";
  serve.Signal(SIGTERM);
  EXPECT_EQ(serve.Wait(kExitLimit), 0);
}

// A console reader that stops reading (a stopped terminal, a script that hangs) must not
// hold up the board: its drives are served on, as the window serves them whatever it paints.
TEST_F(ServeProgramTest, AConsoleOnStandardOutputThatNobodyReadsHoldsNothingUp) {
  auto options = RigOptions();
  options.push_back("--console-stdio");
  ServeProcess serve(options, true);
  ASSERT_TRUE(serve.Serving()) << serve.Errors();
  board.readUntilQuiet(50ms);
  // Far more than a pipe holds; a server held up would stop taking it, so the board gives
  // up after a while rather than wait for ever.
  const std::string text(256 * 1024, 'x');
  ::fcntl(board.master(), F_SETFL, ::fcntl(board.master(), F_GETFL) | O_NONBLOCK);
  std::size_t sent = 0;
  for (const auto end = Clock::now() + 3s; sent < text.size() && Clock::now() < end;) {
    pollfd room{board.master(), POLLOUT, 0};
    if (::poll(&room, 1, 20) <= 0) continue;
    const ssize_t n = ::write(board.master(), text.data() + sent, std::min<std::size_t>(4096, text.size() - sent));
    if (n > 0) sent += static_cast<std::size_t>(n);
  }
  ASSERT_EQ(sent, text.size()) << "the server stopped taking the board's bytes";
  EXPECT_EQ(Exchange(Frame(25, {}), 1).size(), 1u) << "the board is still served";
  serve.Signal(SIGTERM);
  EXPECT_EQ(serve.Wait(kExitLimit), 0);
}

}  // namespace
}  // namespace mirte
