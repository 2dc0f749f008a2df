#include "app/printer_canvas_qt.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QFile>
#include <QPrinter>
#include <QProcess>
#include <QRegularExpression>
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <ostream>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "common/settings.h"
#include "board/list_output.h"
#include "support/qt_test_app.h"
#include "support/fake_board_window.h"
#include "support/file_size_limit.h"
#include "support/full_tmpfs.h"
#include "support/modal_answers.h"
#include "support/temp_folder.h"

namespace mirte {
namespace {

QApplication& App() { return mirte::testing::TestApp(); }

QString Q(const std::filesystem::path& path) { return QString::fromStdString(path.string()); }

std::string PdfText(const QString& file, const QStringList& options = {}) {
  QProcess process;
  process.start(QStringLiteral("pdftotext"), QStringList(options) << file << QStringLiteral("-"));
  if (!process.waitForFinished(20000) || process.exitCode() != 0) {
    ADD_FAILURE() << "pdftotext failed on " << file.toStdString();
    return {};
  }
  return process.readAllStandardOutput().toStdString();
}

// The text lines of a PDF, without empty lines and page breaks.
std::vector<std::string> PdfLines(const QString& file) {
  std::vector<std::string> lines;
  for (const QString& line : QString::fromStdString(PdfText(file)).split('\n')) {
    const QString text = QString(line).remove('\f').trimmed();
    if (!text.isEmpty()) lines.push_back(text.toStdString());
  }
  return lines;
}

int PdfPages(const QString& file) {
  return static_cast<int>(QString::fromStdString(PdfText(file)).count('\f'));
}

// The folder's PDF files, sorted by name.
QStringList PdfFiles(const testing::TempFolder& folder) {
  return QDir(Q(folder.path())).entryList({QStringLiteral("*.pdf")}, QDir::Files, QDir::Name);
}

// Everything in the folder, hidden files and links included, sorted by name.
QStringList AllEntries(const testing::TempFolder& folder) {
  return QDir(Q(folder.path())).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                                          QDir::Name);
}

class ScopedEnvironment {
public:
  ScopedEnvironment(const char* name, const QString& value)
      : name(name), wasSet(qEnvironmentVariableIsSet(name)), old(qgetenv(name)) {
    qputenv(name, value.toLocal8Bit());
  }
  ~ScopedEnvironment() {
    if (wasSet) qputenv(name, old);
    else qunsetenv(name);
  }

private:
  const char* name;
  bool wasSet;
  QByteArray old;
};

const QDateTime kStart(QDate(2026, 12, 7), QTime(14, 3, 55));

// The board's list output on a canvas on a system without printers, whatever this machine
// has: the working folder receives the jobs.
class NoPrinterListOutput : public ::testing::Test {
protected:
  void SetUp() override {
    App();
    canvas.Printers = TPrinterDirectory::None();
    canvas.Now = [] { return kStart; };
    canvas.OnPdfWritten = [this](const QString& path) { written.push_back(path); };
  }

  void Board(const std::string& bytes) {
    for (char c : bytes) list.ListOutput(static_cast<std::uint8_t>(c));
  }

  QString Work(const QString& name) const { return QDir(Q(work.path())).filePath(name); }

