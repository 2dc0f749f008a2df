#include "app/term_form.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDialogButtonBox>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileDialog>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMouseEvent>
#include <QProcess>
#include <QPrinter>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>
#include <QTest>
#include <QTimer>

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <thread>
#include <vector>

#include "app/com_port_options.h"
#include "common/msg_table.h"
#include "common/desk_texts.h"
#include "app/printer_canvas_qt.h"
#include "board/board_service.h"
#include "support/board_frames.h"
#include "support/file_size_limit.h"
#include "support/main_window_rig.h"
#include "support/modal_answers.h"
#include "support/qt_test_app.h"
#include "support/qt_wait.h"
#include "support/pty_pair.h"
#include "support/scoped_environment.h"
#include "support/temp_folder.h"
#include "terminal/terminal_widget.h"

namespace mirte {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

QApplication& App() { return mirte::testing::TestApp(); }

using testing::WaitFor;

// A program folder of its own for every test: the settings file, dosdevices/ and the
// working folder all live there. COM1 leads to a device that does not exist.
class TermFormTest : public ::testing::Test {
protected:
  mirte::testing::TempFolder folder;
  // The default working folder goes to a home of the test's own.
  mirte::testing::ScopedEnvironment home{"HOME", (folder / "home").string()};
  std::string program = (folder / "mirte").string();
  std::filesystem::path settingsFile = folder / "mirte.SET";
  std::unique_ptr<TTermFrm> form;
  int terminations = 0;
  std::optional<QString> chosenFile;  // what the save dialog answers

  void SetUp() override {
    App();
    std::filesystem::create_directory(folder / "home");
    std::filesystem::create_directory(folder / "dosdevices");
    std::filesystem::create_symlink(folder / "no-such-device", folder / "dosdevices" / "com1");
  }
  void TearDown() override { form.reset(); }

  SettingsRec DefaultRecord() {
    TSettings defaults;
    defaults.ProgramFolder = folder.path().string() + "/";
    defaults.SetDefaultSettings();
    return defaults.Rec;
  }
  void WriteSettings(const SettingsRec& rec, std::size_t size = sizeof(SettingsRec)) {
    testing::WriteSettingsFile(folder, rec, size);
  }
  SettingsRec FileRecord() {
    Bytes bytes = folder.read("mirte.SET");
    EXPECT_EQ(bytes.size(), sizeof(SettingsRec));
    SettingsRec rec{};
    std::memcpy(&rec, bytes.data(), std::min(bytes.size(), sizeof rec));
    return rec;
  }

  TTermFrm& Start() {
    TTermFrmOptions options;
    options.Terminate = [this] { ++terminations; };
    options.ChooseFile = [this](const QString&, const QString&) { return chosenFile; };
    form = testing::StartMainWindow(folder, options);
    return *form;
  }

