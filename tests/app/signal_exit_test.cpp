#include "app/signal_exit.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>

#include <signal.h>

#include <csignal>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "app/printer_canvas_qt.h"
#include "app/term_form.h"
#include "board/board_service.h"
#include "support/main_window_rig.h"
#include "support/qt_test_app.h"
#include "support/temp_folder.h"

namespace mirte {
namespace {

bool PumpUntil(const std::function<bool()>& done, int limitMs = 3000) {
  QElapsedTimer clock;
  clock.start();
  while (!done() && clock.elapsed() < limitMs) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  return done();
}

TEST(SignalExit, EachEndingSignalReachesTheEventLoopAndLeavesTheOldHandlersBehind) {
  mirte::testing::TestApp();
  for (int number : {SIGTERM, SIGINT, SIGHUP}) {
    int calls = 0;
    {
      TSignalExit exit([&] { ++calls; });
      std::raise(number);
      EXPECT_EQ(calls, 0) << "nothing runs inside the signal handler";
      EXPECT_TRUE(PumpUntil([&] { return calls > 0; })) << number;
    }
    struct sigaction now {};
    sigaction(number, nullptr, &now);
    EXPECT_EQ(now.sa_handler, SIG_DFL) << number;
  }
}

TEST(SignalExitDeathTest, ASecondSignalEndsTheProgramAtOnce) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        mirte::testing::TestApp();
        TSignalExit exit([] {});
        std::raise(SIGTERM);
        std::raise(SIGTERM);
        std::_Exit(0);
      },
      ::testing::ExitedWithCode(128 + SIGTERM), "");
}

TEST(SignalExit, ASignalIgnoredAtTheStartStaysIgnored) {
  mirte::testing::TestApp();
  struct sigaction ignore {}, before {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  sigaction(SIGHUP, &ignore, &before);
  int calls = 0;
  {
    TSignalExit exit([&] { ++calls; });
    struct sigaction now {};
    sigaction(SIGHUP, nullptr, &now);
    EXPECT_EQ(now.sa_handler, SIG_IGN);
    std::raise(SIGHUP);
    // The other two are still handled: only what was ignored is left alone.
    std::raise(SIGTERM);
    EXPECT_TRUE(PumpUntil([&] { return calls > 0; }));
    QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    EXPECT_EQ(calls, 1);
  }
  struct sigaction after {};
  sigaction(SIGHUP, nullptr, &after);
  EXPECT_EQ(after.sa_handler, SIG_IGN);
  sigaction(SIGHUP, &before, nullptr);
}

// The whole program, signalled while its splash still holds the start-up: it ends at once
// and with success instead of by the signal's default action.
TEST(SignalExit, ASignalDuringTheSplashEndsTheProgramAtOnceWithSuccess) {
  mirte::testing::TempFolder folder;
  // The program run from a folder of its own with its own settings: from the build tree it
  // would read the settings kept there and write this run's working folder into them.
  const std::filesystem::path copy = folder / "mirte";
  std::error_code notLinked;
  std::filesystem::create_hard_link(MIRTE_PROGRAM, copy, notLinked);
  if (notLinked) std::filesystem::copy_file(MIRTE_PROGRAM, copy);
  SettingsRec rec = mirte::testing::FolderSettings(folder);
  rec.ComNumber = 49;
  mirte::testing::WriteSettingsFile(folder, rec);
  QProcess program;
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  environment.insert("HOME", QString::fromStdString(folder.path().string()));
  environment.insert("QT_QPA_PLATFORM", "offscreen");
  program.setProcessEnvironment(environment);
  program.start(QString::fromStdString(copy.string()), {});
  ASSERT_TRUE(program.waitForStarted(5000));
  // Well inside the splash's hold, and long after the handling is in place.
  program.waitForFinished(800);
  ASSERT_EQ(program.state(), QProcess::Running) << "the splash did not hold the start-up";
  QElapsedTimer clock;
  clock.start();
  ::kill(static_cast<pid_t>(program.processId()), SIGTERM);
  ASSERT_TRUE(program.waitForFinished(5000));
  EXPECT_LT(clock.elapsed(), 1000);
  EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(program.exitCode(), 0);
}

QString PdfText(const QString& file) {
  QProcess process;
  process.start("pdftotext", {file, "-"});
  if (!process.waitForFinished(20000) || process.exitCode() != 0) return {};
  return QString::fromUtf8(process.readAllStandardOutput());
}

TEST(SignalExit, SigtermWithAPrintJobOpenEndsAsExitDoesAndKeepsTheJob) {
  mirte::testing::TestApp();
  mirte::testing::TempFolder folder;
  // Settings of its own beside the program, or it would read and write the per-user ones
  // every test shares, and open whatever real port they name; COM49 names none.
  SettingsRec rec = mirte::testing::FolderSettings(folder);
  rec.ComNumber = 49;
  mirte::testing::WriteSettingsFile(folder, rec);
  TTermFrmOptions options;
  options.ProgramFile = (folder / "mirte").string();
  options.ShowSplash = false;
  int terminations = 0;
  options.Terminate = [&] { ++terminations; };
  auto form = std::make_unique<TTermFrm>(options);
  form->Printer().Now = [] { return QDateTime(QDate(2026, 12, 8), QTime(7, 0, 0)); };
  form->Settings.SetWorkFolder(folder.path().string());
  {
    TSignalExit exit([&] { form->ExitCmdClick(); });
    // The board's list output: characters of a job that is left open.
    for (char c : std::string("SIGNALLED\r\n")) {
      for (std::uint8_t byte : {std::uint8_t{16}, std::uint8_t{17}, std::uint8_t{5}, static_cast<std::uint8_t>(c)})
        form->Board().ProcessBoardByte(byte);
    }
    ASSERT_TRUE(form->Printer().JobOpen());
    // Written under a hidden ".<name>.part" until the job is complete.
    const QString hidden = form->Printer().JobFile();
    ASSERT_TRUE(hidden.endsWith(QStringLiteral(".part")));
    const QFileInfo info(hidden);
    const QString pdf = info.dir().filePath(info.fileName().mid(1).chopped(5));

    std::raise(SIGTERM);
    ASSERT_TRUE(PumpUntil([&] { return terminations > 0; }));
    EXPECT_TRUE(form->Terminated());
    EXPECT_FALSE(form->ComPort.Open());
    form.reset();  // what follows the end of the event loop
    EXPECT_FALSE(QFile::exists(hidden));
    ASSERT_TRUE(QFile::exists(pdf));
    EXPECT_TRUE(PdfText(pdf).contains("SIGNALLED")) << pdf.toStdString();
  }
}

}  // namespace
}  // namespace mirte