  testing::TempFolder work;
  testing::FakeBoardWindow window;
  SettingsRec settings{};
  TQtPrinterCanvas canvas{[this] { return work.path(); }};
  TListOutput list{window, canvas, settings};
  QStringList written;
};

TEST_F(NoPrinterListOutput, WritesTheJobAsAPdfNamedFromTitleAndStartTime) {
  Board("A\r\nB\x1A");

  EXPECT_EQ(PdfFiles(work), QStringList{"MIRTE Print 2026-12-07 14-03-55.pdf"});
  EXPECT_EQ(PdfLines(Work("MIRTE Print 2026-12-07 14-03-55.pdf")), (std::vector<std::string>{"A", "B"}));
  EXPECT_EQ(written, QStringList{Work("MIRTE Print 2026-12-07 14-03-55.pdf")});
  EXPECT_FALSE(canvas.JobOpen());
  EXPECT_EQ(window.calls, (std::vector<std::string>{"status Document waits for printing", "print job open",
                                                     "status ", "print job closed"}));
}

TEST_F(NoPrinterListOutput, NamesTheFileWithTheItalianTitleInItalian) {
  window.language = 1;
  Board("x\x1A");
  EXPECT_EQ(PdfFiles(work), QStringList{"Stampa MIRTE 2026-12-07 14-03-55.pdf"});
}

TEST_F(NoPrinterListOutput, KeepsTheLayoutInUnitsOfA600DpiPage) {
  const QSize page = DefaultPaperSize().sizePixels(600);
  EXPECT_NEAR(canvas.PageWidth(), page.width(), 1);
  EXPECT_NEAR(canvas.PageHeight(), page.height(), 1);
  // A 12-point line at 600 dpi is 100 units plus the font's leading.
  EXPECT_GE(canvas.TextHeight("A"), 100);
  EXPECT_LE(canvas.TextHeight("A"), 140);

  Board("A\r\nB\x1A");
  // Word boxes in points: A's left edge at 200 units, B one line below it.
  const std::string boxes = PdfText(Work("MIRTE Print 2026-12-07 14-03-55.pdf"), {"-bbox"});
  const QRegularExpression word(R"re(<word xMin="([\d.]+)" yMin="([\d.]+)"[^>]*>(\w)</word>)re");
  std::map<std::string, std::pair<double, double>> at;
  for (const auto& match : word.globalMatch(QString::fromStdString(boxes)))
    at[match.captured(3).toStdString()] = {match.captured(1).toDouble(), match.captured(2).toDouble()};
  ASSERT_EQ(at.size(), 2u) << boxes;
  const double unitsPerPoint = 600.0 / 72.0;
  EXPECT_NEAR(at["A"].first * unitsPerPoint, 200, 15);
  EXPECT_NEAR(at["B"].first * unitsPerPoint, 200, 15);
  EXPECT_NEAR((at["B"].second - at["A"].second) * unitsPerPoint, canvas.TextHeight("A"), 3);
}

TEST_F(NoPrinterListOutput, AbortRemovesThePartlyWrittenFile) {
  Board("partly written\r\n");
  ASSERT_TRUE(QFile::exists(canvas.JobFile()));
  list.EndPrintJob(true);
  EXPECT_TRUE(PdfFiles(work).isEmpty());
  EXPECT_TRUE(written.isEmpty());
  // Nothing open: both commands are no-ops for the canvas.
  canvas.EndDoc();
  canvas.Abort();
  EXPECT_TRUE(AllEntries(work).isEmpty());
}

// The folder is the board's drive: a job's file must not be seen there under its real
// name before it is complete.
TEST_F(NoPrinterListOutput, WritesUnderAHiddenNameUntilTheJobEnds) {
  Board("A\r\n");
  EXPECT_EQ(AllEntries(work), QStringList{".MIRTE Print 2026-12-07 14-03-55.pdf.part"});
  EXPECT_EQ(canvas.JobFile(), Work(".MIRTE Print 2026-12-07 14-03-55.pdf.part"));
  Board("B\x1A");
  EXPECT_EQ(AllEntries(work), QStringList{"MIRTE Print 2026-12-07 14-03-55.pdf"});
  EXPECT_EQ(PdfLines(Work("MIRTE Print 2026-12-07 14-03-55.pdf")), (std::vector<std::string>{"A", "B"}));
}

TEST_F(NoPrinterListOutput, NeverWritesThroughALinkPlantedAtItsNames) {
  testing::TempFolder elsewhere;
  const std::filesystem::path victim = elsewhere.path() / "victim";
  const std::filesystem::path hiddenVictim = elsewhere.path() / "hidden victim";
  std::filesystem::create_symlink(victim, work.path() / "MIRTE Print 2026-12-07 14-03-55.pdf");
  std::filesystem::create_symlink(hiddenVictim, work.path() / ".MIRTE Print 2026-12-07 14-03-55.pdf.part");

  Board("x\x1A");

  EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(victim)));
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(hiddenVictim)));
  EXPECT_EQ(AllEntries(work), (QStringList{".MIRTE Print 2026-12-07 14-03-55.pdf.part",
                                           "MIRTE Print 2026-12-07 14-03-55 (2).pdf",
                                           "MIRTE Print 2026-12-07 14-03-55.pdf"}));
  EXPECT_TRUE(std::filesystem::is_symlink(work.path() / "MIRTE Print 2026-12-07 14-03-55.pdf"));
  EXPECT_EQ(PdfLines(Work("MIRTE Print 2026-12-07 14-03-55 (2).pdf")), std::vector<std::string>{"x"});
  EXPECT_EQ(written, QStringList{Work("MIRTE Print 2026-12-07 14-03-55 (2).pdf")});
}