  QString Panel(int i) { return form->Panels[static_cast<std::size_t>(i)]->text(); }
  QString Caption(const char* name) {
    auto* action = form->findChild<QAction*>(name);
    EXPECT_NE(action, nullptr) << name;
    return action ? action->text() : QString();
  }
  std::string RowText(int row) {
    TTerminalBuffer& buffer = form->TerminalWn->Buffer();
    auto chars = buffer.GetCharRow(row);
    return std::string(chars.begin(), chars.end());
  }
};

TEST_F(TermFormTest, FirstStartComesUpWithTheDefaultsAndWritesThem) {
  TTermFrm& frm = Start();
  EXPECT_EQ(std::filesystem::file_size(settingsFile), 604u);
  SettingsRec rec = FileRecord();
  EXPECT_EQ(rec.Language, 2);
  EXPECT_EQ(rec.ComNumber, 1);
  EXPECT_EQ(rec.Baud, 115200);
  EXPECT_EQ(frm.ComPort.ComNumber(), 1);
  EXPECT_EQ(frm.ComPort.Baud(), 115200);
  EXPECT_TRUE(frm.Flags().ComNotAvailable);
  EXPECT_EQ(Panel(0), " COM not available");
  EXPECT_EQ(frm.windowTitle(), QString::fromUtf8(MsgTable(2, 1)));
  EXPECT_TRUE(frm.EngLngCmd->isChecked());
  EXPECT_FALSE(frm.ItaLngCmd->isChecked());
  EXPECT_TRUE(frm.MedChrCmd->isChecked());
  EXPECT_EQ(frm.TerminalWn->FontSize(), 10);
  EXPECT_EQ(frm.TerminalWn->FontColor(), 0x00C0C0C0u);
  EXPECT_EQ(frm.TerminalWn->Color(), 0x00800000u);
  EXPECT_FALSE(frm.PrintSingPgCmd->isChecked());
  // The working folder is one of its own, not the program folder.
  EXPECT_EQ(std::filesystem::current_path(), folder / "home/MIRTE");
  EXPECT_EQ(rec.WorkFolder.Str(), (folder / "home/MIRTE").string());
  for (QAction* item : frm.TxStrCmd) EXPECT_FALSE(item->isEnabled());
  EXPECT_EQ(frm.TxStrCmd[2]->text(), "3: <None>");
  EXPECT_EQ(Panel(2).size(), 17) << "lock keys show blanks without an X11 display";
  EXPECT_TRUE(frm.RefreshTmr->isActive());
  EXPECT_FALSE(frm.DeSelTmr->isActive());
}

TEST_F(TermFormTest, StoredSettingsAreAppliedAndInvalidOnesCorrected) {
  SettingsRec rec = DefaultRecord();
  rec.Language = 1;
  rec.FontSize = 11;  // not a size: becomes 10 and the file is rewritten
  rec.TextColor = 0x0000FF00;
  rec.BackColor = 0x00000000;
  rec.PrintEachPage = 1;
  rec.UserStr[4].Assign("TEST");
  rec.UserStrEnter[4] = 1;
  WriteSettings(rec);
  TTermFrm& frm = Start();
  EXPECT_EQ(FileRecord().FontSize, 10);
  EXPECT_TRUE(frm.ItaLngCmd->isChecked());
  EXPECT_TRUE(frm.MedChrCmd->isChecked());
  EXPECT_TRUE(frm.PrintSingPgCmd->isChecked());
  EXPECT_EQ(frm.TerminalWn->FontColor(), 0x0000FF00u);
  EXPECT_EQ(frm.TerminalWn->Color(), 0u);
  EXPECT_EQ(frm.TxStrCmd[4]->text(), "5: TEST  <Invio>");
  EXPECT_TRUE(frm.TxStrCmd[4]->isEnabled());
  EXPECT_EQ(Panel(0), " COM non disponibile");
}

TEST_F(TermFormTest, ShortSettingsFileGivesTheDefaults) {
  SettingsRec rec = DefaultRecord();
  rec.Language = 1;
  WriteSettings(rec, 603);
  TTermFrm& frm = Start();
  EXPECT_EQ(frm.Settings.Rec.Language, 2);
  EXPECT_EQ(std::filesystem::file_size(settingsFile), 604u);
}

struct CaptionCase {
  const char* name;
  const char* english;
  const char* italian;
};

TEST_F(TermFormTest, CaptionsFollowTheLanguage) {
  SettingsRec rec = DefaultRecord();
  rec.UserStr[4].Assign("TEST");
  rec.UserStrEnter[4] = 1;
  rec.UserStrEnter[2] = 1;  // a flag without a string still reads as empty
  WriteSettings(rec);
  TTermFrm& frm = Start();
  const CaptionCase cases[] = {
      {"ClearTermCmd", "Clear T&erminal", "Ca&ncella Terminale"},
      {"ClearTermPup", "Clear T&erminal", "Ca&ncella Terminale"},
      {"ComandiCmd", "&Commands", "&Comandi"},
      {"ImpostazCmd", "Sett&ings", "&Impostazioni"},
      {"VBigChrCmd", "&Very Large", "&Molto Grande"},
      {"PrintSingPgCmd", "Print each Pa&ge", "Sta&mpa ogni Pagina"},
      {"TrasmStrPup", "&Transmit String", "&Trasmetti Stringa"},
      {"PntIntCmd", "&?", "&?"},
      {"TxStr05Cmd", "5: TEST  <Enter>", "5: TEST  <Invio>"},
      {"TxStr05Pup", "5: TEST  <Enter>", "5: TEST  <Invio>"},
      {"TxStr03Pup", "3: <None>", "3: <Nessuna>"},
  };
  frm.SetStatusText("Document waits for printing");
  for (int language : {1, 2, 1}) {
    SCOPED_TRACE(language);
    frm.LanguageCmdClick(language);
    for (const auto& c : cases) EXPECT_EQ(Caption(c.name), QString::fromUtf8(language == 2 ? c.english : c.italian)) << c.name;
    EXPECT_EQ(frm.windowTitle(), QString::fromUtf8(MsgTable(language, 1)));
    EXPECT_EQ(Panel(0), QString::fromUtf8(MsgTable(language, 63)));
    EXPECT_EQ(Panel(1), QString::fromUtf8(MsgTable(language, 32)));
    EXPECT_EQ(FileRecord().Language, language);
  }
  EXPECT_FALSE(frm.TxStrCmd[2]->isEnabled());
  // A panel showing something of no message is left as it is (the port panel is the
  // window's own and always shows the port's state).
  frm.Panels[1]->setText(" COM2:38400 Baud");
  frm.LanguageCmdClick(2);
  EXPECT_EQ(Panel(1), " COM2:38400 Baud");
}

TEST_F(TermFormTest, LanguageSwitchReachesTheToolWindowsToo) {
  TTermFrm& frm = Start();
  frm.CreateToolWindows();
  ASSERT_NE(frm.ComPortOptions(), nullptr);
  ASSERT_NE(frm.EPIXFrm(), nullptr);
  frm.EPIXCmd->trigger();
  EXPECT_TRUE(frm.EPIXFrm()->isVisible());
  for (int language : {1, 2}) {
    frm.LanguageCmdClick(language);
    EXPECT_EQ(frm.EPIXFrm()->windowTitle(), QString::fromUtf8(MsgTable(language, 37)));
    EXPECT_EQ(frm.ComPortOptions()->windowTitle(), QString::fromUtf8(MsgTable(language, 23)));
  }
}

// Qt's own buttons: a question and a file dialog made before the switch follow it, as do
// those made after it.
TEST_F(TermFormTest, ItalianReachesQtsOwnDialogsAndEnglishTakesThemBack) {
  TTermFrm& frm = Start();
  QMessageBox question(QMessageBox::Question, "MIRTE", "?", QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
  QFileDialog files(nullptr, "MIRTE");
  files.setOption(QFileDialog::DontUseNativeDialog);
  files.setAcceptMode(QFileDialog::AcceptOpen);
  auto* fileButtons = files.findChild<QDialogButtonBox*>();
  ASSERT_NE(fileButtons, nullptr);
  // Whether a caption marks an accelerator differs between first build and re-caption.
  auto texts = [&] {
    QStringList shown{question.button(QMessageBox::Yes)->text(), question.button(QMessageBox::No)->text(),
                      question.button(QMessageBox::Cancel)->text(), fileButtons->button(QDialogButtonBox::Open)->text(),
                      fileButtons->button(QDialogButtonBox::Cancel)->text()};
    return shown.replaceInStrings("&", "");
  };
  const QStringList english{"Yes", "No", "Cancel", "Open", "Cancel"};
  const QStringList italian{"S\u00EC", "No", "Annulla", "Apri", "Annulla"};
  EXPECT_EQ(texts(), english);

  frm.ItaLngCmd->trigger();
  QCoreApplication::processEvents();
  EXPECT_EQ(texts(), italian);
  QMessageBox later(QMessageBox::Question, "MIRTE", "?", QMessageBox::Ok | QMessageBox::Cancel);
  EXPECT_EQ(later.button(QMessageBox::Cancel)->text(), "Annulla");

  frm.EngLngCmd->trigger();
  QCoreApplication::processEvents();
  EXPECT_EQ(texts(), english);
}

TEST_F(TermFormTest, ChoosingTheSelectedLanguageOrFontSizeChangesNothing) {
  TTermFrm& frm = Start();
  QSize before = frm.size();
  std::filesystem::remove(settingsFile);
  frm.EngLngCmd->trigger();
  frm.MedChrCmd->trigger();
  EXPECT_FALSE(std::filesystem::exists(settingsFile));
  EXPECT_TRUE(frm.EngLngCmd->isChecked());
  EXPECT_TRUE(frm.MedChrCmd->isChecked()) << "choosing a checked item again leaves it checked";
  EXPECT_EQ(frm.size(), before);
}

TEST_F(TermFormTest, FontSizeResizesTheWindowAroundTheTerminalAndCentresIt) {
  TTermFrm& frm = Start();
  QSize medium = frm.size();
  for (QAction* item : {frm.VBigChrCmd, frm.SmallChrCmd, frm.BigChrCmd}) {
    SCOPED_TRACE(item->objectName().toStdString());
    item->trigger();
    QCoreApplication::processEvents();
    const int w = frm.TerminalWn->CellWidth(), h = frm.TerminalWn->CellHeight();
    QRect cells = frm.TerminalWn->contentsRect();
    EXPECT_GE(cells.width(), 80 * w);
    EXPECT_GE(cells.height(), 24 * h);
    EXPECT_GE(frm.width(), 81 * w + 6 - 20) << "the outer width follows 81 cells";
    EXPECT_EQ(frm.Panels[0]->width(), 170);
    QRect screen = frm.screen()->availableGeometry();
    if (frm.frameGeometry().width() <= screen.width() && frm.frameGeometry().height() <= screen.height()) {
      EXPECT_NEAR(frm.frameGeometry().center().x(), screen.center().x(), 2);
      EXPECT_NEAR(frm.frameGeometry().center().y(), screen.center().y(), 2);
    }
    EXPECT_TRUE(item->isChecked());
    // A size too large for the screen gives way to the largest that fits; the choice is kept.
    EXPECT_LE(frm.TerminalWn->FontSize(), FileRecord().FontSize);
    EXPECT_TRUE(screen.contains(frm.frameGeometry()) || frm.TerminalWn->FontSize() == 8);
  }
  frm.VBigChrCmd->trigger();
  EXPECT_EQ(FileRecord().FontSize, 16);
  QSize large = frm.size();
  EXPECT_GE(large.width(), medium.width());
  EXPECT_GE(large.height(), medium.height());
  EXPECT_FALSE(frm.MedChrCmd->isChecked());
}

TEST_F(TermFormTest, TheSplashSpeaksTheLanguageOfTheSettingsFromItsFirstPaint) {
  for (int language : {kLanguageEnglish, kLanguageItalian}) {
    SettingsRec rec = DefaultRecord();
    rec.Language = static_cast<std::uint8_t>(language);
    WriteSettings(rec);
    TTermFrmOptions options;
    options.ProgramFile = program;
    options.ShowSplash = true;
    options.SplashWait = std::chrono::milliseconds(0);
    QString description;
    // The splash is painted inside the window's construction; its text is read while it
    // is still the one on screen.
    form = std::make_unique<TTermFrm>(options);
    for (QWidget* top : QApplication::topLevelWidgets())
      if (top->objectName() == "SplashFrm")
        if (auto* label = top->findChild<QLabel*>("DescriptionLb")) description = label->text();
    EXPECT_EQ(description.toStdString(),
              language == kLanguageEnglish ? desk_texts::kProductDescription.English
                                           : desk_texts::kProductDescription.Italian);
    for (QWidget* top : QApplication::topLevelWidgets())
      if (top->objectName() == "SplashFrm") top->close();
    form.reset();
  }
}

TEST_F(TermFormTest, ColoursComeFromTheColourDialogAndCancelChangesNothing) {
  std::optional<QColor> answer = QColor(255, 0, 0);
  TTermFrmOptions options;
  options.ProgramFile = program;
  options.ShowSplash = false;
  options.ChooseColor = [&](const QColor&) { return answer; };
  form = std::make_unique<TTermFrm>(options);
  form->ColBackCmd->trigger();
  EXPECT_EQ(form->TerminalWn->Color(), 0x000000FFu);
  EXPECT_EQ(FileRecord().BackColor, 0x000000FFu);
  answer = std::nullopt;
  std::filesystem::remove(settingsFile);
  form->ColTextCmd->trigger();
  EXPECT_EQ(form->TerminalWn->FontColor(), 0x00C0C0C0u);
  EXPECT_FALSE(std::filesystem::exists(settingsFile));
}

TEST_F(TermFormTest, ChangeFolderStoresTheChoiceAndCancelGoesBack) {
  std::filesystem::create_directory(folder / "Board Files");
  std::optional<QString> answer = QString::fromStdString((folder / "Board Files").string());
  TTermFrmOptions options;
  options.ProgramFile = program;
  options.ShowSplash = false;
  QString title;
  options.ChooseFolder = [&](const QString&, const QString& t) {
    title = t;
    return answer;
  };
  form = std::make_unique<TTermFrm>(options);
  form->ChDirCmd->trigger();
  EXPECT_EQ(title, "Change working Folder");
  EXPECT_EQ(std::filesystem::current_path(), folder / "Board Files") << "folder case is kept";
  EXPECT_EQ(FileRecord().WorkFolder.Str(), (folder / "Board Files").string());
  answer = std::nullopt;
  std::filesystem::remove(settingsFile);
  form->ChDirCmd->trigger();
  EXPECT_EQ(std::filesystem::current_path(), folder / "Board Files");
  EXPECT_FALSE(std::filesystem::exists(settingsFile));
}

TEST_F(TermFormTest, ChangeFolderRefusesSystemFoldersSayingWhyAndKeepsTheOldOne) {
  struct Case {
    int language;
    const char* folder;
    const char* says;
  };
  const std::vector<Case> cases = {
      {kLanguageEnglish, "/", "The board may not use the folder /"},
      {kLanguageItalian, "/proc/self", "La scheda non può usare la cartella /proc/self"},
      {kLanguageEnglish, "/run/", "The board may not use the folder /run/"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.folder);
    SettingsRec rec = DefaultRecord();
    rec.Language = c.language;
    WriteSettings(rec);
    TTermFrmOptions options;
    options.ProgramFile = program;
    options.ShowSplash = false;
    options.ChooseFolder = [&](const QString&, const QString&) { return std::optional<QString>(c.folder); };
    form = std::make_unique<TTermFrm>(options);
    const auto before = std::filesystem::current_path();
    std::filesystem::remove(settingsFile);
    mirte::testing::ModalAnswers answers;
    answers.ThenAccept();
    form->ChDirCmd->trigger();
    ASSERT_EQ(answers.MessageTexts().size(), 1u);
    EXPECT_EQ(answers.MessageTexts()[0].rfind(c.says, 0), 0u) << answers.MessageTexts()[0];
    EXPECT_EQ(answers.Unexpected(), 0);
    EXPECT_EQ(std::filesystem::current_path(), before);
    EXPECT_EQ(form->Settings.WorkFolderPath(), (folder / "home/MIRTE").string());
    EXPECT_FALSE(std::filesystem::exists(settingsFile)) << "the settings are not rewritten";
    form.reset();
  }
}

TEST_F(TermFormTest, PrintItemsAreEnabledExactlyWhileAJobIsOpen) {
  TTermFrm& frm = Start();
  auto pdf = std::make_unique<QPrinter>(QPrinter::HighResolution);
  pdf->setOutputFormat(QPrinter::PdfFormat);
  pdf->setOutputFileName(QString::fromStdString((folder / "job.pdf").string()));
  frm.Printer().SetChosenPrinter(std::move(pdf));
  auto expectJob = [&](bool open) {
    for (QAction* item : {frm.PrintCmd, frm.AbortPrintCmd, frm.PrintPup, frm.AbortPrintPup})
      EXPECT_EQ(item->isEnabled(), open) << item->objectName().toStdString();
    EXPECT_EQ(frm.SetPrnCmd->isEnabled(), !open);
  };
  expectJob(false);
  for (int byte : {16, 17, 5, int('X')}) frm.Board().ProcessBoardByte(static_cast<std::uint8_t>(byte));
  expectJob(true);
  EXPECT_EQ(Panel(1), "Document waits for printing");
  frm.ClearTermCmd->trigger();
  EXPECT_EQ(Panel(1), "");
  expectJob(true);
  frm.PrintCmd->trigger();
  expectJob(false);
  EXPECT_TRUE(std::filesystem::exists(folder / "job.pdf"));
  for (int byte : {16, 17, 5, int('Y')}) frm.Board().ProcessBoardByte(static_cast<std::uint8_t>(byte));
  expectJob(true);
  frm.AbortPrintPup->trigger();
  expectJob(false);
  EXPECT_EQ(Panel(1), "");
}

TEST_F(TermFormTest, AJobWrittenAsPdfShowsItsFileNameWithoutTouchingTheMessagePanel) {
  TTermFrm& frm = Start();
  frm.Printer().Printers = TPrinterDirectory::None();
  frm.PdfFileTmr->setInterval(20);
  for (int byte : {16, 17, 5, int('A'), 16, 17, 5, 26}) frm.Board().ProcessBoardByte(static_cast<std::uint8_t>(byte));
  ASSERT_TRUE(frm.PdfFileLb->isVisible());
  const QString name = frm.PdfFileLb->text();
  EXPECT_TRUE(name.startsWith("MIRTE Print ") && name.endsWith(".pdf")) << name.toStdString();
  EXPECT_TRUE(std::filesystem::exists(folder / "home/MIRTE" / name.toStdString())) << "in the working folder";
  EXPECT_EQ(Panel(1), "") << "the message panel keeps its own text";
  QElapsedTimer waited;
  waited.start();
  while (frm.PdfFileLb->isVisible() && waited.elapsed() < 2000) QTest::qWait(10);
  EXPECT_FALSE(frm.PdfFileLb->isVisible());
}

TEST_F(TermFormTest, AJobThatCannotBeWrittenIsReportedInEitherLanguageAndTheNextIsWritten) {
  TTermFrm& frm = Start();
  frm.Printer().PdfOnly = true;
  const std::filesystem::path work = folder / "home/MIRTE";
  const QString workText = QString::fromStdString(work.string());
  auto job = [&frm](char text) {
    for (int byte : {16, 17, 5, int(text), 16, 17, 5, 26}) frm.Board().ProcessBoardByte(static_cast<std::uint8_t>(byte));
  };
  struct {
    int Language;
    const char* Message;
    const char* Reason;
    const char* Notice;
  } const cases[] = {
      {kLanguageEnglish, "The print job could not be written in the folder", "The file is larger than allowed.",
       "Print job not saved"},
      {kLanguageItalian, "Impossibile scrivere la stampa nella cartella", "Il file supera la dimensione consentita.",
       "Stampa non salvata"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Notice);
    frm.Settings.Rec.Language = c.Language;
    testing::ModalAnswers answers;
    answers.ThenAccept();
    {
      testing::ScopedFileSizeLimit full(100);
      ASSERT_TRUE(full.Set());
      job('X');
      // The job ends inside the board's byte: the box waits for the event loop.
      EXPECT_EQ(frm.PdfFileLb->text().toStdString(), c.Notice);
      ASSERT_TRUE(testing::WaitFor([&] { return answers.Answered() == 1; }, std::chrono::milliseconds(3000)));
    }
    EXPECT_EQ(answers.Unexpected(), 0);
    ASSERT_EQ(answers.MessageTexts().size(), 1u);
    const QString text = QString::fromStdString(answers.MessageTexts()[0]);
    EXPECT_TRUE(text.contains(c.Message) && text.contains(workText) && text.contains(c.Reason)) << text.toStdString();
    EXPECT_TRUE(QDir(workText).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot).isEmpty());
  }

  job('Y');
  const QStringList files = QDir(workText).entryList({"*.pdf"}, QDir::Files);
  ASSERT_EQ(files.size(), 1);
  EXPECT_EQ(frm.PdfFileLb->text(), files[0]);
  QProcess pdftotext;
  pdftotext.start("pdftotext", {QDir(workText).filePath(files[0]), "-"});
  ASSERT_TRUE(pdftotext.waitForFinished(20000));
  EXPECT_EQ(QString::fromUtf8(pdftotext.readAllStandardOutput()).simplified(), "Y");
}

TEST_F(TermFormTest, AJobItsWorkingFolderRefusedIsWrittenHomeAndSaysWhere) {
  TTermFrm& frm = Start();
  frm.Printer().PdfOnly = true;
  const std::filesystem::path work = folder / "home/MIRTE";
  std::filesystem::remove_all(work);
  testing::ModalAnswers answers;
  answers.ThenAccept();
  for (int byte : {16, 17, 5, int('Z'), 16, 17, 5, 26}) frm.Board().ProcessBoardByte(static_cast<std::uint8_t>(byte));
  ASSERT_TRUE(testing::WaitFor([&] { return answers.Answered() == 1; }, 3000ms));
  const QStringList files = QDir(QString::fromStdString((folder / "home").string())).entryList({"*.pdf"}, QDir::Files);
  ASSERT_EQ(files.size(), 1);
  EXPECT_EQ(frm.PdfFileLb->text(), files[0]);
  const QString text = QString::fromStdString(answers.MessageTexts().at(0));
  EXPECT_TRUE(text.contains(QString::fromStdString(work.string())) && text.contains("The folder does not exist.") &&
              text.contains("The print job was saved as") && text.contains(files[0]))
      << text.toStdString();
}

TEST_F(TermFormTest, SelectionItemsFollowTheTerminalSelection) {
  TTermFrm& frm = Start();
  frm.TerminalWn->Buffer().PutString("HELLO BOARD");
  const int w = frm.TerminalWn->CellWidth(), h = frm.TerminalWn->CellHeight();
  QPoint from(frm.TerminalWn->contentsRect().topLeft() + QPoint(w / 2, h / 2));
  QPoint to = from + QPoint(4 * w, 0);
  QTest::mouseClick(frm.TerminalWn, Qt::LeftButton, {}, from);
  EXPECT_FALSE(frm.CopiaCmd->isEnabled()) << "a click alone selects nothing";
  QTest::mousePress(frm.TerminalWn, Qt::LeftButton, {}, from);
  QMouseEvent move(QEvent::MouseMove, to, frm.TerminalWn->mapToGlobal(to), Qt::NoButton, Qt::LeftButton, {});
  QApplication::sendEvent(frm.TerminalWn, &move);
  QTest::mouseRelease(frm.TerminalWn, Qt::LeftButton, {}, to);
  ASSERT_TRUE(frm.TerminalWn->HasSelection());
  for (QAction* item : {frm.CopiaCmd, frm.DeSelCmd, frm.CopiaPup, frm.DeSelPup}) EXPECT_TRUE(item->isEnabled());
  frm.CopiaPup->trigger();
  EXPECT_EQ(QApplication::clipboard()->text(), "HELLO\r\n");
  frm.DeSelCmd->trigger();
  EXPECT_FALSE(frm.TerminalWn->HasSelection());
  for (QAction* item : {frm.CopiaCmd, frm.DeSelCmd, frm.CopiaPup, frm.DeSelPup}) EXPECT_FALSE(item->isEnabled());
}

TEST_F(TermFormTest, ExitEndsTheProgramAndCloseClosesThePort) {
  TTermFrm& frm = Start();
  frm.ExitCmd->trigger();
  EXPECT_EQ(terminations, 1);
  EXPECT_FALSE(frm.ComPort.Open());
}

TEST_F(TermFormTest, KeysSendNothingWhileThePortIsNotAvailable) {
  TTermFrm& frm = Start();
  ASSERT_TRUE(frm.Flags().ComNotAvailable);
  frm.TerminalWn->Buffer().PutString("X");
  QTest::keyClick(frm.TerminalWn, Qt::Key_A);
  QTest::keyClick(frm.TerminalWn, Qt::Key_Home, Qt::ControlModifier);
  EXPECT_EQ(RowText(1).substr(0, 1), " ") << "Ctrl+Home still clears the terminal";
  EXPECT_EQ(terminations, 0);
  QTest::keyClick(frm.TerminalWn, Qt::Key_F4, Qt::AltModifier);
  EXPECT_EQ(terminations, 1);
}

TEST_F(TermFormTest, AltWithAMenuLetterOpensThatMenuFromTheTerminal) {
  TTermFrm& frm = Start();
  QTest::keyClick(frm.TerminalWn, Qt::Key_I, Qt::AltModifier);  // "Sett&ings"
  QAction* open = frm.menuBar()->activeAction();
  ASSERT_NE(open, nullptr);
  EXPECT_EQ(open->objectName(), "ImpostazCmd");
  open->menu()->close();
  EXPECT_EQ(terminations, 0);
}

// A board on a pseudo-terminal, reached as COM3 through dosdevices/com3.
class TermFormBoardTest : public TermFormTest {
protected:
  mirte::testing::PtyPair board;

