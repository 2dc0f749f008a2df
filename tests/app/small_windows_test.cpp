#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QElapsedTimer>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QStatusBar>
#include <QTest>

#include "app/apply_language.h"
#include "app/info_form.h"
#include "app/lock_keys.h"
#include "app/splash_form.h"

#include "support/qt_test_app.h"

namespace mirte {
namespace {

using namespace std::chrono_literals;

QApplication& App() { return mirte::testing::TestApp(); }

SettingsRec RecordIn(int language) {
  SettingsRec rec{};
  rec.Language = static_cast<std::uint8_t>(language);
  return rec;
}

// A window with one tagged component of every kind that is translated, and the kinds
// that never are.
struct TaggedWindow {
  QWidget window;
  QLabel* label = new QLabel("Nome file:", &window);
  QLabel* untagged = new QLabel("MIRTE", &window);
  QGroupBox* group = new QGroupBox("Tipo &EPROM", &window);
  QCheckBox* check = new QCheckBox("<Invio>", group);
  QRadioButton* radio = new QRadioButton("&Baud Rate:", group);
  QPushButton* button = new QPushButton("&Annulla", &window);
  QMenu* menu = new QMenu("&Comandi", &window);
  QAction* action = new QAction("&Esci", &window);
  QAction* submenuAction = menu->menuAction();
  QAction* questionMenu = new QAction("&?", &window);
  QStatusBar* bar = new QStatusBar(&window);
  QLabel* messagePanel = new QLabel("Documento in attesa di stampa", bar);
  QLabel* portPanel = new QLabel(" COM2:38400 Baud", bar);
  QDialog* dialog = new QDialog(&window);
  QPushButton* dialogButton = new QPushButton("&OK", dialog);

  TaggedWindow() {
    SetTag(&window, 1);
    SetTag(label, 69);
    SetTag(group, 39);
    SetTag(check, 36);
    SetTag(radio, 25);
    SetTag(button, 27);
    SetTag(submenuAction, 2);
    SetTag(action, 11);
    SetTag(bar, 1);
    SetTag(dialog, 23);
    SetTag(dialogButton, 26);
    menu->addAction(action);
  }
};

TEST(ApplyLanguageTest, RecaptionsEveryTaggedComponentOfEveryWindow) {
  App();
  TaggedWindow w;
  ApplyLanguage(RecordIn(2));
  EXPECT_EQ(w.window.windowTitle(), "MIRTE: Terminal emulation for KTB\u00AE cards with SOLVAX");
  EXPECT_EQ(w.label->text(), "File name:");
  EXPECT_EQ(w.group->title(), "&EPROM Type");
  EXPECT_EQ(w.check->text(), "<Enter>");
  EXPECT_EQ(w.radio->text(), "&Baud Rate");
  EXPECT_EQ(w.button->text(), "C&ancel");
  EXPECT_EQ(w.menu->title(), "&Commands");
  EXPECT_EQ(w.action->text(), "&Exit");
  EXPECT_EQ(w.messagePanel->text(), "Document waits for printing");
  EXPECT_EQ(w.dialog->windowTitle(), "Serial Port");
  EXPECT_EQ(w.dialogButton->text(), "&OK");
  // Untagged components and panels that show no message stay as they are.
  EXPECT_EQ(w.untagged->text(), "MIRTE");
  EXPECT_EQ(w.questionMenu->text(), "&?");
  EXPECT_EQ(w.portPanel->text(), " COM2:38400 Baud");

  ApplyLanguage(RecordIn(1));
  EXPECT_EQ(w.button->text(), "&Annulla");
  EXPECT_EQ(w.messagePanel->text(), "Documento in attesa di stampa");
  EXPECT_EQ(w.radio->text(), "&Baud Rate") << "the design caption's colon is gone once translated";
}

// Counts the language changes a window is told of, for the texts it builds itself.
class CountingWindow : public QWidget {
 public:
  int changes = 0;