TEST_F(NoPrinterListOutput, NeverOverwritesAnExistingFile) {
  work.write("MIRTE Print 2026-12-07 14-03-55.pdf", "the user's own file");
  Board("1\x1A" "2\x1A");
  EXPECT_EQ(PdfFiles(work), (QStringList{"MIRTE Print 2026-12-07 14-03-55 (2).pdf",
                                         "MIRTE Print 2026-12-07 14-03-55 (3).pdf",
                                         "MIRTE Print 2026-12-07 14-03-55.pdf"}));
  EXPECT_EQ(work.read("MIRTE Print 2026-12-07 14-03-55.pdf").size(), 19u);
  EXPECT_EQ(PdfLines(Work("MIRTE Print 2026-12-07 14-03-55 (3).pdf")), std::vector<std::string>{"2"});
}

// A job that ends before anything was drawn on it: no file, nothing reported, and the
// window's status and menus come and go as for any job.
TEST_F(NoPrinterListOutput, JobsWithNothingDrawnLeaveNoFile) {
  const struct {
    const char* what;
    std::string listing;
    std::size_t jobs;
  } cases[] = {
      {"Ctrl-Z first", "\x1A", 1},
      {"a run of Ctrl-Z", std::string(100, '\x1A'), 100},
      {"CR and LF only", "\r\n\n\r\x1A", 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    window.calls.clear();
    Board(c.listing);
    EXPECT_TRUE(PdfFiles(work).isEmpty());
    EXPECT_TRUE(written.isEmpty());
    EXPECT_FALSE(canvas.JobOpen());
    std::vector<std::string> calls;
    for (std::size_t i = 0; i < c.jobs; ++i)
      calls.insert(calls.end(), {"status Document waits for printing", "print job open", "status ", "print job closed"});
    EXPECT_EQ(window.calls, calls);
  }
  // Printed or aborted without text: the same.
  Board("\r\n");
  list.EndPrintJob(false);
  Board("\n");
  list.EndPrintJob(true);
  EXPECT_TRUE(AllEntries(work).isEmpty());
}

TEST_F(NoPrinterListOutput, TextAfterEmptyPagesLandsOnItsOwnPage) {
  const int linesPerPage =
      (canvas.PageHeight() - TListOutput::kMargin - TListOutput::kTopEdge) / canvas.TextHeight("A") + 1;
  Board(std::string(static_cast<std::size_t>(linesPerPage), '\n') + "X\x1A");
  const QString file = Work("MIRTE Print 2026-12-07 14-03-55.pdf");
  EXPECT_EQ(PdfLines(file), std::vector<std::string>{"X"});
  EXPECT_EQ(PdfPages(file), 2);
}

// Fills two pages line by line: with print-each-page every page is a file of its own,
// without it the pages share one file.
struct PagingCase {
  bool printEachPage;
  QStringList files;  // in the order the jobs end
  int pagesInFirstFile;
};

void PrintTo(const PagingCase& c, std::ostream* out) { *out << (c.printEachPage ? "each page" : "one job"); }

class Paging : public NoPrinterListOutput, public ::testing::WithParamInterface<PagingCase> {};

TEST_P(Paging, TwoFullPagesGiveOneFileOrTwo) {
  settings.PrintEachPage = GetParam().printEachPage ? 1 : 0;
  const int linesPerPage =
      (canvas.PageHeight() - TListOutput::kMargin - TListOutput::kTopEdge) / canvas.TextHeight("A") + 1;
  int line = 0;
  for (int page = 0; page < 2; ++page)
    for (int i = 0; i < linesPerPage; ++i) Board("L" + std::to_string(++line) + "\r\n");
  // A page is full when a character finds the pen below its last line.
  Board("\x1A");

  QStringList sorted = GetParam().files;
  sorted.sort();
  ASSERT_EQ(PdfFiles(work), sorted);
  const QString first = Work(GetParam().files[0]);
  EXPECT_EQ(PdfPages(first), GetParam().pagesInFirstFile);
  const std::vector<std::string> lines = PdfLines(first);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.front(), "L1");
  if (settings.PrintEachPage) {
    EXPECT_EQ(lines.back(), "L" + std::to_string(linesPerPage));
    EXPECT_EQ(PdfLines(Work(GetParam().files[1])).front(), "L" + std::to_string(linesPerPage + 1));
  }
}

