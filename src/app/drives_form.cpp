#include "app/drives_form.h"

#include <QEvent>
#include <QFile>
#include <QFileDialog>
#include <QFileSystemWatcher>
#include <QHideEvent>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>

#include "app/apply_language.h"
#include "board/board_view.h"
#include "common/drive_texts.h"
#include "platform/dos_files.h"
#include "platform/dos_folder.h"

namespace mirte {

namespace {

constexpr int kDriveCount = TDosDrives::kDriveCount;

QTreeWidget* NewList(QWidget* parent, const char* name, int columns) {
  auto* list = new QTreeWidget(parent);
  list->setObjectName(name);
  list->setColumnCount(columns);
  list->setRootIsDecorated(false);
  list->setUniformRowHeights(true);
  list->setAllColumnsShowFocus(true);
  list->header()->setStretchLastSection(true);
  return list;
}

// File names are bytes; the system's own decoding shows them and gives them back unchanged.
QString FromLocal(const std::string& text) {
  return QFile::decodeName(QByteArray(text.data(), static_cast<qsizetype>(text.size())));
}

std::string ToLocal(const QString& text) {
  return QFile::encodeName(text).toStdString();
}

const TTextPair& WhyText(TUnreachable why) {
  switch (why) {
    case TUnreachable::Folder:
      return kWhyFolder;
    case TUnreachable::Link:
      return kWhyLink;
    case TUnreachable::Hidden:
      return kWhyHidden;
    case TUnreachable::NotRegular:
      return kWhyNotRegular;
    case TUnreachable::ProgramFile:
      return kWhyProgramFile;
    case TUnreachable::GeneratedAlias:
      return kWhyGeneratedAlias;
  }
  return kWhyFolder;
}

}  // namespace

TDrivesFrm::TDrivesFrm(QWidget* owner, TDosDrives& dosDrives, const SettingsRec& settingsRec, TChooseFolder choose,
                       QString placesFile)
    : QDialog(owner),
      drives(dosDrives),
      settings(settingsRec),
      chooseFolder(std::move(choose)),
      places(std::move(placesFile)) {
  setObjectName("DrivesFrm");
  SetCaption(this, kDrivesTitle, settings.Language);

  DrivesWn = NewList(this, "DrivesWn", 3);
  DrivesWn->setSelectionMode(QAbstractItemView::SingleSelection);
  // Room for a letter, a folder of some length and the Working mark at whatever font.
  DrivesWn->setMinimumWidth(std::max(380, DrivesWn->fontMetrics().averageCharWidth() * 48));
  // The folder takes what the letter and the Working mark leave, and gives up its middle
  // first: the ends of a path tell most about where it leads.
  DrivesWn->setTextElideMode(Qt::ElideMiddle);
  QHeaderView* header = DrivesWn->header();
  header->setStretchLastSection(false);
  header->setSectionResizeMode(0, QHeaderView::ResizeToContents);
  header->setSectionResizeMode(1, QHeaderView::Stretch);
  header->setSectionResizeMode(2, QHeaderView::ResizeToContents);
  for (int i = 0; i < kDriveCount; ++i) {
    auto* row = new QTreeWidgetItem(DrivesWn);
    row->setText(0, QString("%1:").arg(QChar('A' + i)));
  }
  ChooseBtn = new QPushButton(this);
  ChooseBtn->setObjectName("ChooseBtn");
  SetCaption(ChooseBtn, kChooseBtnText, settings.Language);
  RemoveBtn = new QPushButton(this);
  RemoveBtn->setObjectName("RemoveBtn");
  SetCaption(RemoveBtn, kRemoveBtnText, settings.Language);
  CloseBtn = new QPushButton(this);
  CloseBtn->setObjectName("CloseBtn");
  SetCaption(CloseBtn, kCloseBtnText, settings.Language);

  BoardViewLb = new QLabel(this);
  BoardViewLb->setObjectName("BoardViewLb");
  BoardViewLb->setWordWrap(true);
  BoardFilesWn = NewList(this, "BoardFilesWn", 4);
  BoardFilesWn->setSortingEnabled(false);
  ApartLb = new QLabel(this);
  ApartLb->setObjectName("ApartLb");
  SetCaption(ApartLb, kApartText, settings.Language);
  ApartWn = NewList(this, "ApartWn", 2);

  auto* buttons = new QHBoxLayout;
  buttons->addWidget(ChooseBtn);
  buttons->addWidget(RemoveBtn);
  buttons->addStretch(1);
  buttons->addWidget(CloseBtn);
  auto* left = new QVBoxLayout;
  left->addWidget(DrivesWn, 1);
  left->addLayout(buttons);
  auto* right = new QVBoxLayout;
  right->addWidget(BoardViewLb);
  right->addWidget(BoardFilesWn, 3);
  right->addWidget(ApartLb);
  right->addWidget(ApartWn, 2);
  auto* layout = new QHBoxLayout(this);
  layout->addLayout(left, 2);
  layout->addLayout(right, 3);

  watcher = new QFileSystemWatcher(this);
  connect(watcher, &QFileSystemWatcher::directoryChanged, this, [this] { Refresh(); });
  connect(DrivesWn, &QTreeWidget::currentItemChanged, this, [this] {
    UpdateButtons();
    FillBoardView();
  });
  connect(ChooseBtn, &QPushButton::clicked, this, [this] { ChooseBtnClick(); });
  connect(RemoveBtn, &QPushButton::clicked, this, [this] { RemoveBtnClick(); });
  connect(CloseBtn, &QPushButton::clicked, this, &QDialog::close);

  FillDrives();
  SelectDrive(drives.WorkingDrive());
  places.Restore(*this, kPreferredSize.expandedTo(sizeHint()));
}

TDrivesFrm::~TDrivesFrm() {
  if (isVisible()) places.Remember(*this);
}

QString TDrivesFrm::Text(const TTextPair& text) const {
  return PairText(text, settings.Language);
}

char TDrivesFrm::SelectedDrive() const {
  int row = DrivesWn->indexOfTopLevelItem(DrivesWn->currentItem());
  return static_cast<char>('A' + (row < 0 ? 0 : row));
}

void TDrivesFrm::SelectDrive(char letter) {
  int row = letter - 'A';
  if (row < 0 || row >= kDriveCount) return;
  DrivesWn->setCurrentItem(DrivesWn->topLevelItem(row));
  UpdateButtons();
  FillBoardView();
}

void TDrivesFrm::Refresh() {
  FillDrives();
  UpdateButtons();
  FillBoardView();
}

void TDrivesFrm::FillDrives() {
  DrivesWn->setHeaderLabels({Text(kDriveColumn), Text(kFolderColumn), Text(kWorkColumn)});
  auto roots = drives.Roots();
  char working = drives.WorkingDrive();
  for (int i = 0; i < kDriveCount; ++i) {
    char letter = static_cast<char>('A' + i);
    QTreeWidgetItem* row = DrivesWn->topLevelItem(i);
    const std::string& root = roots[static_cast<std::size_t>(i)];
    std::string target = drives.LinkTarget(letter);
    QString folder;
    if (!root.empty())
      folder = FromLocal(root);
    else if (drives.RefusedLink(letter))
      folder = Text(kRefusedLinkMark) + FromLocal(target);
    else if (!target.empty())
      folder = Text(kMissingFolder) + FromLocal(target);
    else
      folder = Text(kNoFolder);
    row->setText(1, folder);
    row->setToolTip(1, folder);
    row->setText(2, letter == working && !root.empty() ? Text(kWorkMark) : QString());
  }
  WatchFolders();
}

void TDrivesFrm::FillBoardView() {
  BoardFilesWn->setHeaderLabels({Text(kBoardNameColumn), Text(kPcNameColumn), Text(kRecordsColumn), Text(kReadOnlyColumn)});
  ApartWn->setHeaderLabels({Text(kPcNameColumn), Text(kWhyColumn)});
  BoardFilesWn->clear();
  ApartWn->clear();
  char letter = SelectedDrive();
  std::string folder = drives.CurrentFolderOf(letter);
  viewedFolder = FromLocal(folder);
  BoardViewLb->setText(Text(kBoardViewText) + QString("%1: %2").arg(QChar(letter)).arg(folder.empty() ? Text(kNoFolder) : viewedFolder));
  if (!folder.empty()) {
    TBoardView view = BoardViewOf(drives, folder);
    for (const TBoardFile& file : view.Files) {
      auto* row = new QTreeWidgetItem(BoardFilesWn);
      row->setText(0, FromLocal(file.Alias));
      row->setText(1, FromLocal(file.Name));
      row->setText(2, QString::number(file.Records));
      row->setTextAlignment(2, Qt::AlignRight | Qt::AlignVCenter);
      row->setText(3, file.ReadOnly ? Text(kReadOnlyMark) : QString());
    }
    for (const TApartEntry& entry : view.Apart) {
      auto* row = new QTreeWidgetItem(ApartWn);
      row->setText(0, FromLocal(entry.Name));
      row->setText(1, Text(WhyText(entry.Why)) + FromLocal(entry.Alias));
    }
  }
  for (int column = 0; column < 3; ++column) BoardFilesWn->resizeColumnToContents(column);
  ApartWn->resizeColumnToContents(0);
  WatchFolders();
}

void TDrivesFrm::UpdateButtons() {
  char letter = SelectedDrive();
  bool working = letter == drives.WorkingDrive();
  ChooseBtn->setEnabled(!working);
  RemoveBtn->setEnabled(!working && !drives.LinkTarget(letter).empty());
}

void TDrivesFrm::WatchFolders() {
  // The links folder tells of mappings made by hand; the viewed folder of files coming and
  // going. Watching stops for folders no longer shown.
  QStringList wanted;
  QString links = FromLocal(drives.DosDevicesFolder());
  if (!links.isEmpty()) wanted << links;
  if (!viewedFolder.isEmpty()) wanted << viewedFolder;
  QStringList watched = watcher->directories();
  for (const QString& folder : watched)
    if (!wanted.contains(folder)) watcher->removePath(folder);
  for (const QString& folder : wanted)
    if (!watched.contains(folder)) watcher->addPath(folder);
}

void TDrivesFrm::ChooseBtnClick() {
  char letter = SelectedDrive();
  if (letter == drives.WorkingDrive()) return;
  QString title = Text(kChooseDriveTitle) + QString("%1:").arg(QChar(letter));
  std::string root = drives.DriveRoot(letter);
  QString start = FromLocal(root.empty() ? drives.WorkingFolder() : root);
  std::optional<QString> chosen;
  if (chooseFolder) {
    chosen = chooseFolder(start, title);
  } else {
    QString folder = QFileDialog::getExistingDirectory(this, title, start,
                                                       QFileDialog::ShowDirsOnly | QFileDialog::DontUseNativeDialog);
    if (!folder.isEmpty()) chosen = folder;
  }
  if (chosen && IsRefusedRoot(ToLocal(*chosen))) {
    QMessageBox::warning(this, windowTitle(), Text(kRefusedFolderText).arg(*chosen));
    return;
  }
  if (chosen) drives.MapDrive(letter, ToLocal(*chosen));
  Refresh();
}

void TDrivesFrm::RemoveBtnClick() {
  char letter = SelectedDrive();
  if (letter == drives.WorkingDrive()) return;
  drives.UnmapDrive(letter);
  Refresh();
}

void TDrivesFrm::changeEvent(QEvent* event) {
  QDialog::changeEvent(event);
  if (event->type() == QEvent::LanguageChange) Refresh();
}

void TDrivesFrm::hideEvent(QHideEvent* event) {
  QDialog::hideEvent(event);
  // Minimizing is no leaving.
  if (!event->spontaneous()) places.Remember(*this);
}

}  // namespace mirte
