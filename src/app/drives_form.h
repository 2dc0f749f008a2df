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
// The selected drive's switch lets the board write files with more than one hard link
// (kept in the settings' side file); the view marks such files read-only otherwise. The
// view is read in slices from the event loop, so a folder of 100,000 files keeps no reply
// waiting, and shows at most kShownRows rows per list with a note of how many more there are.
#include <QDialog>
#include <QString>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

#include "app/window_places.h"
#include "common/settings.h"
#include "common/text_pair.h"

class QCheckBox;
class QFileSystemWatcher;
class QLabel;
class QPushButton;
class QTimer;
class QTreeWidget;

namespace mirte {

class TDosDrives;
class TBoardViewReader;

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
  // Folder entries read per turn of the event loop: a couple of milliseconds' work.
  static constexpr std::size_t kEntriesPerSlice = 500;
  static constexpr int kShownRows = 2000;

  QTreeWidget* DrivesWn = nullptr;
  QPushButton* ChooseBtn = nullptr;
  QPushButton* RemoveBtn = nullptr;
  QPushButton* CloseBtn = nullptr;
  QLabel* BoardViewLb = nullptr;
  QTreeWidget* BoardFilesWn = nullptr;
  QLabel* ApartLb = nullptr;
  QTreeWidget* ApartWn = nullptr;
  QCheckBox* LinksWritableCb = nullptr;
  QLabel* ListingLb = nullptr;

  // The drive whose row is selected, 'A' to 'P'.
  char SelectedDrive() const;
  void SelectDrive(char letter);
  // Reads the links and the viewed folder again.
  void Refresh();
  // True while the viewed folder is still being read.
  bool Listing() const;
  // Entries read per slice from now on (at least one).
  void SetEntriesPerSlice(std::size_t entries) { entriesPerSlice_ = entries > 0 ? entries : 1; }

  void ChooseBtnClick();
  void RemoveBtnClick();
  void LinksWritableCbClick(bool writable);

protected:
  void changeEvent(QEvent* event) override;
  void hideEvent(QHideEvent* event) override;
  void showEvent(QShowEvent* event) override;

private:
  void FillDrives();
  void FillBoardView();
  void ListSlice();
  void ShowBoardView();
  void FolderChanged();
  void UpdateButtons();
  void WatchFolders();
  QString Text(const TTextPair& text) const;

  TDosDrives& drives_;
  const SettingsRec& settings_;
  TChooseFolder chooseFolder_;
  QFileSystemWatcher* watcher_ = nullptr;
  QString viewedFolder_;
  std::unique_ptr<TBoardViewReader> reader_;
  QTimer* listTimer_ = nullptr;    // a zero timer: one slice per turn of the event loop
  QTimer* relistTimer_ = nullptr;  // gathers a burst of folder changes into one reading
  bool relistWanted_ = false;
  std::size_t entriesPerSlice_ = kEntriesPerSlice;
  std::chrono::steady_clock::time_point listStarted_;
  std::chrono::milliseconds lastListing_{0};
  TWindowPlaces places_;
};

}  // namespace mirte