INSTANTIATE_TEST_SUITE_P(
    EachPageOnOrOff, Paging,
    ::testing::Values(PagingCase{true,
                                 {"MIRTE Print 2026-12-07 14-03-55.pdf", "MIRTE Print 2026-12-07 14-03-55 (2).pdf"},
                                 1},
                      PagingCase{false, {"MIRTE Print 2026-12-07 14-03-55.pdf"}, 2}));

TEST_F(NoPrinterListOutput, APrinterThatDoesNotExistFallsBackToAFile) {
  auto printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
  printer->setPrinterName(QStringLiteral("Printer that was removed"));
  canvas.SetChosenPrinter(std::move(printer));
  Board("A\x1A");
  EXPECT_EQ(PdfFiles(work), QStringList{"MIRTE Print 2026-12-07 14-03-55.pdf"});
}

TEST_F(NoPrinterListOutput, AJobStillOpenAtTheEndIsKept) {
  {
    TQtPrinterCanvas closing([this] { return work.path(); });
    closing.Printers = TPrinterDirectory::None();
    closing.Now = [] { return kStart; };
    closing.BeginDoc("MIRTE Print");
    closing.TextOut(200, 250, "kept");
  }
  EXPECT_EQ(PdfLines(Work("MIRTE Print 2026-12-07 14-03-55.pdf")), std::vector<std::string>{"kept"});
}

TEST_F(NoPrinterListOutput, AJobWithNowhereToGoIsKeptUntilItCanBeWritten) {
  std::filesystem::path folder = work / "missing";
  TQtPrinterCanvas canvas([&folder] { return folder; });
  canvas.Printers = TPrinterDirectory::None();
  canvas.Now = [] { return kStart; };
  {
    // No home and no temporary folder either, when the job's first text wants a file.
    ScopedEnvironment home("HOME", Q(folder)), temp("TMPDIR", Q(folder));
    canvas.BeginDoc("MIRTE Print");
    canvas.TextOut(200, 250, "one");
  }
  ASSERT_TRUE(canvas.JobOpen());
  EXPECT_TRUE(canvas.JobFile().isEmpty());

  canvas.NewPage();
  canvas.TextOut(200, 250, "two");
  folder = work.path();
  canvas.EndDoc();
  const QString file = Work("MIRTE Print 2026-12-07 14-03-55.pdf");
  EXPECT_EQ(PdfLines(file), (std::vector<std::string>{"one", "two"}));
  EXPECT_EQ(PdfPages(file), 2);
}

TEST_F(NoPrinterListOutput, AJobWithNowhereToGoAtItsEndIsReportedWithTheWorkingFolder) {
  const std::filesystem::path folder = work / "missing";
  TQtPrinterCanvas canvas([&folder] { return folder; });
  canvas.Printers = TPrinterDirectory::None();
  std::vector<std::pair<QString, std::error_code>> failed;
  canvas.OnPdfFailed = [&](const QString& where, std::error_code why) { failed.emplace_back(where, why); };
  canvas.OnPdfWritten = [this](const QString& path) { written.push_back(path); };
  {
    ScopedEnvironment home("HOME", Q(folder)), temp("TMPDIR", Q(folder));
    canvas.BeginDoc("MIRTE Print");
    canvas.TextOut(200, 250, "lost");
    canvas.EndDoc();
  }
  ASSERT_EQ(failed.size(), 1u);
  EXPECT_EQ(failed[0].first, Q(folder));
  EXPECT_EQ(failed[0].second, std::errc::no_such_file_or_directory);
  EXPECT_TRUE(written.isEmpty());
  EXPECT_TRUE(AllEntries(work).isEmpty());
}

