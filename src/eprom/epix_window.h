#pragma once
// The EPIX window, where the user composes a user EPROM. Created once, hidden, by the main
// window (which owns it and which it stays above); shown modelessly by ShowEPIX() and only
// hidden when closed, so the composition lives until the program ends. It opens with the
// focus on the checked EPROM type; in the list Delete removes the selected file and Return
// modifies it. Make opens the modal progress window.
#include <QWidget>

#include "eprom/qt_dialogs.h"
#include "eprom/rom_disk_editor.h"

class QAction;
class QButtonGroup;
class QCheckBox;
class QGroupBox;
class QLabel;
class QListWidget;
class QMenu;
class QPushButton;

namespace mirte {

class TSettings;

class TEPIXFrm : public QWidget {
  Q_OBJECT
public:
  explicit TEPIXFrm(TSettings& settings, QWidget* parent = nullptr);

  // Shows the window (or brings it to the front) without blocking.
  void ShowEPIX();

  // Tests answer the modal dialogs (file, name, message boxes, progress window) here.
  TDialogRunner DialogRunner;
  TRomDiskEditor& Editor() { return editor_; }

  QGroupBox* EPROMGrp;
  QButtonGroup* EPROMItems;
  QCheckBox* KTBQ17Chk;
  QPushButton* MakeBtn;
  QPushButton* SOLVBtn;
  QPushButton* BinFileBtn;
  QLabel* SOLVFileLb;
  QLabel* BinFileLb;
  QGroupBox* ROMDiskBox;
  QLabel* BFreeLb;
  QLabel* BFTxtLb;
  QListWidget* ROMDiskWn;
  QPushButton* AddFileBtn;
  QPushButton* ModFileBtn;
  QPushButton* DelFileBtn;
  QPushButton* DelAllBtn;
  QMenu* ROMDiskPup;
  QAction* AddFilePup;
  QAction* ModFilePup;
  QAction* DelFilePup;
  QAction* DelAllPup;

  void SOLVBtnClick();
  void BinFileBtnClick();
  void AddFileROMDisk();
  void ModFileROMDisk();
  void DelFileROMDisk();
  void DelAllROMDisk();
  void EPROMGrpClick(int index);
  void KTBQ17ChkClick();
  void ROMDiskWnClick();
  void MakeBtnClick();

  void WriteWn(int line);
  void WriteRDFree();
  void ChkBtn();
  int SelectedLine() const;

protected:
  void showEvent(QShowEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

private:
  void BuildControls();
  void PlaceFreeLabels();
  void SetFileLabel(QLabel* label, const std::string& path, int emptyMessage);
  QString Text(int message) const;

  TSettings& settings_;
  TQtEpixDialogs dialogs_;
  TRomDiskEditor editor_;
  bool writeWnBusy_ = false;
  bool centred_ = false;
};

}  // namespace mirte
