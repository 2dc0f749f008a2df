#include "app/monitor_form.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QGuiApplication>
#include <QScreen>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QTest>
#include <QTimer>

#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>

#include "app/term_form.h"
#include "app/window_places.h"
#include "board/board_service.h"
#include "common/msg_table.h"
#include "support/board_frames.h"
#include "support/scoped_environment.h"
#include "support/main_window_rig.h"
#include "support/pty_pair.h"
#include "support/qt_test_app.h"
#include "support/qt_wait.h"
#include "support/temp_folder.h"

namespace mirte {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

using testing::WaitFor;

using testing::bytes::Frame;
using testing::bytes::NameBlock;
using testing::bytes::Plus;

// The main window on a pseudo-terminal board (COM3 through dosdevices/com3), its working
// folder the test's own; the board monitor opened from the Utility menu.
class MonitorFormTest : public ::testing::Test {
protected:
  mirte::testing::TempFolder folder;
  // Made before the folder below is set: its first making points the config folder at the
  // one every test process shares, and would undo this test's own.
  QApplication& app = mirte::testing::TestApp();
  // Where the monitor remembers its place: the test's own, never the user's.
  mirte::testing::ScopedEnvironment config{"XDG_CONFIG_HOME", (folder / "config").string()};
  mirte::testing::PtyPair board;
  std::unique_ptr<TTermFrm> form;
  TMonitorFrm* monitor = nullptr;

  void SetUp() override {
    mirte::testing::TestApp();
    std::filesystem::create_directory(folder / "dosdevices");
    std::filesystem::create_symlink(board.slavePath(), folder / "dosdevices" / "com3");
    SettingsRec rec = testing::FolderSettings(folder);
    rec.ComNumber = 3;
    testing::WriteSettingsFile(folder, rec);
    form = testing::StartMainWindow(folder);
    ASSERT_TRUE(form->ComPort.Open());
    board.readUntilQuiet(50ms);
    form->MonitorCmd->trigger();
    monitor = form->MonitorFrm();
    ASSERT_NE(monitor, nullptr);
  }
  void TearDown() override { form.reset(); }

  // The board's side of an exchange: the window answers from its event loop.
  Bytes Exchange(const Bytes& frame, std::size_t replySize) {
    board.write(frame);
    return testing::ReadBesideEventLoop(board, replySize, 3000ms);
  }
  bool FramesSeen(std::uint64_t count) {
    return WaitFor([&] { return monitor->Log().Totals().Frames >= count; });
  }
  // What the table shows once the next repaint has come.
  QStringList Shown(int column) {
    monitor->Publish();
    QStringList cells;
    for (int row = 0; row < monitor->ShownRows(); ++row) cells << monitor->ShownLine(row).split('\t').value(column);
    return cells;
  }
  QString WorkFolder() { return QString::fromStdString(form->Board().FileService().Drives().CurrentFolder()); }

