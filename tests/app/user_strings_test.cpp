#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "app/apply_language.h"
#include "common/msg_table.h"
#include "app/user_string_items.h"
#include "app/user_strings_form.h"
#include "support/qt_test_app.h"
#include "support/modal_answers.h"
#include "support/temp_folder.h"

namespace mirte {
namespace {

using testing::ModalAnswers;
using testing::TempFolder;

QApplication& App() { return mirte::testing::TestApp(); }

// Types each character as a key press carrying that text, as a keyboard would.
void Type(QWidget* widget, const QString& text) {
  for (QChar c : text) {
    QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(c));
    QApplication::sendEvent(widget, &press);
  }
}

void SetUserString(SettingsRec& rec, int n, const std::string& cp1252, bool enter) {
  rec.UserStr[n - 1].Assign(cp1252);
  rec.UserStrEnter[n - 1] = enter ? 1 : 0;
}

// A main window stand-in with the twenty items under two menus, as the program has them.
class MenuWindow : public QMainWindow {
public:
  MenuWindow() {
    QMenu* strings = menuBar()->addMenu("&Trasmetti Stringa");
    auto* popup = new QMenu(this);
    for (int n = 1; n <= 10; ++n) {
      QAction* cmd = strings->addAction(QString::number(n));
      cmd->setObjectName(QString::asprintf("TxStr%02dCmd", n));
      cmd->setEnabled(false);
      QAction* pup = popup->addAction(QString::number(n));
      pup->setObjectName(QString::asprintf("TxStr%02dPup", n));
      pup->setEnabled(false);
      items << cmd << pup;
    }
  }
  QAction* Item(const char* name) const { return findChild<QAction*>(name); }
  QList<QAction*> items;
};

class UserStringsEditorTest : public ::testing::Test {
protected:
  void SetUp() override {
    settings.LoadSettings((folder / "mirte").string());
    std::filesystem::remove(settings.SettingsPath);
    SetUserString(settings.Rec, 1, "DIR", true);
    SetUserString(settings.Rec, 5, "TEST", false);
  }

  bool Edit() {
    return EditStrCmd(&window, settings, [this] { ++languageApplied; ApplyLanguage(settings.Rec); },
                      [this] { SetStrCaption(window.items, settings.Rec, settings.Rec.Language); ++captionsSet; });
  }
  bool SettingsFileWritten() const { return std::filesystem::exists(settings.SettingsPath); }