// A job whose folder refuses it is written elsewhere and says so: a missing working folder
// sends it home, a chosen file in a missing folder sends it to the working folder.
TEST_F(NoPrinterListOutput, AJobWrittenElsewhereNamesTheFolderThatRefusedIt) {
  testing::TempFolder home;
  ScopedEnvironment homeVariable("HOME", Q(home.path()));
  const std::filesystem::path missing = work / "missing";
  struct {
    const char* what;
    bool chosenFile;
    std::filesystem::path workingFolder;
    std::filesystem::path writtenIn;
  } const cases[] = {
      {"missing working folder", false, missing, home.path()},
      {"chosen file in a missing folder", true, work.path(), work.path()},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TQtPrinterCanvas canvas([&c] { return c.workingFolder; });
    canvas.Printers = TPrinterDirectory::None();
    canvas.Now = [] { return kStart; };
    if (c.chosenFile) {
      auto printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
      printer->setOutputFormat(QPrinter::PdfFormat);
      printer->setOutputFileName(Q(missing / "chosen.pdf"));
      canvas.SetChosenPrinter(std::move(printer));
    }
    QStringList plain;
    std::vector<std::tuple<QString, QString, std::error_code>> redirected;
    canvas.OnPdfWritten = [&](const QString& path) { plain.push_back(path); };
    canvas.OnPdfRedirected = [&](const QString& path, const QString& folder, std::error_code why) {
      redirected.emplace_back(path, folder, why);
    };
    canvas.BeginDoc("MIRTE Print");
    canvas.TextOut(200, 250, "moved");
    canvas.EndDoc();

    EXPECT_TRUE(plain.isEmpty());
    ASSERT_EQ(redirected.size(), 1u);
    const auto& [path, folder, why] = redirected[0];
    EXPECT_EQ(QFileInfo(path).absolutePath(), Q(c.writtenIn));
    EXPECT_EQ(folder, Q(missing));
    EXPECT_EQ(why, std::errc::no_such_file_or_directory);
    EXPECT_EQ(PdfLines(path), std::vector<std::string>{"moved"});
    QFile::remove(path);
  }
}

// A working folder that takes no more bytes, on a full disk or past the file size limit,
// for a job of a line (written out only at its end) and one of many pages (written while
// the job goes, so that its file is half made when the space runs out).
enum class TNoSpace { FullTmpfs, FileSizeLimit };
struct TNoSpaceCase {
  TNoSpace Way;
  int Lines;
};

class NoSpaceForTheJob : public ::testing::TestWithParam<TNoSpaceCase> {
protected:
  void SetUp() override {
    App();
    canvas.PdfOnly = true;
    canvas.Now = [] { return kStart; };
    canvas.OnPdfWritten = [this](const QString& path) { written.push_back(path); };
    canvas.OnPdfFailed = [this](const QString& where, std::error_code why) { failed.emplace_back(where, why); };
    if (GetParam().Way == TNoSpace::FullTmpfs && !disk.Mounted()) GTEST_SKIP() << "cannot mount a tmpfs here";
  }

  void Job(int lines, const char* text) {
    canvas.BeginDoc("MIRTE Print");
    for (int line = 0; line < lines; ++line) {
      if (line > 0 && line % 50 == 0) canvas.NewPage();
      canvas.TextOut(200, 250 + 100 * (line % 50), std::string(text) + " " + std::to_string(line * 7919));
    }
    canvas.EndDoc();
  }

  QStringList Entries() const {
    return QDir(Q(disk.Folder())).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
  }

  testing::TempFolder root;
  testing::ScopedFullTmpfs disk{root / "disk"};
  TQtPrinterCanvas canvas{[this] { return disk.Folder(); }};
  QStringList written;
  std::vector<std::pair<QString, std::error_code>> failed;
};

TEST_P(NoSpaceForTheJob, IsReportedLeavesNothingAndTheNextJobIsWritten) {
  const TNoSpaceCase param = GetParam();
  QStringList leftBehind;
  if (param.Way == TNoSpace::FullTmpfs) {
    // A long job finds room for a part of it, and is cut off half written.
    disk.Fill(param.Lines > 1 ? 8192 : 0);
    Job(param.Lines, "lost on a full disk");
    leftBehind = Entries();
    leftBehind.removeAll(testing::ScopedFullTmpfs::kFiller);
    disk.Free();
  } else {
    testing::ScopedFileSizeLimit limit(100);
    ASSERT_TRUE(limit.Set());
    Job(param.Lines, "lost past the limit");
    leftBehind = Entries();
  }
  ASSERT_EQ(failed.size(), 1u);
  EXPECT_EQ(failed[0].first, Q(disk.Folder()));
  EXPECT_EQ(failed[0].second, param.Way == TNoSpace::FullTmpfs ? std::errc::no_space_on_device : std::errc::file_too_large);
  EXPECT_TRUE(written.isEmpty());
  EXPECT_TRUE(leftBehind.isEmpty()) << leftBehind.join(", ").toStdString();
  EXPECT_FALSE(canvas.JobOpen());

  Job(1, "kept once there is room");
  ASSERT_EQ(written.size(), 1);
  EXPECT_EQ(failed.size(), 1u);
  EXPECT_EQ(PdfLines(written[0]), std::vector<std::string>{"kept once there is room 0"});
}

