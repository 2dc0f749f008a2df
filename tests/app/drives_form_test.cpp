// The Drives window on the running main window, with a board on a pseudo-terminal: mapping
// and removing drives by their links, and the board's view of a folder.
#include "app/drives_form.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <QAction>
#include <QCheckBox>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QHeaderView>
#include <QScreen>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>

#include "app/term_form.h"
#include "common/settings.h"
#include "support/modal_answers.h"
#include "support/pty_pair.h"
#include "support/qt_test_app.h"
#include "support/qt_wait.h"
#include "support/scoped_environment.h"
#include "support/temp_folder.h"

namespace mirte {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

using testing::WaitFor;

Bytes Frame(std::uint8_t type, std::uint8_t drive, const std::string& fcb) {
  Bytes frame(4 + fcb.size());
  frame[0] = 16;
  frame[1] = 17;
  frame[2] = type;
  frame[3] = drive;
  std::copy(fcb.begin(), fcb.end(), frame.begin() + 4);
  return frame;
}

QStringList Column(QTreeWidget* list, int column) {
  QStringList texts;
  for (int i = 0; i < list->topLevelItemCount(); ++i) texts << list->topLevelItem(i)->text(column);
  return texts;
}

// A program folder of its own with the board on COM3, a working folder and a folder to map.
class DrivesFormTest : public ::testing::Test {
protected:
  mirte::testing::TempFolder folder;
  // Made before the folders below are set: its first making points the config folder at
  // the one every test process shares, and would undo this test's own.
  QApplication& app = mirte::testing::TestApp();
  mirte::testing::ScopedEnvironment home{"HOME", (folder / "home").string()};
  // Where the window was left is kept in the user's config folder: this test's own.
  mirte::testing::ScopedEnvironment config{"XDG_CONFIG_HOME", (folder / "home/.config").string()};
  mirte::testing::PtyPair board;
  std::unique_ptr<TTermFrm> form;
  std::optional<QString> answer;

  void SetUp() override {
    mirte::testing::TestApp();
    fs::create_directories(folder / "home");
    fs::create_directories(folder / "dosdevices");
    fs::create_directories(folder / "work");
    fs::create_directories(folder / "diskB");
    fs::create_symlink(board.slavePath(), folder / "dosdevices/com3");
  }
  void TearDown() override { form.reset(); }

