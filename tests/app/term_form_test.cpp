#include "app/term_form.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDialogButtonBox>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPrinter>
#include <QPrinterInfo>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>
#include <QTest>
#include <QTimer>

#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>

#include "app/com_port_options.h"
#include "common/msg_table.h"
#include "app/printer_canvas_qt.h"
#include "board/board_service.h"
#include "support/qt_test_app.h"
#include "support/pty_pair.h"
#include "support/temp_folder.h"
#include "terminal/terminal_widget.h"

namespace mirte {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

QApplication& App() { return mirte::testing::TestApp(); }

bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds limit = 3000ms) {
  QElapsedTimer clock;
  clock.start();
  while (!done()) {
    if (clock.elapsed() > limit.count()) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    QTest::qSleep(2);
  }
  return true;
}

// A program folder of its own for every test: the settings file, dosdevices/ and the
// working folder all live there. COM1 leads to a device that does not exist.
class TermFormTest : public ::testing::Test {
protected:
  mirte::testing::TempFolder folder;
  std::string program = (folder / "mirte").string();
  std::filesystem::path settingsFile = folder / "mirte.SET";
  std::unique_ptr<TTermFrm> form;
  int terminations = 0;

  void SetUp() override {
    App();
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
    Bytes bytes(size, 0);
    std::memcpy(bytes.data(), &rec, std::min(size, sizeof rec));
    folder.write("mirte.SET", bytes);
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
    options.ProgramFile = program;
    options.ShowSplash = false;
    options.Terminate = [this] { ++terminations; };
    form = std::make_unique<TTermFrm>(options);
    form->show();
    QCoreApplication::processEvents();
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
  EXPECT_EQ(std::filesystem::current_path(), folder.path());
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
  rec.UserStr[4].assign("TEST");
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
  rec.UserStr[4].assign("TEST");
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
    EXPECT_EQ(FileRecord().FontSize, frm.TerminalWn->FontSize());
  }
  frm.VBigChrCmd->trigger();
  QSize large = frm.size();
  EXPECT_GT(large.width(), medium.width());
  EXPECT_GT(large.height(), medium.height());
  EXPECT_FALSE(frm.MedChrCmd->isChecked());
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
  EXPECT_EQ(FileRecord().WorkFolder.str(), (folder / "Board Files").string());
  answer = std::nullopt;
  std::filesystem::remove(settingsFile);
  form->ChDirCmd->trigger();
  EXPECT_EQ(std::filesystem::current_path(), folder / "Board Files");
  EXPECT_FALSE(std::filesystem::exists(settingsFile));
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
  if (!QPrinterInfo::defaultPrinter().isNull()) GTEST_SKIP() << "a default printer exists";
  TTermFrm& frm = Start();
  frm.PdfFileTmr->setInterval(20);
  for (int byte : {16, 17, 5, int('A'), 16, 17, 5, 26}) frm.Board().ProcessBoardByte(static_cast<std::uint8_t>(byte));
  ASSERT_TRUE(frm.PdfFileLb->isVisible());
  const QString name = frm.PdfFileLb->text();
  EXPECT_TRUE(name.startsWith("MIRTE Print ") && name.endsWith(".pdf")) << name.toStdString();
  EXPECT_TRUE(std::filesystem::exists(folder / name.toStdString()));
  EXPECT_EQ(Panel(1), "") << "the message panel keeps its own text";
  QElapsedTimer waited;
  waited.start();
  while (frm.PdfFileLb->isVisible() && waited.elapsed() < 2000) QTest::qWait(10);
  EXPECT_FALSE(frm.PdfFileLb->isVisible());
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
    rec.WorkFolder.assign(folder.path().string());
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
  // The board's side of an exchange: the window answers from its event loop, so events
  // are served while the reply is awaited.
  Bytes Reply(std::size_t count, std::chrono::milliseconds limit = 2000ms) {
    Bytes got;
    QElapsedTimer clock;
    clock.start();
    while (got.size() < count && clock.elapsed() < limit.count()) {
      QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
      Bytes chunk = board.read(count - got.size(), 2ms);
      got.insert(got.end(), chunk.begin(), chunk.end());
    }
    return got;
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
    EXPECT_EQ(Sent(), c.bytes);
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
  EXPECT_TRUE(WaitFor([&] { return !frm.TerminalWn->HasSelection(); }, 1000ms));
  EXPECT_FALSE(frm.CopiaCmd->isEnabled());
}

TEST_F(TermFormBoardTest, CloseWhileAStringWaitsForItsEchoEndsSoon) {
  SettingsRec rec = BoardRecord();
  rec.UserStr[0].assign("AB");
  TTermFrm& frm = StartOnBoard(rec);
  Sent();
  QElapsedTimer sinceClose;
  QTimer::singleShot(50, &frm, [&] {
    frm.close();
    sinceClose.start();
  });
  frm.TxStrCmd[0]->trigger();  // waits for the board's echo of "A", which never comes
  EXPECT_TRUE(frm.isVisible()) << "the close is deferred while the string is sent";
  EXPECT_TRUE(frm.Flags().CloseRequested);
  EXPECT_TRUE(WaitFor([&] { return terminations > 0; }, 1000ms));
  EXPECT_LT(sinceClose.elapsed(), 500) << "the refresh timer ends the program on its next 200 ms tick";
  EXPECT_EQ(Sent(), Bytes{'A'}) << "the rest of the string is not sent";
}

Bytes NameBlock(const char* name, const char* ext) {
  Bytes block(12, ' ');
  block[0] = 0;
  for (std::size_t i = 0; name[i]; ++i) block[1 + i] = static_cast<std::uint8_t>(name[i]);
  for (std::size_t i = 0; ext[i]; ++i) block[9 + i] = static_cast<std::uint8_t>(ext[i]);
  return block;
}

Bytes Frame(std::uint8_t type, const Bytes& params, const Bytes& data = {}) {
  Bytes frame{16, 17, type};
  frame.insert(frame.end(), params.begin(), params.end());
  frame.insert(frame.end(), data.begin(), data.end());
  return frame;
}

TEST_F(TermFormBoardTest, ServesTheBoardsConsoleAndDiskThroughTheRunningWindow) {
  TTermFrm& frm = StartOnBoard(BoardRecord());
  Sent();
  board.write("MIRTE\r\nA>");
  ASSERT_TRUE(WaitFor([&] { return RowText(2).substr(0, 2) == "A>"; }));
  EXPECT_EQ(RowText(1).substr(0, 5), "MIRTE");

  const Bytes name = NameBlock("TEST", "TXT");
  Bytes record(128);
  for (std::size_t i = 0; i < record.size(); ++i) record[i] = static_cast<std::uint8_t>(i);
  board.write(Frame(22, name));  // make
  EXPECT_EQ(Reply(1), Bytes{0});
  board.write(Frame(21, name, record));  // write next record
  EXPECT_EQ(Reply(1), Bytes{0});
  board.write(Frame(16, name));  // close
  EXPECT_EQ(Reply(1), Bytes{0});
  EXPECT_EQ(folder.read("TEST.TXT"), record);

  board.write(Frame(15, name));  // open
  EXPECT_EQ(Reply(1), Bytes{0});
  board.write(Frame(20, name));  // read next record: result, then the record
  Bytes reply = Reply(129);
  ASSERT_EQ(reply.size(), 129u);
  EXPECT_EQ(reply[0], 0);
  EXPECT_EQ(Bytes(reply.begin() + 1, reply.end()), record);
  board.write(Frame(20, name));
  EXPECT_EQ(Reply(129)[0], 1) << "end of file";

  board.write("OK");
  EXPECT_TRUE(WaitFor([&] { return RowText(2).substr(0, 4) == "A>OK"; }));
  EXPECT_EQ(Panel(1), "");
  EXPECT_FALSE(frm.Flags().TxBusy);
}

}  // namespace
}  // namespace mirte