 protected:
  void changeEvent(QEvent* event) override {
    if (event->type() == QEvent::LanguageChange) ++changes;
    QWidget::changeEvent(event);
  }
};

TEST(ApplyLanguageTest, TextPairCaptionsFollowTheSwitchAndWindowsHearOfIt) {
  App();
  static constexpr TTextPair kTitle{"Monitor scheda", "Board Monitor"};
  static constexpr TTextPair kPause{"&Pausa", "&Pause"};
  static constexpr TTextPair kItem{"&Unit\u00e0...", "&Drives..."};
  CountingWindow window;
  auto* pause = new QPushButton(&window);
  auto* menu = new QMenu(&window);
  auto* item = menu->addAction(QString());
  SetCaption(&window, kTitle, kLanguageEnglish);
  SetCaption(pause, kPause, kLanguageEnglish);
  SetCaption(item, kItem, kLanguageEnglish);
  EXPECT_EQ(window.windowTitle(), "Board Monitor");
  EXPECT_EQ(pause->text(), "&Pause");

  ApplyLanguageTo(&window, RecordIn(kLanguageItalian));
  EXPECT_EQ(window.windowTitle(), "Monitor scheda");
  EXPECT_EQ(pause->text(), "&Pausa");
  EXPECT_EQ(item->text(), "&Unit\u00e0...");
  EXPECT_EQ(window.changes, 1);
}

TEST(ApplyLanguageTest, UserStringItemsAreRebuiltFromTheStrings) {
  App();
  QWidget window;
  auto* filled = new QAction("?", &window);
  filled->setObjectName("TxStr05Cmd");
  SetTag(filled, 36);
  auto* empty = new QAction("?", &window);
  empty->setObjectName("TxStr03Pup");
  SetTag(empty, 34);
  empty->setEnabled(false);
  SettingsRec rec = RecordIn(2);
  rec.UserStr[4].Assign("TEST");
  rec.UserStrEnter[4] = 1;
  ApplyLanguageTo(&window, rec);
  EXPECT_EQ(filled->text(), "5: TEST  <Enter>");
  EXPECT_EQ(empty->text(), "3: <None>");
  rec.Language = 1;
  ApplyLanguageTo(&window, rec);
  EXPECT_EQ(filled->text(), "5: TEST  <Invio>");
  EXPECT_EQ(empty->text(), "3: <Nessuna>");
}

TEST(InfoFormTest, ShowsTheReleaseInTheCurrentLanguage) {
  App();
  for (int language : {2, 1}) {
    SettingsRec rec = RecordIn(language);
    TInfoFrm info(nullptr, [&] { ApplyLanguage(rec); });
    EXPECT_EQ(info.RelNumLb->text(), "?.??.?");
    info.show();
    EXPECT_EQ(info.RelNumLb->text(), "1.01.0");
    EXPECT_EQ(info.RelStrLb->text(), language == 2 ? "Release: " : "Versione: ");
    EXPECT_EQ(info.windowTitle(), language == 2 ? "Information" : "Informazioni");
    auto* description = info.findChild<QLabel*>("DescriptionLb");
    ASSERT_NE(description, nullptr);
    EXPECT_TRUE(description->text().startsWith(language == 2 ? "Console, disk and printer server"
                                                             : "Server di console, dischi e stampante"));
    EXPECT_EQ(info.OKBtn->size(), QSize(113, 33));
    EXPECT_EQ(info.size(), QSize(328, 400));
    info.SetWorkFolder("/home/user/MIRTE", language);
    EXPECT_EQ(info.WorkFolderStrLb->text(), language == 2 ? "Working folder:" : "Cartella di lavoro:");
    EXPECT_EQ(info.WorkFolderLb->text(), "/home/user/MIRTE");
    QTest::mouseClick(info.OKBtn, Qt::LeftButton);
    EXPECT_EQ(info.result(), QDialog::Accepted);
  }
}

TEST(InfoFormTest, NamesTheSettingsFileShorteningALongPathInTheMiddle) {
  App();
  const std::string path = "/home/user/.config/mirte/mirte.SET";
  for (int language : {2, 1}) {
    SettingsRec rec = RecordIn(language);
    TInfoFrm info(nullptr, [&] { ApplyLanguage(rec); }, path);
    info.show();
    EXPECT_EQ(info.SetFileStrLb->text(), language == 2 ? "Settings file:" : "File delle impostazioni:");
    EXPECT_EQ(info.SetFileLb->text().toStdString(), path);
    EXPECT_EQ(info.size(), QSize(328, 400)) << "the path fits the fixed window";
  }
  const std::string deep = "/home/user/" + std::string(120, 'f') + "/mirte/mirte.SET";
  TInfoFrm info(nullptr, {}, deep);
  const QString shown = info.SetFileLb->text();
  EXPECT_NE(shown.toStdString(), deep);
  EXPECT_TRUE(shown.startsWith("/home/user/")) << shown.toStdString();
  EXPECT_TRUE(shown.endsWith("mirte.SET")) << shown.toStdString();
  EXPECT_EQ(info.SetFileLb->toolTip().toStdString(), deep);
}

TEST(SplashFormTest, StaysPaintedThroughTheWaitAndClosesItselfOnItsTimer) {
  App();
  // The window's own timer runs from its construction, which a loaded machine can take
  // most of a short interval over; so it is long here and cut short once the hold is seen.
  QPointer<TSplashFrm> splash = new TSplashFrm(60s);
  QElapsedTimer held;
  held.start();
  splash->ShowAndHold(100ms);
  EXPECT_GE(held.elapsed(), 100);
  ASSERT_TRUE(splash);
  EXPECT_TRUE(splash->isVisible());
  EXPECT_TRUE(splash->Timer->isActive());
  EXPECT_EQ(splash->size(), QSize(441, 343));
  EXPECT_TRUE(splash->windowFlags() & Qt::WindowStaysOnTopHint);
  QImage shot = splash->grab().toImage();
  EXPECT_EQ(shot.pixelColor(2, 2), QColor(Qt::white));
  splash->Timer->start(50);
  EXPECT_TRUE(QTest::qWaitFor([&] { return splash.isNull(); }, 5000)) << "destroyed after its timer";
}

TEST(LockKeysTest, PanelTextKeepsItsWidth) {
  EXPECT_EQ(KeyStateText(std::nullopt), std::string(17, ' '));
  EXPECT_EQ(KeyStateText(TLockKeys{true, false, true}), "CAPS       SCROLL");
  EXPECT_EQ(KeyStateText(TLockKeys{false, true, false}), "      NUM        ");
}

}  // namespace
}  // namespace mirte