  TDrivesFrm& Open(int language) {
    TSettings settings;
    settings.ProgramFolder = folder.path().string() + "/";
    settings.SetDefaultSettings();
    settings.Rec.Language = static_cast<std::uint8_t>(language);
    settings.Rec.ComNumber = 3;
    settings.SetWorkFolder((folder / "work").string());
    Bytes bytes(sizeof settings.Rec);
    std::memcpy(bytes.data(), &settings.Rec, sizeof settings.Rec);
    folder.write("mirte.SET", bytes);

    TTermFrmOptions options;
    options.ProgramFile = (folder / "mirte").string();
    options.ShowSplash = false;
    options.ChooseFolder = [this](const QString&, const QString&) { return answer; };
    form = std::make_unique<TTermFrm>(options);
    form->show();
    QCoreApplication::processEvents();
    board.readUntilQuiet(100ms);
    form->DrivesCmd->trigger();
    EXPECT_NE(form->DrivesFrm(), nullptr);
    return *form->DrivesFrm();
  }
  // One frame from the board and the first byte of the answer.
  int Result(const Bytes& frame, std::size_t replySize = 1) {
    board.write(frame);
    const Bytes got = testing::ReadBesideEventLoop(board, replySize, 2000ms);
    return got.size() == replySize ? got[0] : -1;
  }
};

TEST_F(DrivesFormTest, MappingWritesTheLinkTheBoardUsesAndRemovingTakesItAway) {
  folder.write("diskB/BFILE.TXT", std::string(128, 'b'));
  TDrivesFrm& frm = Open(kLanguageEnglish);
  EXPECT_EQ(frm.DrivesWn->topLevelItemCount(), 16);
  EXPECT_EQ(frm.SelectedDrive(), 'C') << "the working folder's drive is selected first";
  EXPECT_EQ(frm.DrivesWn->topLevelItem(2)->text(1), QString::fromStdString(fs::canonical(folder / "work").string()));
  EXPECT_EQ(frm.DrivesWn->topLevelItem(2)->text(2), "working folder");
  EXPECT_FALSE(frm.ChooseBtn->isEnabled());
  EXPECT_FALSE(frm.RemoveBtn->isEnabled());
  EXPECT_EQ(Result(Frame(15, 2, "BFILE   TXT")), 255) << "no drive B yet";

  frm.SelectDrive('B');
  EXPECT_EQ(frm.DrivesWn->topLevelItem(1)->text(1), "—");
  answer = QString::fromStdString((folder / "diskB").string());
  frm.ChooseBtn->click();
  EXPECT_TRUE(fs::is_symlink(folder / "dosdevices/b:"));
  EXPECT_EQ(frm.DrivesWn->topLevelItem(1)->text(1), QString::fromStdString(fs::canonical(folder / "diskB").string()));
  EXPECT_TRUE(frm.RemoveBtn->isEnabled());
  EXPECT_EQ(Column(frm.BoardFilesWn, 0), QStringList{"BFILE.TXT"});
  EXPECT_EQ(Result(Frame(15, 2, "BFILE   TXT")), 0) << "the board finds the folder's file on drive 2";
  EXPECT_EQ(Result(Frame(20, 2, "BFILE   TXT"), 129), 0);

  frm.RemoveBtn->click();
  EXPECT_FALSE(fs::exists(fs::symlink_status(folder / "dosdevices/b:")));
  EXPECT_EQ(frm.DrivesWn->topLevelItem(1)->text(1), "—");
  EXPECT_EQ(Result(Frame(20, 2, "BFILE   TXT"), 129), 255) << "an open file of the drive is gone";
  EXPECT_EQ(Result(Frame(15, 2, "BFILE   TXT")), 255);
  EXPECT_TRUE(fs::exists(folder / "diskB/BFILE.TXT"));

  // A link made by hand is the same thing, and one that leads nowhere shows as missing.
  fs::create_symlink(folder / "gone", folder / "dosdevices/e:");
  ASSERT_TRUE(WaitFor([&] { return frm.DrivesWn->topLevelItem(4)->text(1).startsWith("missing: "); }));
  EXPECT_EQ(Result(Frame(15, 5, "ANY     TXT")), 255);
}

TEST_F(DrivesFormTest, SystemFoldersAreRefusedWhenChosenAndShownAsRefusedWhenLinkedByHand) {
  struct Case {
    int language;
    const char* chosen;
    const char* says;
    const char* linked;
    const char* shown;
  };
  const std::vector<Case> cases = {
      {kLanguageEnglish, "/", "The board may not use the folder /", "/proc", "refused (a system folder): /proc"},
      {kLanguageItalian, "/dev/shm", "La scheda non può usare la cartella /dev/shm", "/", "rifiutata (cartella del sistema): /"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.chosen);
    fs::remove(folder / "dosdevices/b:");
    fs::remove(folder / "dosdevices/e:");
    TDrivesFrm& frm = Open(c.language);
    frm.SelectDrive('B');
    answer = QString(c.chosen);
    mirte::testing::ModalAnswers answers;
    answers.ThenAccept();
    frm.ChooseBtn->click();
    ASSERT_EQ(answers.MessageTexts().size(), 1u);
    EXPECT_EQ(answers.MessageTexts()[0].rfind(c.says, 0), 0u) << answers.MessageTexts()[0];
    EXPECT_FALSE(fs::exists(fs::symlink_status(folder / "dosdevices/b:")));
    EXPECT_EQ(Result(Frame(15, 2, "ANY     TXT")), 255);

    fs::create_symlink(c.linked, folder / "dosdevices/e:");
    ASSERT_TRUE(WaitFor([&] { return frm.DrivesWn->topLevelItem(4)->text(1) == QString::fromUtf8(c.shown); }))
        << frm.DrivesWn->topLevelItem(4)->text(1).toStdString();
    EXPECT_EQ(Result(Frame(15, 5, "ANY     TXT")), 255) << "the board gets no drive from it";
    EXPECT_EQ(answers.Unexpected(), 0);
    form.reset();
  }
}

TEST_F(DrivesFormTest, TheBoardsViewShowsAliasesAndWhatItCannotReachAndFollowsTheFolder) {
  folder.write("work/Long file name.txt", std::string(300, 'l'));
  folder.write("work/PLAIN.DAT", "p");
  folder.write("work/.hidden", "h");
  fs::create_directories(folder / "work/sub");
  TDrivesFrm& frm = Open(kLanguageEnglish);
  EXPECT_EQ(Column(frm.BoardFilesWn, 0), (QStringList{"LONGFI~1.TXT", "PLAIN.DAT"}));
  EXPECT_EQ(Column(frm.BoardFilesWn, 1), (QStringList{"Long file name.txt", "PLAIN.DAT"}));
  EXPECT_EQ(Column(frm.BoardFilesWn, 2), (QStringList{"3", "1"}));
  EXPECT_EQ(Column(frm.ApartWn, 0), (QStringList{".hidden", "Long file name.txt", "sub"}));
  EXPECT_EQ(Column(frm.ApartWn, 1),
            (QStringList{"hidden file", "not an 8.3 name: the board sees it as LONGFI~1.TXT", "folder"}));

  folder.write("work/ADDED.TXT", "a");
  EXPECT_TRUE(WaitFor([&] { return Column(frm.BoardFilesWn, 0).contains("ADDED.TXT"); }))
      << "the view follows the folder while open";
}

TEST_F(DrivesFormTest, TheHardLinkSwitchIsPerDriveKeptForTheBoardAndShownInTheView) {
  struct Case {
    int language;
    const char* switchText;
    const char* readOnly;
    const char* writable;
  };
  const Case cases[] = {
      {kLanguageEnglish, "The board may write files with more than one hard link", "yes: 2 hard links",
       "no: 2 hard links, writable on this drive"},
      {kLanguageItalian, "La scheda può scrivere i file con più collegamenti fisici", "sì: 2 collegamenti fisici",
       "no: 2 collegamenti fisici, scrivibili su questa unità"},
  };
  folder.write("work/ALONE.TXT", "a");
  Bytes write = Frame(21, 0, "TWIN    TXT");
  write.resize(write.size() + 128, 'w');
  for (const Case& c : cases) {
    SCOPED_TRACE(c.language);
    fs::remove(folder / "mirte.DRV");
    fs::remove(folder / "work/TWIN.TXT");
    folder.write("outside.txt", "o");
    fs::create_hard_link(folder / "outside.txt", folder / "work/TWIN.TXT");
    TDrivesFrm& frm = Open(c.language);
    EXPECT_EQ(frm.LinksWritableCb->text(), QString::fromUtf8(c.switchText));
    EXPECT_TRUE(frm.LinksWritableCb->isEnabled());
    EXPECT_FALSE(frm.LinksWritableCb->isChecked());
    EXPECT_EQ(Column(frm.BoardFilesWn, 0), (QStringList{"ALONE.TXT", "TWIN.TXT"}));
    EXPECT_EQ(Column(frm.BoardFilesWn, 3), (QStringList{"", QString::fromUtf8(c.readOnly)}));
    EXPECT_EQ(Result(Frame(15, 0, "TWIN    TXT")), 0) << "reads work";
    EXPECT_EQ(Result(write), 255) << "writes do not";

    frm.LinksWritableCb->click();
    const std::string kept = "links-writable C\n";
    EXPECT_EQ(folder.read("mirte.DRV"), Bytes(kept.begin(), kept.end()));
    EXPECT_EQ(Column(frm.BoardFilesWn, 3), (QStringList{"", QString::fromUtf8(c.writable)}));
    EXPECT_EQ(Result(write), 0) << "the board's next command obeys the switch";
    EXPECT_EQ(fs::file_size(folder / "outside.txt"), 128u);

    frm.SelectDrive('B');
    EXPECT_FALSE(frm.LinksWritableCb->isChecked()) << "each drive has its own";
    form.reset();
    EXPECT_TRUE(Open(c.language).LinksWritableCb->isChecked()) << "kept from run to run";
    form.reset();
  }
}

TEST_F(DrivesFormTest, ASwitchThatCannotBeKeptSaysSoAndFlipsBack) {
  fs::create_directories(folder / "mirte.DRV");
  TDrivesFrm& frm = Open(kLanguageEnglish);
  mirte::testing::ModalAnswers answers;
  answers.ThenAccept();
  frm.LinksWritableCb->click();
  ASSERT_EQ(answers.MessageTexts().size(), 1u);
  EXPECT_EQ(answers.MessageTexts()[0].rfind("The choice could not be saved in ", 0), 0u) << answers.MessageTexts()[0];
  EXPECT_FALSE(frm.LinksWritableCb->isChecked());
}

TEST_F(DrivesFormTest, ABoardFrameIsAnsweredWhileALargeFolderIsReadAndTheViewStaysBounded) {
  constexpr int kFiles = 8000;
  for (int i = 0; i < kFiles; ++i) std::ofstream(folder / "work" / ("F" + std::to_string(100000 + i) + ".DAT"));
  TDrivesFrm& frm = Open(kLanguageEnglish);
  // Slices small enough that the reading cannot end before the board's frame is answered.
  frm.SetEntriesPerSlice(10);
  frm.Refresh();
  ASSERT_TRUE(frm.Listing());
  EXPECT_EQ(Result(Frame(15, 0, "MISSING TXT")), 255);
  EXPECT_TRUE(frm.Listing()) << "the reply came while the folder was still being read";
  EXPECT_TRUE(frm.ListingLb->isVisibleTo(&frm));
  EXPECT_TRUE(frm.ListingLb->text().startsWith("Reading the folder: ")) << frm.ListingLb->text().toStdString();

  frm.SetEntriesPerSlice(TDrivesFrm::kEntriesPerSlice);
  ASSERT_TRUE(WaitFor([&] { return !frm.Listing(); }, 60s));
  ASSERT_EQ(frm.BoardFilesWn->topLevelItemCount(), TDrivesFrm::kShownRows + 1);
  EXPECT_EQ(frm.BoardFilesWn->topLevelItem(0)->text(0), "F100000.DAT");
  EXPECT_EQ(frm.BoardFilesWn->topLevelItem(TDrivesFrm::kShownRows)->text(0), "… and 6000 more");
  EXPECT_FALSE(frm.ListingLb->isVisibleTo(&frm));

  frm.Refresh();
  ASSERT_TRUE(frm.Listing());
  frm.CloseBtn->click();
  EXPECT_FALSE(frm.Listing()) << "a closed window reads no more";
}

TEST_F(DrivesFormTest, CaptionsAreItalianAndFollowTheLanguageSwitch) {
  TDrivesFrm& frm = Open(kLanguageItalian);
  EXPECT_EQ(form->DrivesCmd->text(), "&Unità…");
  EXPECT_EQ(frm.windowTitle(), "Unità della scheda");
  EXPECT_EQ(frm.ChooseBtn->text(), "&Scegli…");
  EXPECT_EQ(frm.RemoveBtn->text(), "&Rimuovi");
  EXPECT_EQ(frm.DrivesWn->headerItem()->text(1), "Cartella");
  EXPECT_EQ(frm.BoardFilesWn->headerItem()->text(0), "Nome per la scheda");
  EXPECT_EQ(frm.ApartLb->text(), "Non raggiungibili dalla scheda");
  EXPECT_EQ(frm.DrivesWn->topLevelItem(2)->text(2), "cartella di lavoro");

  form->EngLngCmd->trigger();
  EXPECT_EQ(form->DrivesCmd->text(), "&Drives…");
  EXPECT_EQ(frm.windowTitle(), "Board drives");
  EXPECT_EQ(frm.ChooseBtn->text(), "&Choose…");
  EXPECT_EQ(frm.DrivesWn->headerItem()->text(1), "Folder");
  EXPECT_EQ(frm.DrivesWn->topLevelItem(2)->text(2), "working folder");
}

TEST_F(DrivesFormTest, ALongFolderLeavesTheWorkingColumnInViewWithTheWholePathInItsTooltip) {
  fs::path deep = folder / "diskB";
  for (int i = 0; i < 6; ++i) deep /= std::string(40, static_cast<char>('a' + i));
  fs::create_directories(deep);
  TDrivesFrm& frm = Open(kLanguageEnglish);
  frm.SelectDrive('D');
  answer = QString::fromStdString(deep.string());
  frm.ChooseBtnClick();
  QCoreApplication::processEvents();
  QTreeWidgetItem* row = frm.DrivesWn->topLevelItem(3);
  EXPECT_EQ(row->toolTip(1), *answer);
  QHeaderView* header = frm.DrivesWn->header();
  const int workRight = header->sectionViewportPosition(2) + header->sectionSize(2);
  EXPECT_GE(header->sectionViewportPosition(2), 0);
  EXPECT_LE(workRight, frm.DrivesWn->viewport()->width()) << "the Working column is cut or pushed out";
  EXPECT_GE(header->sectionSize(2), header->sectionSizeHint(2)) << "the Working header is squeezed";
}

TEST_F(DrivesFormTest, TheWindowFitsASmallScreenAtTheLargestFontAndOpensWhereItWasLeft) {
  TDrivesFrm& frm = Open(kLanguageItalian);
  const QRect available = QGuiApplication::primaryScreen()->availableGeometry();
  EXPECT_TRUE(available.contains(frm.frameGeometry())) << "the first time, inside the screen";
  const QFont normal = frm.font();
  QFont large = normal;
  large.setPointSize(16);
  frm.setFont(large);
  EXPECT_LE(frm.minimumSizeHint().width(), 1024 - 16);
  EXPECT_LE(frm.minimumSizeHint().height(), 768 - 40);
  frm.setFont(normal);
  // The layout takes its new minimum from the font only when its posted request is handled;
  // on a loaded machine that could come after the user's resize below and undo it.
  QCoreApplication::processEvents();

  const QSize size(available.width() * 3 / 4, available.height() * 2 / 3);
  const QPoint place = available.topLeft() + QPoint(30, 20);
  frm.resize(size);
  frm.move(place);
  QCoreApplication::processEvents();
  ASSERT_EQ(frm.size(), size) << "the window keeps the size it was given";
  frm.CloseBtn->click();
  form.reset();
  TDrivesFrm& again = Open(kLanguageItalian);
  EXPECT_EQ(again.size(), size) << "the size it was left at";
  EXPECT_EQ(again.pos(), place);

  again.resize(available.size() * 3);  // as left on a larger screen
  again.move(available.topLeft() + QPoint(available.width(), 0));
  form.reset();  // remembered as it goes, still open
  TDrivesFrm& shrunk = Open(kLanguageItalian);
  EXPECT_TRUE(available.contains(QRect(shrunk.pos(), shrunk.size()))) << "brought back inside this screen";
}

}  // namespace
}  // namespace mirte
