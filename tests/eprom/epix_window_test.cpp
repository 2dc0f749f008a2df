#include "eprom/epix_window.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QFileDialog>
#include <QGroupBox>
#include <QImage>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QWindow>
#include <deque>
#include <functional>

#include "common/msg_table.h"
#include "common/settings.h"
#include "eprom/make_bin_window.h"
#include "support/qt_test_app.h"
#include "support/temp_folder.h"

namespace mirte {
namespace {

QApplication& App() { return mirte::testing::TestApp(); }

QString Msg(int language, int message) {
  const auto text = MsgTable(language, message);
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

bool HasRedPixels(QWidget* widget) {
  const QImage image = widget->grab().toImage();
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x) {
      const QColor c = image.pixelColor(x, y);
      if (c.red() > 150 && c.green() < 80 && c.blue() < 80) return true;
    }
  return false;
}

class EpixWindowTest : public ::testing::Test {
protected:
  testing::TempFolder folder;
  TSettings settings;
  std::unique_ptr<TEPIXFrm> window;
  // Each modal dialog takes the next answer; a dialog with none left is cancelled.
  std::deque<std::function<int(QDialog&)>> answers;
  std::vector<QString> shownTexts;

  void SetUp() override {
    App();
    settings.Rec.Language = kLanguageEnglish;
    settings.Rec.WorkFolder.Assign(folder.path().string());
    window = std::make_unique<TEPIXFrm>(settings);
    window->DialogRunner.Answer = [this](QDialog& dialog) {
      if (auto* box = qobject_cast<QMessageBox*>(&dialog)) shownTexts.push_back(box->text());
      if (answers.empty()) return static_cast<int>(QDialog::Rejected);
      auto answer = std::move(answers.front());
      answers.pop_front();
      return answer(dialog);
    };
  }

  std::string File(const std::string& name, std::size_t size) {
    return folder.write(name, std::vector<std::uint8_t>(size, 0x55)).string();
  }