  // A short file session: open, three reads, a random read, close, search, make, write,
  // rename, and a type the service does not serve. 11 frames.
  void PlayFileSession() {
    Bytes content(256);
    for (std::size_t i = 0; i < content.size(); ++i) content[i] = static_cast<std::uint8_t>(i);
    folder.write("TEST.TXT", content);
    const Bytes test = NameBlock("TEST", "TXT");
    const Bytes made = NameBlock("NEW", "DAT");
    EXPECT_EQ(Exchange(Frame(15, test), 1), Bytes{0});
    EXPECT_EQ(Exchange(Frame(20, test), 129).at(0), 0);
    EXPECT_EQ(Exchange(Frame(20, test), 129).at(0), 0);
    EXPECT_EQ(Exchange(Frame(20, test), 129).at(0), 1);
    EXPECT_EQ(Exchange(Frame(33, Plus(test, {1, 0})), 129).at(0), 0);
    EXPECT_EQ(Exchange(Frame(16, test), 1), Bytes{0});
    EXPECT_EQ(Exchange(Frame(17, NameBlock("????????", "TXT")), 13).at(0), 0);
    EXPECT_EQ(Exchange(Frame(22, made), 1), Bytes{0});
    EXPECT_EQ(Exchange(Frame(21, made, Bytes(128, 'w')), 1), Bytes{0});
    EXPECT_EQ(Exchange(Frame(23, Plus(made, {'O', 'L', 'D', ' ', ' ', ' ', ' ', ' ', 'D', 'A', 'T'})), 1), Bytes{0});
    board.write(Frame(7, {}));
    EXPECT_TRUE(FramesSeen(11));
  }
};

TEST_F(MonitorFormTest, EveryFrameOfAFileSessionIsARowWithItsFileAndItsAnswer) {
  PlayFileSession();
  const QString f = WorkFolder();
  const QStringList expected[] = {
      {"Open", "C:TEST.TXT", "", f + "/TEST.TXT", "ok (0)"},
      {"Read", "C:TEST.TXT", "0", f + "/TEST.TXT", "ok (0)"},
      {"Read", "C:TEST.TXT", "1", f + "/TEST.TXT", "ok (0)"},
      {"Read", "C:TEST.TXT", "2", f + "/TEST.TXT", "end of file (1)"},
      {"Random read", "C:TEST.TXT", "1", f + "/TEST.TXT", "ok (0)"},
      {"Close", "C:TEST.TXT", "", f + "/TEST.TXT", "ok (0)"},
      {"Search first", "C:????????.TXT", "", f + "/TEST.TXT", "ok (0)"},
      {"Make", "C:NEW.DAT", "", f + "/NEW.DAT", "ok (0)"},
      {"Write", "C:NEW.DAT", "0", f + "/NEW.DAT", "ok (0)"},
      {"Rename", "C:NEW.DAT \u2192 OLD.DAT", "", f + "/NEW.DAT", "ok (0)"},
      {"unknown 7", "", "", "\u2014", "\u2014"},
  };
  monitor->Publish();
  ASSERT_EQ(monitor->ShownRows(), 11);
  double previous = -1;
  for (int row = 0; row < 11; ++row) {
    SCOPED_TRACE(row);
    QStringList cells = monitor->ShownLine(row).split('\t');
    ASSERT_EQ(cells.size(), kMonitorColumnCount);
    EXPECT_EQ(cells.mid(kColumnType, 5), expected[row]);
    const double at = cells[kColumnTime].toDouble();
    EXPECT_GE(at, previous) << "time since the first row";
    previous = at;
    if (row < 10) {
      EXPECT_GE(cells[kColumnReply].toDouble(), 5.0) << "the reply comes no sooner than 5 ms";
    }
  }
  EXPECT_EQ(monitor->ShownLine(0).split('\t')[kColumnTime], "0.0");
  const TMonitorTotals& totals = monitor->Log().Totals();
  EXPECT_EQ(totals.Frames, 11u);
  EXPECT_EQ(totals.RecordsRead, 3u);
  EXPECT_EQ(totals.RecordsWritten, 1u);
  EXPECT_EQ(totals.BytesIn, 15u * 7 + 17 + 143 + 26 + 3);
  EXPECT_EQ(totals.BytesOut, 1u + 129 * 4 + 1 + 13 + 1 + 1 + 1);
  monitor->Publish();
  EXPECT_TRUE(monitor->TotalsLb->text().startsWith("Frames: 11    Records read: 3    written: 1"))
      << monitor->TotalsLb->text().toStdString();
}

TEST_F(MonitorFormTest, ARenameFitsItsColumnAndLongCellsCarryTheirWholeTextAsATooltip) {
  form->Board().SetReplyDelay(0us);
  folder.write("SOURCE.$$$", Bytes{'x'});
  const Bytes rename = Plus(NameBlock("SOURCE", "$$$"), {'S', 'O', 'U', 'R', 'C', 'E', ' ', ' ', 'T', 'X', 'T'});
  EXPECT_EQ(Exchange(Frame(23, rename), 1), Bytes{0});
  ASSERT_TRUE(FramesSeen(1));
  monitor->Publish();
  auto* table = monitor->RowsVw;
  const QModelIndex file = table->model()->index(0, kColumnFile);
  const QString text = file.data().toString();
  EXPECT_EQ(text, "C:SOURCE.$$$ \u2192 SOURCE.TXT");
  EXPECT_GT(table->columnWidth(kColumnFile), table->fontMetrics().horizontalAdvance(text) + 8) << "not clipped";
  EXPECT_EQ(file.data(Qt::ToolTipRole).toString(), text);
  const QModelIndex path = table->model()->index(0, kColumnPath);
  EXPECT_EQ(path.data(Qt::ToolTipRole).toString(), path.data().toString());
}

TEST(MonitorPlacesTest, TheMonitorOpensInsideItsScreenAndWhereItWasLeft) {
  mirte::testing::TestApp();
  mirte::testing::TempFolder folder;
  const QString places = QString::fromStdString((folder / "places.ini").string());
  SettingsRec settings{};
  settings.Language = kLanguageEnglish;
  const QRect available = QGuiApplication::primaryScreen()->availableGeometry();
  {
    TMonitorFrm first(settings, {}, nullptr, 10, places);
    first.show();
    EXPECT_TRUE(available.contains(first.frameGeometry())) << "the first time, inside the screen";
    first.resize(available.width() * 3 / 4, available.height() * 2 / 3);
    first.move(available.topLeft() + QPoint(30, 20));
    first.hide();
  }
  {
    TMonitorFrm again(settings, {}, nullptr, 10, places);
    EXPECT_EQ(again.size(), QSize(available.width() * 3 / 4, available.height() * 2 / 3)) << "the size it was left at";
    EXPECT_EQ(again.pos(), available.topLeft() + QPoint(30, 20));
    again.show();
    again.resize(available.size() * 3);  // as left on a larger screen
    again.move(available.topLeft() + QPoint(available.width(), 0));
  }  // remembered as it goes, still open
  TMonitorFrm shrunk(settings, {}, nullptr, 10, places);
  EXPECT_TRUE(available.contains(QRect(shrunk.pos(), shrunk.size()))) << "brought back inside this screen";
}

TEST_F(MonitorFormTest, ListCharactersMakeOneRowThatGrowsWhileTheyCome) {
  form->Board().SetReplyDelay(0us);
  board.write(Frame(15, NameBlock("X", "")));
  ASSERT_TRUE(FramesSeen(1));
  Bytes text;
  for (int i = 0; i < 5000; ++i) {
    const std::uint8_t ch = i % 50 == 49 ? '\n' : static_cast<std::uint8_t>('A' + i % 26);
    text.insert(text.end(), {16, 17, 5, ch});
  }
  board.write(Bytes(text.begin(), text.begin() + 8000));
  ASSERT_TRUE(FramesSeen(2001));
  QStringList types = Shown(kColumnType);
  ASSERT_EQ(types.size(), 2);
  EXPECT_TRUE(types[1].startsWith("Print, ")) << types[1].toStdString();
  board.write(Bytes(text.begin() + 8000, text.end()));
  ASSERT_TRUE(FramesSeen(5001));
  EXPECT_EQ(Shown(kColumnType), (QStringList{"Open", "Print, 5,000 characters"}));
  form->Board().EndPrintJob(true);
}

TEST_F(MonitorFormTest, PauseStopsTheRowsButNotTheCountAndClearEmptiesTheTable) {
  form->Board().SetReplyDelay(0us);
  EXPECT_EQ(Exchange(Frame(25, {}), 1).size(), 1u);
  monitor->PauseBtn->click();
  EXPECT_EQ(Exchange(Frame(24, {}), 2).size(), 2u);
  EXPECT_EQ(Exchange(Frame(16, NameBlock("NONE", "")), 1), Bytes{255});
  ASSERT_TRUE(FramesSeen(3));
  EXPECT_EQ(Shown(kColumnType), QStringList{"Current drive"});
  EXPECT_TRUE(monitor->TotalsLb->text().startsWith("Frames: 3 ")) << monitor->TotalsLb->text().toStdString();
  monitor->PauseBtn->click();
  EXPECT_EQ(Exchange(Frame(16, NameBlock("NONE", "")), 1), Bytes{255});
  ASSERT_TRUE(FramesSeen(4));
  EXPECT_EQ(Shown(kColumnType), (QStringList{"Current drive", "Close"}));
  EXPECT_EQ(Shown(kColumnResult), (QStringList{"C:", "failed (255)"}));

  monitor->ClearBtn->click();
  EXPECT_EQ(monitor->ShownRows(), 0);
  EXPECT_TRUE(monitor->TotalsLb->text().startsWith("Frames: 0 "));
  EXPECT_EQ(Exchange(Frame(25, {}), 1).size(), 1u);
  ASSERT_TRUE(FramesSeen(1));
  EXPECT_EQ(Shown(kColumnTime), QStringList{"0.0"}) << "the clock starts again at the first row";
}

TEST_F(MonitorFormTest, TheLanguageSwitchReachesCaptionsHeadingsAndRows) {
  PlayFileSession();
  monitor->Publish();
  EXPECT_EQ(monitor->windowTitle(), "Board Monitor");
  EXPECT_EQ(form->MonitorCmd->text(), "Board &Monitor...");
  form->LanguageCmdClick(kLanguageItalian);
  EXPECT_EQ(form->MonitorCmd->text(), "&Monitor scheda...");
  EXPECT_EQ(monitor->windowTitle(), "Monitor scheda");
  EXPECT_EQ(monitor->PauseBtn->text(), "&Pausa");
  EXPECT_EQ(monitor->ClearBtn->text(), "&Svuota");
  EXPECT_EQ(monitor->CopyBtn->text(), "&Copia");
  EXPECT_EQ(monitor->SaveBtn->text(), "Sal&va...");
  EXPECT_EQ(monitor->FilterLb->text(), "&Filtro:");
  auto* table = monitor->RowsVw;
  EXPECT_EQ(table->model()->headerData(kColumnPath, Qt::Horizontal).toString(), "Percorso PC");
  EXPECT_EQ(table->model()->headerData(kColumnResult, Qt::Horizontal).toString(), "Esito");
  EXPECT_EQ(Shown(kColumnType).mid(0, 5), (QStringList{"Apri", "Leggi", "Leggi", "Leggi", "Lettura casuale"}));
  EXPECT_EQ(Shown(kColumnResult)[3], "fine file (1)");
  EXPECT_EQ(Shown(kColumnType)[10], "sconosciuto 7");
  EXPECT_TRUE(monitor->TotalsLb->text().startsWith("Frame: 11    Record letti: 3    scritti: 1"));
  form->LanguageCmdClick(kLanguageEnglish);
  EXPECT_EQ(monitor->PauseBtn->text(), "&Pause");
  EXPECT_EQ(Shown(kColumnType)[0], "Open");
}

TEST_F(MonitorFormTest, FilterCopyAndSaveWorkOnTheRowsShown) {
  PlayFileSession();
  monitor->FilterEd->setText("new.dat");
  EXPECT_EQ(Shown(kColumnType), (QStringList{"Make", "Write", "Rename"})) << "the filter ignores case";

  auto* table = monitor->RowsVw;
  table->selectionModel()->select(table->model()->index(2, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
  table->selectionModel()->select(table->model()->index(0, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
  monitor->CopyBtn->click();
  QStringList copied = QApplication::clipboard()->text().split('\n');
  ASSERT_EQ(copied.size(), 3);
  EXPECT_EQ(copied[0], monitor->ShownLine(0)) << "rows in table order, whatever the order chosen";
  EXPECT_EQ(copied[1], monitor->ShownLine(2));
  EXPECT_EQ(copied[2], "");
  EXPECT_EQ(copied[0].split('\t').size(), kMonitorColumnCount);

  const std::filesystem::path saved = folder / "rows.txt";
  QString offered, proposed;
  monitor->ChooseSaveFile = [&](const QString& title, const QString&, const QString& name) -> std::optional<QString> {
    offered = title;
    proposed = name;
    return QString::fromStdString((folder / "rows").string());
  };
  monitor->SaveBtn->click();
  EXPECT_EQ(offered, "Save the monitor rows");
  EXPECT_EQ(QFileInfo(proposed).fileName(), TMonitorFrm::ProposedFileName(QDate::currentDate()));
  EXPECT_EQ(TMonitorFrm::ProposedFileName(QDate(2026, 3, 7)), "monitor-2026-03-07.txt");
  ASSERT_TRUE(std::filesystem::exists(saved)) << "a name without an extension gets .txt";
  Bytes bytes = folder.read("rows.txt");
  QStringList lines =
      QString::fromUtf8(reinterpret_cast<const char*>(bytes.data()), static_cast<qsizetype>(bytes.size())).split('\n');
  ASSERT_EQ(lines.size(), 5);
  EXPECT_EQ(lines[0], "Time (ms)\tType\tFile\tRecord\tPC path\tResult\tReply (ms)");
  for (int row = 0; row < 3; ++row) EXPECT_EQ(lines[row + 1], monitor->ShownLine(row));

  monitor->FilterEd->clear();
  EXPECT_EQ(monitor->ShownRows(), 11);
  monitor->ChooseSaveFile = [](const QString&, const QString&, const QString&) { return std::optional<QString>(); };
  std::filesystem::remove(saved);
  monitor->SaveBtn->click();
  EXPECT_FALSE(std::filesystem::exists(saved)) << "a cancelled dialog writes nothing";
  EXPECT_FALSE(monitor->SaveRows(QString::fromStdString((folder / "no-such-folder" / "rows.txt").string())));
}

TEST_F(MonitorFormTest, AClosedMonitorWatchesNothingAndKeepsItsRows) {
  form->Board().SetReplyDelay(0us);
  EXPECT_EQ(Exchange(Frame(25, {}), 1).size(), 1u);
  ASSERT_TRUE(FramesSeen(1));
  monitor->close();
  EXPECT_FALSE(monitor->isVisible());
  EXPECT_FALSE(monitor->RepaintTmr->isActive());
  EXPECT_EQ(Exchange(Frame(24, {}), 2).size(), 2u);
  QTest::qWait(20);
  EXPECT_EQ(monitor->Log().Totals().Frames, 1u);

  form->MonitorCmd->trigger();
  EXPECT_EQ(form->MonitorFrm(), monitor) << "created once";
  EXPECT_TRUE(monitor->isVisible());
  EXPECT_TRUE(monitor->RepaintTmr->isActive());
  EXPECT_EQ(Exchange(Frame(32, {}), 1), Bytes{0});
  ASSERT_TRUE(FramesSeen(2));
  EXPECT_EQ(Shown(kColumnType), (QStringList{"Current drive", "User number"}));
}

TEST_F(MonitorFormTest, FramesReachTheTableOnlyWhenItIsRepainted) {
  TFrameFacts facts;
  facts.Served = false;
  facts.Type = 99;
  monitor->Publish();
  for (int i = 0; i < 1000; ++i) monitor->FrameDone(facts);
  EXPECT_EQ(monitor->ShownRows(), 0) << "taking a frame in touches no widget";
  EXPECT_TRUE(WaitFor([&] { return monitor->ShownRows() == 1000; })) << "the repaint timer brings them in";
  EXPECT_GE(monitor->RepaintTmr->interval(), 50) << "at most 20 refreshes a second";
}

// A pty has no line errors: the counts are the session's line facts, as a test sets them.
class MonitorLineErrorsTest : public MonitorFormTest, public ILineFacts {
protected:
  TLineErrorCounts counts;
  TLineErrorCounts LineErrorCounts() override { return counts; }
  bool AdapterHoldsBytesBack() override { return false; }
  QString Totals() const { return monitor->TotalsLb->text(); }
};

TEST_F(MonitorLineErrorsTest, TheTotalsShowTheLineErrorsThePortCountedAndClearStartsThemAtZero) {
  form->Session().SetLineFacts(this);
  counts = {12, 1, 0, 3};
  monitor->Publish();
  EXPECT_TRUE(Totals().endsWith("\nLine errors: overrun 12, framing 1, parity 0, break 3")) << Totals().toStdString();
  for (const QString& line : Totals().split('\n'))
    EXPECT_LE(monitor->TotalsLb->fontMetrics().horizontalAdvance(line), monitor->TotalsLb->contentsRect().width())
        << "cut off: " << line.toStdString();
  EXPECT_GE(monitor->TotalsLb->height(), 2 * monitor->TotalsLb->fontMetrics().height());

  counts = {20, 1, 2, 3};
  EXPECT_TRUE(WaitFor([&] { return Totals().endsWith("overrun 20, framing 1, parity 2, break 3"); }, 2000ms))
      << "the repaint timer brings growth in: " << Totals().toStdString();

  monitor->ClearBtn->click();
  EXPECT_TRUE(Totals().endsWith("overrun 0, framing 0, parity 0, break 0")) << Totals().toStdString();
  counts = {21, 1, 2, 3};
  monitor->Publish();
  EXPECT_TRUE(Totals().endsWith("overrun 1, framing 0, parity 0, break 0")) << Totals().toStdString();
  form->Session().SetLineFacts(nullptr);
}

}  // namespace
}  // namespace mirte
