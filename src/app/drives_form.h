#pragma once
// The Drives window: the sixteen board drives A to P, each with the folder it stands for and
// whether it is the working folder's drive, and beside them the board's view of the selected
// drive's current folder (the files it can reach under their 8.3 names, and apart what it
// cannot reach and why). Choose… maps a drive to a folder and Remove unmaps it by writing and
// removing the `dosdevices/x:` links, so links made by hand and here are the same thing; the
// working folder's drive can be neither re-mapped nor removed. The board sees a change from
// its next command on. The window follows the links folder and the viewed folder while open.
// A long folder is elided in the middle (the whole path in its tooltip) so the Working column
// stays in view; the window opens inside its screen, where and as large as it was left.
#include <QDialog>
#include <QString>

#include <functional>
#include <optional>

#include "app/window_places.h"
#include "common/settings.h"
#include "common/text_pair.h"

class QFileSystemWatcher;
class QLabel;
class QPushButton;
class QTreeWidget;

namespace mirte {

class TDosDrives;

class TDrivesFrm : public QDialog {
public:
  // Asks for a folder, given a starting folder and a title; nullopt when cancelled.
  using TChooseFolder = std::function<std::optional<QString>(const QString& start, const QString& title)>;

  // The drives and the settings belong to the main window and outlive this window.
  TDrivesFrm(QWidget* owner, TDosDrives& drives, const SettingsRec& settings, TChooseFolder chooseFolder,
             QString placesFile = TWindowPlaces::DefaultFile());
  ~TDrivesFrm() override;

  // The size it opens at the first time, unless its contents ask for more.
  static constexpr QSize kPreferredSize{900, 460};

  QTreeWidget* DrivesWn = nullptr;
  QPushButton* ChooseBtn = nullptr;
  QPushButton* RemoveBtn = nullptr;
  QPushButton* CloseBtn = nullptr;
  QLabel* BoardViewLb = nullptr;
  QTreeWidget* BoardFilesWn = nullptr;
  QLabel* ApartLb = nullptr;
  QTreeWidget* ApartWn = nullptr;

  // The drive whose row is selected, 'A' to 'P'.
  char SelectedDrive() const;
  void SelectDrive(char letter);
  // Reads the links and the viewed folder again.
  void Refresh();

  void ChooseBtnClick();
  void RemoveBtnClick();

protected:
  void changeEvent(QEvent* event) override;
  void hideEvent(QHideEvent* event) override;

private:
  void FillDrives();
  void FillBoardView();
  void UpdateButtons();
  void WatchFolders();
  QString Text(const TTextPair& text) const;

  TDosDrives& drives;
  const SettingsRec& settings;
  TChooseFolder chooseFolder;
  QFileSystemWatcher* watcher = nullptr;
  QString viewedFolder;
  TWindowPlaces places;
};

}  // namespace mirte