  void AnswerFile(const std::string& path) {
    answers.push_back([path](QDialog& dialog) {
      auto& files = dynamic_cast<QFileDialog&>(dialog);
      files.selectFile(QString::fromStdString(path));
      return static_cast<int>(QDialog::Accepted);
    });
  }
  void AnswerName(const QString& name) {
    answers.push_back([name](QDialog& dialog) {
      dynamic_cast<QInputDialog&>(dialog).setTextValue(name);
      return static_cast<int>(QDialog::Accepted);
    });
  }
  void AddFile(const std::string& name, std::size_t size) {
    AnswerFile(File(name, size));
    AnswerName(QString::fromStdString(name));
    window->AddFileBtn->click();
  }
};

TEST_F(EpixWindowTest, IsCreatedHiddenAndOnlyHiddenWhenClosed) {
  EXPECT_FALSE(window->isVisible());
  EXPECT_EQ(window->windowTitle(), Msg(kLanguageItalian, 37));
  window->ShowEPIX();
  EXPECT_TRUE(window->isVisible());
  EXPECT_EQ(window->windowTitle(), Msg(kLanguageEnglish, 37));
  AddFile("KEEP.SVX", 10);
  EXPECT_TRUE(window->close());
  EXPECT_FALSE(window->isVisible());
  window->ShowEPIX();
  EXPECT_EQ(window->ROMDiskWn->count(), 1);
  EXPECT_EQ(window->Editor().RDRec.FileCount, 1);
}

TEST_F(EpixWindowTest, CaptionsFollowTheLanguageWhenShown) {
  struct Case {
    QWidget* widget;
    int message;
  };
  for (int language : {kLanguageItalian, kLanguageEnglish}) {
    settings.Rec.Language = static_cast<std::uint8_t>(language);
    window->hide();
    window->ShowEPIX();
    EXPECT_EQ(window->EPROMGrp->title(), Msg(language, 39));
    EXPECT_EQ(window->MakeBtn->text(), Msg(language, 40));
    EXPECT_EQ(window->KTBQ17Chk->text(), Msg(language, 38));
    EXPECT_EQ(window->DelAllBtn->text(), Msg(language, 46));
    EXPECT_EQ(window->AddFilePup->text(), Msg(language, 43));
    EXPECT_EQ(window->SOLVFileLb->text(), Msg(language, 54));
    EXPECT_EQ(window->BinFileLb->text(), Msg(language, 55));
    EXPECT_EQ(window->BFTxtLb->text(), Msg(language, 66));
    EXPECT_EQ(window->BFreeLb->text(), " 112384 ");
    EXPECT_EQ(window->ROMDiskBox->title(), " ROM-Disk: 0 Files");
  }
  // Components that a language switch re-captions carry their message index.
  EXPECT_EQ(window->property("Tag").toInt(), 37);
  EXPECT_EQ(window->SOLVFileLb->property("Tag").toInt(), 54);
  EXPECT_EQ(window->ModFilePup->property("Tag").toInt(), 44);
  EXPECT_EQ(window->ROMDiskBox->property("Tag").toInt(), 0);
}

TEST_F(EpixWindowTest, ButtonsFollowTheCompositionAndSelection) {
  window->ShowEPIX();
  auto enabled = [&] {
    return std::vector<bool>{window->MakeBtn->isEnabled(), window->AddFileBtn->isEnabled(),
                             window->ModFileBtn->isEnabled(), window->DelFileBtn->isEnabled(),
                             window->DelAllBtn->isEnabled(), window->ModFilePup->isEnabled()};
  };
  EXPECT_EQ(enabled(), (std::vector<bool>{false, true, false, false, false, false}));

  AddFile("ONE.SVX", 60000);
  EXPECT_EQ(window->ROMDiskWn->currentRow(), 0);
  EXPECT_EQ(window->ROMDiskWn->item(0)->text().left(18).toStdString(), "N:ONE.SVX      = /");
  EXPECT_EQ(enabled(), (std::vector<bool>{false, true, true, true, true, true}));
  window->ROMDiskWn->clearSelection();
  EXPECT_EQ(enabled(), (std::vector<bool>{false, true, false, false, true, false}));

  AnswerFile(File("OS.BIN", 16384));
  window->SOLVBtn->click();
  AnswerFile((folder / "OUT.BIN").string());
  window->BinFileBtn->click();
  EXPECT_TRUE(window->MakeBtn->isEnabled());
  EXPECT_TRUE(window->SOLVFileLb->isEnabled());
  EXPECT_EQ(window->SOLVFileLb->property("Tag").toInt(), 0);

  window->EPROMItems->button(0)->click();
  EXPECT_FALSE(window->MakeBtn->isEnabled());
  EXPECT_EQ(window->BFreeLb->text(), "");
  EXPECT_EQ(window->BFTxtLb->text(), Msg(kLanguageEnglish, 67));
  EXPECT_EQ(window->BFTxtLb->property("Tag").toInt(), 67);
  EXPECT_TRUE(HasRedPixels(window->BFTxtLb));
  EXPECT_EQ(window->ROMDiskWn->count(), 1);

  window->EPROMItems->button(1)->click();
  EXPECT_TRUE(window->MakeBtn->isEnabled());
  EXPECT_EQ(window->BFreeLb->text(), QString(" %1 ").arg(112384 - 60032));
  EXPECT_FALSE(HasRedPixels(window->BFTxtLb));
}

TEST_F(EpixWindowTest, FileDialogsCarryTitlesFiltersAndPresets) {
  settings.Rec.Language = kLanguageItalian;
  window->ShowEPIX();
  std::vector<std::tuple<QString, QStringList, QString, bool, QString>> seen;
  auto inspect = [&](QDialog& dialog) {
    auto& files = dynamic_cast<QFileDialog&>(dialog);
    seen.emplace_back(files.windowTitle(), files.nameFilters(), files.defaultSuffix(),
                      files.acceptMode() == QFileDialog::AcceptSave && !files.testOption(QFileDialog::DontConfirmOverwrite),
                      files.directory().absolutePath());
    return static_cast<int>(QDialog::Rejected);
  };
  answers = {inspect, inspect, inspect};
  window->SOLVBtn->click();
  window->BinFileBtn->click();
  window->AddFileBtn->click();
  ASSERT_EQ(seen.size(), 3u);
  const QString work = QString::fromStdString(folder.path().string());
  EXPECT_EQ(seen[0], std::make_tuple(Msg(1, 47), QStringList{"File Binario (*.bin)", "Tutti i file (*.*)"}, QString("BIN"), false, work));
  EXPECT_EQ(seen[1], std::make_tuple(Msg(1, 56), QStringList{"File Binario (*.bin)", "Tutti i file (*.*)"}, QString(""), true, work));
  EXPECT_EQ(seen[2], std::make_tuple(Msg(1, 72), QStringList{"File SOLVAX (*.svx)", "Tutti i file (*.*)"}, QString("SVX"), false, work));
}

TEST_F(EpixWindowTest, RefusalsShowTheirMessageWithAnIcon) {
  window->ShowEPIX();
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  AnswerFile(File("BIG.BIN", 16385));
  answers.push_back([&](QDialog& dialog) {
    icon = dynamic_cast<QMessageBox&>(dialog).icon();
    return static_cast<int>(QMessageBox::Ok);
  });
  window->SOLVBtn->click();
  EXPECT_EQ(shownTexts, std::vector<QString>{Msg(kLanguageEnglish, 60)});
  EXPECT_EQ(icon, QMessageBox::Critical);
  EXPECT_EQ(window->SOLVFileLb->text(), Msg(kLanguageEnglish, 54));

  AddFile("A.SVX", 10);
  QMessageBox::StandardButtons buttons;
  answers.push_back([&](QDialog& dialog) {
    auto& box = dynamic_cast<QMessageBox&>(dialog);
    icon = box.icon();
    buttons = box.standardButtons();
    return static_cast<int>(QMessageBox::Cancel);
  });
  window->DelAllPup->trigger();
  EXPECT_EQ(icon, QMessageBox::Question);
  EXPECT_EQ(buttons, QMessageBox::Ok | QMessageBox::Cancel);
  EXPECT_EQ(window->ROMDiskWn->count(), 1);
  answers.push_back([](QDialog&) { return static_cast<int>(QMessageBox::Ok); });
  window->DelAllBtn->click();
  EXPECT_EQ(window->ROMDiskWn->count(), 0);
  EXPECT_FALSE(window->DelAllPup->isEnabled());
}

TEST_F(EpixWindowTest, DoubleClickModifiesAndContextMenuDeletes) {
  window->ShowEPIX();
  AddFile("FIRST.SVX", 10);
  AddFile("SECOND.SVX", 10);
  window->ROMDiskWn->setCurrentRow(0);
  AnswerFile(File("THIRD.SVX", 10));
  answers.push_back([](QDialog& dialog) {
    EXPECT_EQ(dynamic_cast<QInputDialog&>(dialog).textValue(), "THIRD.SVX");
    return static_cast<int>(QDialog::Accepted);
  });
  emit window->ROMDiskWn->itemDoubleClicked(window->ROMDiskWn->item(0));
  EXPECT_TRUE(window->ROMDiskWn->item(0)->text().startsWith("N:THIRD.SVX"));
  EXPECT_EQ(window->SelectedLine(), 0);

  window->ROMDiskWn->setCurrentRow(1);
  window->DelFilePup->trigger();
  EXPECT_EQ(window->ROMDiskWn->count(), 1);
  EXPECT_EQ(window->SelectedLine(), 0);
  EXPECT_EQ(window->ROMDiskBox->title(), " ROM-Disk: 1 Files");
}

TEST_F(EpixWindowTest, OpensAboveItsOwnerWithTheFocusOnTheCheckedType) {
  QWidget owner;
  owner.show();
  auto* epix = new TEPIXFrm(settings, &owner);
  epix->ShowEPIX();
  ASSERT_NE(epix->windowHandle(), nullptr);
  EXPECT_EQ(epix->windowHandle()->transientParent(), owner.windowHandle());
  QAbstractButton* checked = epix->EPROMItems->checkedButton();
  ASSERT_NE(checked, nullptr);
  EXPECT_EQ(epix->EPROMItems->id(checked), 1);
  EXPECT_EQ(epix->focusWidget(), checked);
  QTest::keyClick(epix->focusWidget(), Qt::Key_Space);
  EXPECT_EQ(epix->Editor().RDRec.EPROMType, 1) << "Space on the checked type changes nothing";
}

TEST_F(EpixWindowTest, DeleteKeyRemovesAndReturnModifiesTheSelectedFile) {
  window->ShowEPIX();
  AddFile("FIRST.SVX", 10);
  AddFile("SECOND.SVX", 10);
  AddFile("THIRD.SVX", 10);
  window->ROMDiskWn->setCurrentRow(1);
  QTest::keyClick(window->ROMDiskWn, Qt::Key_Delete);
  ASSERT_EQ(window->ROMDiskWn->count(), 2);
  EXPECT_TRUE(window->ROMDiskWn->item(1)->text().startsWith("N:THIRD.SVX"));
  EXPECT_EQ(window->SelectedLine(), 1);

  QString title;
  answers.push_back([&](QDialog& dialog) {
    title = dialog.windowTitle();
    return static_cast<int>(QDialog::Rejected);
  });
  QTest::keyClick(window->ROMDiskWn, Qt::Key_Return);
  EXPECT_EQ(title, Msg(kLanguageEnglish, 74));
  EXPECT_TRUE(answers.empty());

  window->ROMDiskWn->setCurrentRow(-1, QItemSelectionModel::Clear);
  QTest::keyClick(window->ROMDiskWn, Qt::Key_Delete);
  EXPECT_EQ(window->ROMDiskWn->count(), 2) << "nothing selected, nothing deleted";
}

TEST_F(EpixWindowTest, AddTakesSeveralFilesAndProposesEachName) {
  window->ShowEPIX();
  File("ALPHA.SVX", 10);
  File("beta.svx", 200);
  answers.push_back([&](QDialog& dialog) {
    auto& files = dynamic_cast<QFileDialog&>(dialog);
    EXPECT_EQ(files.fileMode(), QFileDialog::ExistingFiles);
    auto* typed = files.findChild<QLineEdit*>("fileNameEdit");
    if (!typed) return static_cast<int>(QDialog::Rejected);
    typed->setText("\"ALPHA.SVX\" \"beta.svx\"");
    return static_cast<int>(QDialog::Accepted);
  });
  QStringList proposals;
  auto acceptName = [&](QDialog& dialog) {
    auto& name = dynamic_cast<QInputDialog&>(dialog);
    proposals << name.textValue();
    EXPECT_GE(name.minimumWidth(), name.fontMetrics().horizontalAdvance(name.windowTitle()) + 100)
        << "wide enough for the title " << name.windowTitle().toStdString();
    return static_cast<int>(QDialog::Accepted);
  };
  answers.push_back(acceptName);
  answers.push_back(acceptName);
  window->AddFileBtn->click();

  EXPECT_EQ(proposals, (QStringList{"ALPHA.SVX", "BETA.SVX"}));
  ASSERT_EQ(window->ROMDiskWn->count(), 2);
  EXPECT_TRUE(window->ROMDiskWn->item(1)->text().startsWith("N:BETA.SVX"));
  EXPECT_EQ(window->SelectedLine(), 1);
}

TEST_F(EpixWindowTest, AddIsClosedAtSixtyThreeFilesFromTheMenuToo) {
  window->ShowEPIX();
  auto& rec = window->Editor().RDRec;
  for (int i = 0; i < kMaxRomDiskFiles; ++i) rec.Files[static_cast<std::size_t>(i)] = {"/f" + std::to_string(i), PadRomDiskName("F" + std::to_string(i)), 0};
  rec.FileCount = kMaxRomDiskFiles;
  window->WriteWn(-1);
  window->ChkBtn();
  EXPECT_FALSE(window->AddFileBtn->isEnabled());
  EXPECT_FALSE(window->AddFilePup->isEnabled());
  bool asked = false;
  answers.push_back([&](QDialog&) {
    asked = true;
    return static_cast<int>(QDialog::Rejected);
  });
  window->AddFileROMDisk();
  EXPECT_FALSE(asked);
}

TEST_F(EpixWindowTest, ProgressWindowBuildsAndEndsWithOnlyOK) {
  for (int language : {kLanguageItalian, kLanguageEnglish}) {
    SCOPED_TRACE(language);
    settings.Rec.Language = static_cast<std::uint8_t>(language);
    window = std::make_unique<TEPIXFrm>(settings);
    std::string os = File("OS.BIN", 100);
    std::string out = (folder / "OUT.BIN").string();
    std::string gone = File("GONE.SVX", 10);
    auto& rec = window->Editor().RDRec;
    rec.SOLVFile = os;
    rec.BinFile = out;
    window->ShowEPIX();

    struct Seen {
      QString title, message;
      bool startShown = false, okShown = false, red = false, okDefault = false;
      int bar = 0, barMax = 0;
    };
    Seen before, after;
    auto look = [](TMkBinFrm& frm, Seen& seen) {
      seen.title = frm.windowTitle();
      seen.message = frm.MsgLb->text();
      seen.startShown = frm.StartBtn->isVisible() && frm.StartBtn->isEnabled() && frm.CancelBtn->isVisible();
      seen.okShown = frm.OKBtn->isVisible() && frm.OKBtn->isEnabled();
      seen.okDefault = frm.OKBtn->isDefault();
      seen.red = frm.MsgLb->palette().color(QPalette::WindowText) == QColor(Qt::red);
      seen.bar = frm.PrcBar->value();
      seen.barMax = frm.PrcBar->maximum();
    };
    window->DialogRunner.Answer = [&](QDialog& dialog) {
      auto& frm = dynamic_cast<TMkBinFrm&>(dialog);
      frm.show();
      look(frm, before);
      frm.StartBtn->click();
      look(frm, after);
      frm.OKBtn->click();
      return frm.result();
    };
    window->MakeBtn->click();
    EXPECT_EQ(before.title, Msg(language, 77));
    EXPECT_TRUE(before.startShown);
    EXPECT_FALSE(before.okShown);
    EXPECT_EQ(after.message, Msg(language, 84));
    EXPECT_FALSE(after.startShown);
    EXPECT_TRUE(after.okShown && after.okDefault);
    EXPECT_FALSE(after.red);
    EXPECT_EQ(after.bar, 131072);
    EXPECT_EQ(testing::readFileBytes(out).size(), 131072u);

    rec.Files[0] = {gone, PadRomDiskName("GONE.SVX"), 128};
    rec.FileCount = 1;
    std::filesystem::remove(gone);
    window->MakeBtn->click();
    EXPECT_EQ(after.message, Msg(language, 59) + "GONE.SVX    ");
    EXPECT_TRUE(after.red);
    EXPECT_EQ(after.barMax, 131072);
    EXPECT_EQ(after.bar, 0x4900);
  }
}

TEST_F(EpixWindowTest, ProgressWindowCancelWritesNothing) {
  TRDRec rec;
  rec.SOLVFile = File("OS.BIN", 10);
  rec.BinFile = (folder / "OUT.BIN").string();
  TMkBinFrm frm(settings, rec);
  frm.show();
  frm.CancelBtn->click();
  EXPECT_EQ(frm.result(), QDialog::Rejected);
  EXPECT_FALSE(frm.isVisible());
  EXPECT_FALSE(std::filesystem::exists(rec.BinFile));
}

}  // namespace
}  // namespace mirte