  QApplication& app = App();
  TempFolder folder;
  TSettings settings;
  MenuWindow window;
  ModalAnswers answers;
  int languageApplied = 0;
  int captionsSet = 0;
};

TEST_F(UserStringsEditorTest, ShowsTheSettingsAndKeepsConfirmedEditsInTheSettingsFile) {
  settings.Rec.Language = kLanguageEnglish;
  answers.Then([](QWidget& w) {
    auto& editor = dynamic_cast<TStrFrm&>(w);
    EXPECT_EQ(editor.windowTitle().toStdString(), "User Strings Editor");
    EXPECT_EQ(editor.CRCk(1)->text().toStdString(), "<Enter>");
    EXPECT_EQ(editor.CancelBtn->text().toStdString(), "C&ancel");
    EXPECT_EQ(editor.StrWn(1)->text().toStdString(), "DIR");
    EXPECT_TRUE(editor.CRCk(1)->isChecked());
    EXPECT_EQ(editor.StrWn(5)->text().toStdString(), "TEST");
    EXPECT_EQ(editor.focusWidget(), editor.StrWn(1));

    Type(editor.StrWn(2), "LS");
    QTest::mouseClick(editor.CRCk(2), Qt::LeftButton);
    editor.StrWn(5)->clear();
    QTest::mouseClick(editor.CRCk(1), Qt::LeftButton);
    EXPECT_EQ(editor.UserStr[1], "LS");
    EXPECT_TRUE(editor.UserStrEnter[1]);
    QTest::mouseClick(editor.OKBtn, Qt::LeftButton);
  });

  ASSERT_TRUE(Edit());
  EXPECT_EQ(languageApplied, 1);
  EXPECT_EQ(captionsSet, 1);
  EXPECT_EQ(answers.Unexpected(), 0);

  const std::vector<std::uint8_t> file = testing::readFileBytes(settings.SettingsPath);
  ASSERT_EQ(file.size(), 604u);
  EXPECT_EQ(file[284 + 31], 2);  // string 2: "LS"
  EXPECT_EQ(file[284 + 31 + 1], 'L');
  EXPECT_EQ(file[594 + 1], 1);
  EXPECT_EQ(file[594], 0);       // flag 1 cleared
  EXPECT_EQ(file[284 + 4 * 31], 0);  // string 5 emptied

  EXPECT_EQ(window.Item("TxStr02Cmd")->text().toStdString(), "2: LS  <Enter>");
  EXPECT_EQ(window.Item("TxStr02Pup")->text().toStdString(), "2: LS  <Enter>");
  EXPECT_EQ(window.Item("TxStr01Cmd")->text().toStdString(), "1: DIR");
  EXPECT_FALSE(window.Item("TxStr05Cmd")->isEnabled());
  EXPECT_EQ(window.Item("TxStr05Pup")->text().toStdString(), "5: <None>");

  settings.Rec.Language = kLanguageItalian;
  ApplyLanguageTo(&window, settings.Rec);
  EXPECT_EQ(window.Item("TxStr02Cmd")->text().toStdString(), "2: LS  <Invio>");
  EXPECT_EQ(window.Item("TxStr05Pup")->text().toStdString(), "5: <Nessuna>");
}

TEST_F(UserStringsEditorTest, CancelLeavesSettingsCaptionsAndFileAlone) {
  SetStrCaption(window.items, settings.Rec, settings.Rec.Language);
  const SettingsRec before = settings.Rec;
  answers.Then([](QWidget& w) {
    auto& editor = dynamic_cast<TStrFrm&>(w);
    Type(editor.StrWn(1), "X");
    QTest::mouseClick(editor.CRCk(3), Qt::LeftButton);
    QTest::mouseClick(editor.CancelBtn, Qt::LeftButton);
  });
  answers.Then([](QWidget& w) {
    auto& editor = dynamic_cast<TStrFrm&>(w);
    Type(editor.StrWn(2), "Y");
    QTest::keyClick(&editor, Qt::Key_Escape);  // the way Alt+F4 leaves a dialog
  });

  EXPECT_FALSE(Edit());
  EXPECT_FALSE(Edit());
  EXPECT_EQ(captionsSet, 0);
  EXPECT_FALSE(SettingsFileWritten());
  EXPECT_EQ(std::memcmp(&before, &settings.Rec, sizeof before), 0);
  EXPECT_EQ(window.Item("TxStr01Cmd")->text().toStdString(), "1: DIR  <Enter>");
  EXPECT_FALSE(window.Item("TxStr03Pup")->isEnabled());
}

TEST_F(UserStringsEditorTest, EditBoxesHoldThirtyWindows1252CharactersAtMost) {
  answers.Then([](QWidget& w) {
    auto& editor = dynamic_cast<TStrFrm&>(w);
    QLineEdit* box = editor.StrWn(4);
    Type(box, QString(31, 'x'));
    EXPECT_EQ(box->text().size(), 30);
    EXPECT_EQ(editor.UserStr[3], std::string(30, 'x'));

    box->clear();
    Type(box, QString::fromUtf8("\xE2\x82\xAC\xCE\xA9\xC3\xA8"));  // euro sign, omega, e grave
    EXPECT_EQ(box->text().toStdString(), "\xE2\x82\xAC\xC3\xA8");
    EXPECT_EQ(editor.UserStr[3], "\x80\xE8");
    QTest::mouseClick(editor.OKBtn, Qt::LeftButton);
  });
  ASSERT_TRUE(Edit());
  EXPECT_EQ(settings.Rec.UserStr[3].Str(), "\x80\xE8");
}

TEST_F(UserStringsEditorTest, TabMovesFromEachEditBoxToItsCheckBoxThenToTheNextRow) {
  answers.Then([](QWidget& w) {
    auto& editor = dynamic_cast<TStrFrm&>(w);
    std::vector<QWidget*> expected;
    for (int n = 1; n <= 10; ++n) {
      expected.push_back(editor.StrWn(n));
      expected.push_back(editor.CRCk(n));
    }
    expected.push_back(editor.OKBtn);
    expected.push_back(editor.CancelBtn);
    for (std::size_t i = 0; i < expected.size(); ++i) {
      EXPECT_EQ(editor.focusWidget(), expected[i]) << "stop " << i;
      QTest::keyClick(editor.focusWidget(), Qt::Key_Tab);
    }
    editor.reject();
  });
  EXPECT_FALSE(Edit());
}

TEST_F(UserStringsEditorTest, ItemsOfEmptyStringsAreDisabledEvenWithTheEnterFlag) {
  SetUserString(settings.Rec, 4, "", true);
  SetStrCaption(window.items, settings.Rec, kLanguageEnglish);
  for (const char* name : {"TxStr04Cmd", "TxStr04Pup"}) {
    QAction* item = window.Item(name);
    EXPECT_FALSE(item->isEnabled());
    EXPECT_EQ(item->text().toStdString(), "4: <None>");
    EXPECT_EQ(TagOf(item), 34);
    EXPECT_EQ(TxStrClick(item), 0);
  }
  EXPECT_EQ(TxStrClick(window.Item("TxStr05Pup")), 5);
  EXPECT_EQ(TagOf(window.Item("TxStr05Pup")), 36);
}

}  // namespace
}  // namespace mirte