INSTANTIATE_TEST_SUITE_P(Ways, NoSpaceForTheJob,
                         ::testing::Values(TNoSpaceCase{TNoSpace::FullTmpfs, 1}, TNoSpaceCase{TNoSpace::FullTmpfs, 1500},
                                           TNoSpaceCase{TNoSpace::FileSizeLimit, 1},
                                           TNoSpaceCase{TNoSpace::FileSizeLimit, 1500}),
                         [](const auto& info) {
                           return std::string(info.param.Way == TNoSpace::FullTmpfs ? "FullTmpfs" : "FileSizeLimit") +
                                  std::to_string(info.param.Lines) + "Lines";
                         });

// The printer set-up dialog's print-to-file choice: a PDF printer with a file name.
class ChosenFile : public NoPrinterListOutput {
protected:
  void SetUp() override {
    NoPrinterListOutput::SetUp();
    auto printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
    printer->setOutputFormat(QPrinter::PdfFormat);
    printer->setOutputFileName(Q(elsewhere / "chosen.pdf"));
    canvas.SetChosenPrinter(std::move(printer));
  }

  testing::TempFolder elsewhere;
};

TEST_F(ChosenFile, TheNextJobWritesTheChosenFileAndLaterOnesNumberedBesideIt) {
  Board("A\r\nB\x1A" "C\x1A");
  EXPECT_TRUE(PdfFiles(work).isEmpty());
  EXPECT_EQ(PdfFiles(elsewhere), (QStringList{"chosen (2).pdf", "chosen.pdf"}));
  EXPECT_EQ(PdfLines(Q(elsewhere / "chosen.pdf")), (std::vector<std::string>{"A", "B"}));
  EXPECT_EQ(PdfLines(Q(elsewhere / "chosen (2).pdf")), std::vector<std::string>{"C"});
  EXPECT_EQ(written, (QStringList{Q(elsewhere / "chosen.pdf"), Q(elsewhere / "chosen (2).pdf")}));
}

TEST_F(ChosenFile, AJobWithoutTextLeavesTheChosenFileToTheNextJob) {
  Board("\x1A" "\r\n\x1A" "E\x1A");
  EXPECT_EQ(PdfFiles(elsewhere), QStringList{"chosen.pdf"});
  EXPECT_EQ(PdfLines(Q(elsewhere / "chosen.pdf")), std::vector<std::string>{"E"});
}

TEST_F(ChosenFile, AbortRemovesTheChosenFile) {
  Board("A");
  list.EndPrintJob(true);
  EXPECT_TRUE(PdfFiles(elsewhere).isEmpty());
}

TEST_F(ChosenFile, CancellingTheSetUpDialogKeepsTheChoice) {
  QPrinter* before = canvas.ChosenPrinter();
  testing::ModalAnswers answers;
  answers.ThenReject();
  EXPECT_FALSE(PrnSetDlg(nullptr, canvas));
  EXPECT_EQ(answers.Unexpected(), 0);
  EXPECT_EQ(canvas.ChosenPrinter(), before);
}

TEST_F(ChosenFile, ConfirmingTheSetUpDialogChoosesWhatItShows) {
  testing::ModalAnswers answers;
  answers.ThenAccept();
  ASSERT_TRUE(PrnSetDlg(nullptr, canvas));
  ASSERT_NE(canvas.ChosenPrinter(), nullptr);
  EXPECT_EQ(canvas.ChosenPrinter()->outputFileName(), Q(elsewhere / "chosen.pdf"));
  Board("D\x1A");
  EXPECT_EQ(PdfLines(Q(elsewhere / "chosen.pdf")), std::vector<std::string>{"D"});
}

TEST(PdfJobFileName, KeepsTheTitleAndNeverMakesAPath) {
  EXPECT_EQ(PdfJobFileName("MIRTE Print", kStart), "MIRTE Print 2026-12-07 14-03-55.pdf");
  EXPECT_EQ(PdfJobFileName("a/b", kStart), "a_b 2026-12-07 14-03-55.pdf");
}

}  // namespace
}  // namespace mirte