  void SetUp() override {
    TermFormTest::SetUp();
    std::filesystem::create_symlink(board.slavePath(), folder / "dosdevices" / "com3");
  }
  SettingsRec BoardRecord() {
    SettingsRec rec = DefaultRecord();
    rec.ComNumber = 3;
    rec.Baud = 115200;
    rec.WorkFolder.Assign(folder.path().string());
    return rec;
  }
  TTermFrm& StartOnBoard(const SettingsRec& rec) {
    WriteSettings(rec);
    TTermFrm& frm = Start();
    EXPECT_FALSE(frm.Flags().ComNotAvailable);
    EXPECT_TRUE(frm.ComPort.Open());
    return frm;
  }
  Bytes Sent(std::chrono::milliseconds quiet = 150ms) { return board.readUntilQuiet(quiet); }
  // The first `count` bytes however long a loaded machine takes over them, and whatever
  // follows them closely.
  Bytes SentAtLeast(std::size_t count) {
    Bytes got = board.read(count, 5000ms);
    const Bytes rest = Sent();
    got.insert(got.end(), rest.begin(), rest.end());
    return got;
  }
  // The board's side of an exchange: the window answers from its event loop, so events
  // are served while the reply is awaited.
  Bytes Reply(std::size_t count, std::chrono::milliseconds limit = 2000ms) {
    return testing::ReadBesideEventLoop(board, count, limit);
  }
};

TEST_F(TermFormBoardTest, KeysReachTheBoardAsItsCodes) {
  TTermFrm& frm = StartOnBoard(BoardRecord());
  EXPECT_EQ(Panel(0), " COM3:115200 Baud");
  Sent();
  struct KeyCase {
    const char* what;
    Qt::Key key;
    Qt::KeyboardModifiers modifiers;
    Bytes bytes;
  };
  const KeyCase cases[] = {
      {"letter", Qt::Key_A, {}, {0x61}},
      {"Enter", Qt::Key_Return, {}, {0x0D}},
      {"Home", Qt::Key_Home, {}, {0x11, 0x52}},
      {"Page Down", Qt::Key_PageDown, {}, {0x03}},
      {"Delete", Qt::Key_Delete, {}, {0x07}},
      {"Ctrl+C without selection", Qt::Key_C, Qt::ControlModifier, {0x03}},
      {"Shift+Home", Qt::Key_Home, Qt::ShiftModifier, {}},
      {"Ctrl+Shift+Left", Qt::Key_Left, Qt::ControlModifier | Qt::ShiftModifier, {}},
      {"Ctrl+F3 with string 3 empty", Qt::Key_F3, Qt::ControlModifier, {}},
      {"Ctrl+Home", Qt::Key_Home, Qt::ControlModifier, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    QTest::keyClick(frm.TerminalWn, c.key, c.modifiers);
    EXPECT_EQ(SentAtLeast(c.bytes.size()), c.bytes);
  }
  EXPECT_EQ(terminations, 0);
}

TEST_F(TermFormBoardTest, CtrlHomeClearsAndCtrlCCopiesASelection) {
  TTermFrm& frm = StartOnBoard(BoardRecord());
  Sent();
  board.write("HELLO");
  ASSERT_TRUE(WaitFor([&] { return RowText(1).substr(0, 5) == "HELLO"; }));
  const int w = frm.TerminalWn->CellWidth(), h = frm.TerminalWn->CellHeight();
  QPoint from(frm.TerminalWn->contentsRect().topLeft() + QPoint(w / 2, h / 2));
  QPoint to = from + QPoint(2 * w, 0);
  QTest::mousePress(frm.TerminalWn, Qt::LeftButton, {}, from);
  QMouseEvent move(QEvent::MouseMove, to, frm.TerminalWn->mapToGlobal(to), Qt::NoButton, Qt::LeftButton, {});
  QApplication::sendEvent(frm.TerminalWn, &move);
  QTest::mouseRelease(frm.TerminalWn, Qt::LeftButton, {}, to);
  ASSERT_TRUE(frm.TerminalWn->HasSelection());
  QTest::keyClick(frm.TerminalWn, Qt::Key_C, Qt::ControlModifier);
  EXPECT_EQ(QApplication::clipboard()->text(), "HEL\r\n");
  EXPECT_EQ(Sent(), Bytes{}) << "a copy sends nothing";
  QTest::keyClick(frm.TerminalWn, Qt::Key_Home, Qt::ControlModifier);
  EXPECT_EQ(RowText(1).substr(0, 5), "     ");
  EXPECT_EQ(Sent(), Bytes{});
}

TEST_F(TermFormBoardTest, SelectionGoesSoonAfterTheBoardSendsData) {
  TTermFrm& frm = StartOnBoard(BoardRecord());
  board.write("HELLO");
  ASSERT_TRUE(WaitFor([&] { return RowText(1).substr(0, 5) == "HELLO"; }));
  ASSERT_TRUE(WaitFor([&] { return !frm.DeSelTmr->isActive(); }));
  const int w = frm.TerminalWn->CellWidth(), h = frm.TerminalWn->CellHeight();
  QPoint from(frm.TerminalWn->contentsRect().topLeft() + QPoint(w / 2, h / 2));
  QTest::mousePress(frm.TerminalWn, Qt::LeftButton, {}, from);
  QMouseEvent move(QEvent::MouseMove, from + QPoint(2 * w, 0), frm.TerminalWn->mapToGlobal(from), Qt::NoButton,
                   Qt::LeftButton, {});
  QApplication::sendEvent(frm.TerminalWn, &move);
  QTest::mouseRelease(frm.TerminalWn, Qt::LeftButton, {}, from + QPoint(2 * w, 0));
  ASSERT_TRUE(frm.TerminalWn->HasSelection());
  QTest::qWait(250);
  EXPECT_TRUE(frm.TerminalWn->HasSelection()) << "no data, no change";
  board.write("!");
  EXPECT_TRUE(WaitFor([&] { return !frm.TerminalWn->HasSelection(); }));
  EXPECT_FALSE(frm.CopiaCmd->isEnabled());
}

TEST_F(TermFormBoardTest, CloseWhileAStringWaitsForItsEchoEndsSoon) {
  SettingsRec rec = BoardRecord();
  rec.UserStr[0].Assign("AB");
  TTermFrm& frm = StartOnBoard(rec);
  Sent();
  // The close comes once the board has taken the "A": the port's close discards output
  // that has not left the PC, and on a pty a byte waits in the kernel until it is read.
  Bytes reached;
  QElapsedTimer sinceSend, sinceClose;
  QTimer boardReads;
  boardReads.setInterval(5);
  QObject::connect(&boardReads, &QTimer::timeout, &frm, [&] {
    const Bytes got = board.read(1, 1ms);
    reached.insert(reached.end(), got.begin(), got.end());
    if (reached.empty() && sinceSend.elapsed() < 3000) return;
    boardReads.stop();
    frm.close();
    sinceClose.start();
  });
  sinceSend.start();
  boardReads.start();
  frm.TxStrCmd[0]->trigger();  // waits for the board's echo of "A", which never comes
  EXPECT_TRUE(frm.isVisible()) << "the close is deferred while the string is sent";
  EXPECT_TRUE(frm.Flags().CloseRequested);
  EXPECT_TRUE(WaitFor([&] { return terminations > 0; }, 1000ms));
  EXPECT_LT(sinceClose.elapsed(), 500) << "the refresh timer ends the program on its next 200 ms tick";
  const Bytes rest = Sent();
  reached.insert(reached.end(), rest.begin(), rest.end());
  EXPECT_EQ(reached, Bytes{'A'}) << "the rest of the string is not sent";
}

using testing::bytes::Frame;
using testing::bytes::ListOutput;
using testing::bytes::NameBlock;
using testing::bytes::Plus;

// The board as a thread of its own that times the program's replies, while the window's
// event loop runs as it does in the program.
class TermFormLiveBoardTest : public TermFormBoardTest {
protected:
  using Clock = std::chrono::steady_clock;

  void SetUp() override {
    TermFormBoardTest::SetUp();
    StartOnBoard(BoardRecord());
    Sent();
  }

  // Runs `play` on the board thread; the event loop runs until it has ended.
  void PlayBoard(const std::function<void()>& play) { testing::RunEventLoopBeside(play); }

  // Board thread: sends the frame and waits for `length` reply bytes; the milliseconds
  // from the frame's last byte to the reply's last byte, or -1 without a whole reply. The
  // clock is read before the last byte goes out, so a late board never flatters a reply.
  double Exchange(const Bytes& frame, std::size_t length, Bytes* reply = nullptr) {
    board.write(Bytes(frame.begin(), frame.end() - 1));
    const auto lastByte = Clock::now();
    board.write(Bytes{frame.back()});
    Bytes got = board.read(length, 3000ms);
    const double millis = std::chrono::duration<double, std::milli>(Clock::now() - lastByte).count();
    if (reply) *reply = got;
    return got.size() == length ? millis : -1;
  }

  QStringList PdfFiles() {
    return QDir(QString::fromStdString(folder.path().string())).entryList({"*.pdf"}, QDir::Files);
  }
  void ExpectNoJob() {
    for (QAction* item : {form->PrintCmd, form->AbortPrintCmd, form->PrintPup, form->AbortPrintPup})
      EXPECT_FALSE(item->isEnabled()) << item->objectName().toStdString();
    EXPECT_TRUE(form->SetPrnCmd->isEnabled());
    EXPECT_EQ(Panel(1), "");
  }
};

// The text lines of a PDF, blanks simplified, without empty lines and page breaks.
std::vector<std::string> PdfLines(const QString& file) {
  QProcess pdftotext;
  pdftotext.start("pdftotext", {file, "-"});
  if (!pdftotext.waitForFinished(60000)) return {};
  std::vector<std::string> lines;
  for (const QString& line : QString::fromUtf8(pdftotext.readAllStandardOutput()).split('\n')) {
    const QString text = QString(line).remove('\f').simplified();
    if (!text.isEmpty()) lines.push_back(text.toStdString());
  }
  return lines;
}

TEST_F(TermFormLiveBoardTest, RecordsTravelSoonAfterTheWaitAndNeverBeforeIt) {
  // A loaded machine can stretch every exchange of a round, so rounds go on, each on a
  // file of its own, until both kinds have had a fast one: a cost paid by every reply (a
  // second wait, a reply held for a timer's tick) never gives one, however long it goes.
  // The benchmark holds the real limits.
  constexpr double kSoon = 8.0;
  constexpr int kRecords = 40;
  std::map<int, std::vector<double>> millis;  // by frame type
  std::vector<std::string> failures;
  auto fast = [&](int type) {
    const auto& took = millis[type];
    return std::any_of(took.begin(), took.end(), [&](double ms) { return ms < kSoon; });
  };
  for (int round = 0; round < 6 && failures.empty() && !(fast(21) && fast(20)); ++round) {
    const Bytes name = NameBlock(("TIMED" + std::to_string(round)).c_str(), "DAT");
    PlayBoard([&] {
      auto exchange = [&](const Bytes& frame, std::size_t length) {
        Bytes reply;
        const double ms = Exchange(frame, length, &reply);
        if (ms < 0 || reply[0] != 0) failures.push_back("type " + std::to_string(frame[2]));
        else millis[frame[2]].push_back(ms);
      };
      exchange(Frame(22, name), 1);
      for (int i = 0; i < kRecords; ++i)
        exchange(Frame(21, name, Bytes(128, static_cast<std::uint8_t>(i))), 1);
      exchange(Frame(16, name), 1);
      exchange(Frame(15, name), 1);
      for (int i = 0; i < kRecords; ++i) exchange(Frame(20, name), 129);
    });
  }
  EXPECT_TRUE(failures.empty()) << failures.front();
  for (int type : {21, 20}) {
    SCOPED_TRACE("type " + std::to_string(type));
    ASSERT_GE(millis[type].size(), static_cast<std::size_t>(kRecords));
    const double fastest = *std::min_element(millis[type].begin(), millis[type].end());
    EXPECT_GE(fastest, 5.0);
    EXPECT_LT(fastest, kSoon) << "best of " << millis[type].size();
  }
  EXPECT_EQ(Panel(1), "");
  EXPECT_FALSE(form->Flags().TxBusy);
}

TEST_F(TermFormLiveBoardTest, ALongListingIsTakenWholeWhileTheWindowKeepsServingEvents) {
  form->Printer().Printers = TPrinterDirectory::None();
  std::string text;
  for (int line = 1; text.size() < 10000; ++line) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%04d LIST OUTPUT FROM THE BOARD\r\n", line);
    text += buffer;
  }
  text.resize(10000);
  std::vector<std::string> lines;
  for (std::size_t from = 0; from < text.size();) {
    std::size_t end = std::min(text.find('\n', from), text.size());
    std::string line = QString::fromStdString(text.substr(from, end - from)).simplified().toStdString();
    if (!line.empty()) lines.push_back(line);
    from = end + 1;
  }

  // The event loop's own timer: how long it ever went without a turn during the listing.
  QElapsedTimer sinceTick;
  qint64 longestGap = 0;
  QTimer ticker;
  ticker.setInterval(10);
  QObject::connect(&ticker, &QTimer::timeout, [&] {
    longestGap = std::max(longestGap, sinceTick.restart());
  });
  Bytes reply;
  PlayBoard([&] {
    QMetaObject::invokeMethod(&ticker, [&] { sinceTick.start(); ticker.start(); }, Qt::QueuedConnection);
    board.write(Plus(ListOutput(text), Frame(25, {})));
    reply = board.read(1, 120000ms);
  });
  ticker.stop();
  ASSERT_EQ(reply.size(), 1u) << "the frame after the listing is answered";
  EXPECT_LT(longestGap, 1000) << "the window is served between bursts of the listing";
  EXPECT_TRUE(form->Board().PrintJobOpen());
  EXPECT_EQ(Panel(1), "Document waits for printing");

  PlayBoard([&] { Exchange(Plus(ListOutput("\x1A"), Frame(25, {})), 1); });
  const QStringList files = PdfFiles();
  ASSERT_EQ(files.size(), 1);
  EXPECT_EQ(PdfLines(QDir(QString::fromStdString(folder.path().string())).filePath(files[0])), lines);
  ExpectNoJob();
}

TEST_F(TermFormLiveBoardTest, JobsWithNothingDrawnLeaveNoFileAndTheWindowAsItWas) {
  form->Printer().Printers = TPrinterDirectory::None();
  const struct {
    const char* what;
    std::string listing;
  } cases[] = {
      {"Ctrl-Z with no job open", "\x1A"},
      {"a run of 100 Ctrl-Z", std::string(100, '\x1A')},
      {"a job of CR and LF only", "\r\n\r\n\n\x1A"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ExpectNoJob();
    double ms = -1;
    PlayBoard([&] { ms = Exchange(Plus(ListOutput(c.listing), Frame(25, {})), 1); });
    EXPECT_GE(ms, 5.0);
    EXPECT_TRUE(PdfFiles().isEmpty());
    EXPECT_FALSE(form->PdfFileLb->isVisible());
    ExpectNoJob();
  }
}

// --- Console: paste, log and save -----------------------------------------------------------

// Plays a board that echoes every byte it takes, from the window's own event loop, and
// notes how many bytes each read found: one each time, when the sender waits for echoes.
class EchoingBoard {
public:
  explicit EchoingBoard(mirte::testing::PtyPair& pty) : board(pty) {
    timer.setInterval(5);
    QObject::connect(&timer, &QTimer::timeout, [this] {
      Bytes got = board.read(64, 3ms);  // a shorter wait rounds down to none
      if (got.empty()) return;
      chunks.push_back(got.size());
      received.insert(received.end(), got.begin(), got.end());
      if (echo) board.write(got);
    });
    timer.start();
  }
  mirte::testing::PtyPair& board;
  QTimer timer;
  bool echo = true;
  Bytes received;
  std::vector<std::size_t> chunks;
};

TEST_F(TermFormBoardTest, PasteTypesTheClipboardPacedByTheEchoUntilEsc) {
  TTermFrm& frm = StartOnBoard(BoardRecord());
  Sent();
  EchoingBoard echoing(board);
  // A paste that never ends would hang the test; this ends it as a close would.
  QTimer guard;
  guard.setSingleShot(true);
  QObject::connect(&guard, &QTimer::timeout, [&] { frm.Flags().CloseRequested = true; });
  guard.start(5000);
  QApplication::clipboard()->setText(QString::fromUtf8("ab\ncd\r\n\u00e9f"));
  QTest::keyClick(frm.TerminalWn, Qt::Key_Insert, Qt::ShiftModifier);  // returns when sent
  ASSERT_TRUE(WaitFor([&] { return echoing.received.size() >= 8; }, 2000ms))
      << std::string(echoing.received.begin(), echoing.received.end()) << " " << echoing.chunks.size();
  EXPECT_EQ(echoing.received, (Bytes{'a', 'b', '\r', 'c', 'd', '\r', 0xE9, 'f'}));
  EXPECT_EQ(echoing.chunks, std::vector<std::size_t>(8, 1)) << "one character per echo";
  EXPECT_FALSE(frm.Flags().TxBusy);
  // The board's screen shows the echoes: CR returned to column 1 each time.
  ASSERT_TRUE(WaitFor([&] { return RowText(1).substr(0, 2) == "\xe9" "f"; }));

  // A board that stays silent keeps the paste waiting after its first character; Esc ends
  // it and is not sent. Ctrl+V is still the board's key.
  echoing.echo = false;
  echoing.received.clear();
  QApplication::clipboard()->setText("xyz");
  QTimer::singleShot(100, &frm, [&] { QTest::keyClick(frm.TerminalWn, Qt::Key_Escape); });
  frm.PasteCmd->trigger();
  EXPECT_FALSE(frm.Pasting());
  EXPECT_FALSE(frm.Flags().TxBusy);
  QTest::keyClick(frm.TerminalWn, Qt::Key_V, Qt::ControlModifier);
  ASSERT_TRUE(WaitFor([&] { return echoing.received.size() >= 2; }));
  QTest::qWait(100);
  EXPECT_EQ(echoing.received, (Bytes{'x', 0x16}));
}

TEST_F(TermFormBoardTest, LogConsoleAppendsTheBoardsTextWhileChecked) {
  SettingsRec rec = BoardRecord();
  rec.Language = kLanguageEnglish;
  TTermFrm& frm = StartOnBoard(rec);
  EXPECT_EQ(Caption("LogConsoleCmd"), "&Log Console...");
  EXPECT_EQ(Caption("SaveTextCmd"), "&Save Console Text...");
  EXPECT_EQ(Caption("PasteCmd"), "&Paste");
  Sent();
  chosenFile.reset();
  frm.LogConsoleCmd->trigger();  // the dialog is cancelled
  EXPECT_FALSE(frm.LogConsoleCmd->isChecked());

  chosenFile = QString::fromStdString((folder / "board.log").string());
  frm.LogConsoleCmd->trigger();
  EXPECT_TRUE(frm.LogConsoleCmd->isChecked());
  board.write("MIRTE\r\n");
  Bytes currentDrive{16, 17, 25};  // a command frame in between, answered and not logged
  board.write(currentDrive);
  EXPECT_EQ(Reply(1).size(), 1u);
  board.write("A>\xc9\xcd");
  // Whole lines reach the file within a second, while logging goes on.
  EXPECT_TRUE(WaitFor([&] {
    const Bytes text = folder.read("board.log");
    return std::string(text.begin(), text.end()) == "MIRTE\n";
  }, 2000ms));
  ASSERT_TRUE(WaitFor([&] { return RowText(2).substr(0, 2) == "A>"; }));
  frm.LogConsoleCmd->trigger();
  EXPECT_FALSE(frm.LogConsoleCmd->isChecked());
  board.write("more\r\n");
  ASSERT_TRUE(WaitFor([&] { return RowText(2).substr(4, 4) == "more"; }));
  const Bytes text = folder.read("board.log");
  EXPECT_EQ(std::string(text.begin(), text.end()), "MIRTE\nA>\u2554\u2550\n");
}

// What cannot take a log without holding the console up is refused with a message box in
// the window's language, and the board's next frame is answered at once all the same.
TEST_F(TermFormBoardTest, LogConsoleRefusesWhatIsNotARegularFileAndKeepsServing) {
  const std::string fifo = (folder / "pipe").string();
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  struct TCase {
    std::string path;
    int language;
    std::string text;
  };
  const TCase cases[] = {
      {fifo, kLanguageEnglish, "The console log goes to a regular file"},
      {"/dev/null", kLanguageEnglish, "The console log goes to a regular file"},
      {folder.path().string(), kLanguageItalian, "Il registro della console va in un file normale"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.path);
    SettingsRec rec = BoardRecord();
    rec.Language = c.language;
    TTermFrm& frm = StartOnBoard(rec);
    Sent();
    mirte::testing::ModalAnswers answers;
    answers.ThenAccept();
    chosenFile = QString::fromStdString(c.path);
    frm.LogConsoleCmd->trigger();
    EXPECT_FALSE(frm.LogConsoleCmd->isChecked());
    EXPECT_FALSE(frm.ConsoleLog.IsOpen());
    ASSERT_EQ(answers.MessageTexts().size(), 1u);
    EXPECT_EQ(answers.MessageTexts()[0].rfind(c.text, 0), 0u) << answers.MessageTexts()[0];
    board.write(Bytes{16, 17, 25});  // the current drive
    EXPECT_EQ(Reply(1).size(), 1u);
    form.reset();  // the next start takes the port afresh
  }
}

// A log that can take no more (the file size limit standing in for a full disk) stops with
// its reason in the status bar, keeps what it wrote, and the board is served on.
TEST_F(TermFormBoardTest, LogConsoleStopsWithItsReasonWhenAWriteFails) {
  SettingsRec rec = BoardRecord();
  rec.Language = kLanguageEnglish;
  TTermFrm& frm = StartOnBoard(rec);
  Sent();
  chosenFile = QString::fromStdString((folder / "board.log").string());
  frm.LogConsoleCmd->trigger();
  ASSERT_TRUE(frm.LogConsoleCmd->isChecked());
  board.write("kept\r\n");
  ASSERT_TRUE(WaitFor([&] { return folder.read("board.log").size() == 5; }, 2000ms));
  {
    mirte::testing::ScopedFileSizeLimit full(5);
    ASSERT_TRUE(full.Set());
    board.write("lost\r\n");
    ASSERT_TRUE(WaitFor([&] { return !frm.LogConsoleCmd->isChecked(); }, 2000ms));
  }
  EXPECT_EQ(Panel(1).toStdString().rfind("logging stopped: ", 0), 0u) << Panel(1).toStdString();
  EXPECT_FALSE(frm.ConsoleLog.IsOpen());
  board.write(Bytes{16, 17, 25});
  EXPECT_EQ(Reply(1).size(), 1u);
  const Bytes text = folder.read("board.log");
  EXPECT_EQ(std::string(text.begin(), text.end()), "kept\n");
}

TEST_F(TermFormBoardTest, SaveConsoleTextWritesHistoryAndScreen) {
  TTermFrm& frm = StartOnBoard(BoardRecord());
  std::string stream, expected;
  for (int n = 1; n <= 40; ++n) {
    stream += "line " + std::to_string(n) + "\r\n";
    expected += "line " + std::to_string(n) + "\n";
  }
  board.write(stream + "end \xb1  ");
  ASSERT_TRUE(WaitFor([&] { return RowText(24).substr(0, 3) == "end"; }));
  chosenFile = QString::fromStdString((folder / "saved.txt").string());
  frm.SaveTextCmd->trigger();
  const Bytes text = folder.read("saved.txt");
  EXPECT_EQ(std::string(text.begin(), text.end()), expected + "end \u2592\n");
  EXPECT_EQ(frm.TerminalWn->Buffer().RowsAbove(), 17);
  QTest::keyClick(frm.TerminalWn, Qt::Key_Home, Qt::ControlModifier);  // Clear Terminal
  EXPECT_EQ(frm.TerminalWn->Buffer().RowsAbove(), 0);
}

}  // namespace
}  // namespace mirte
