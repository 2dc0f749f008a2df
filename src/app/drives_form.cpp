#include "app/drives_form.h"

#include <QCheckBox>
#include <QEvent>
#include <QFile>
#include <QFileDialog>
#include <QFileSystemWatcher>
#include <QHideEvent>
#include <QShowEvent>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>

#include "app/apply_language.h"
#include "board/board_view.h"
#include "common/drive_texts.h"
#include "platform/dos_files.h"
#include "platform/dos_folder.h"
#include "platform/drive_options.h"

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
      drives_(dosDrives),
      settings_(settingsRec),
      chooseFolder_(std::move(choose)),
      places_(std::move(placesFile)) {
  setObjectName("DrivesFrm");
  SetCaption(this, kDrivesTitle, settings_.Language);

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
  SetCaption(ChooseBtn, kChooseBtnText, settings_.Language);
  RemoveBtn = new QPushButton(this);
  RemoveBtn->setObjectName("RemoveBtn");
  SetCaption(RemoveBtn, kRemoveBtnText, settings_.Language);
  CloseBtn = new QPushButton(this);
  CloseBtn->setObjectName("CloseBtn");
  SetCaption(CloseBtn, kCloseBtnText, settings_.Language);

  BoardViewLb = new QLabel(this);
  BoardViewLb->setObjectName("BoardViewLb");
  BoardViewLb->setWordWrap(true);
  BoardFilesWn = NewList(this, "BoardFilesWn", 4);
  BoardFilesWn->setSortingEnabled(false);
  ApartLb = new QLabel(this);
  ApartLb->setObjectName("ApartLb");
  SetCaption(ApartLb, kApartText, settings_.Language);
  ApartWn = NewList(this, "ApartWn", 2);
  LinksWritableCb = new QCheckBox(this);
  LinksWritableCb->setObjectName("LinksWritableCb");
  SetCaption(LinksWritableCb, kLinksWritableText, settings_.Language);
  LinksWritableCb->setToolTip(Text(kLinksWritableTip));
  ListingLb = new QLabel(this);
  ListingLb->setObjectName("ListingLb");
  ListingLb->hide();

  auto* buttons = new QHBoxLayout;
  buttons->addWidget(ChooseBtn);
  buttons->addWidget(RemoveBtn);
  buttons->addStretch(1);
  buttons->addWidget(CloseBtn);
  auto* left = new QVBoxLayout;
  left->addWidget(DrivesWn, 1);
  left->addWidget(LinksWritableCb);
  left->addLayout(buttons);
  auto* right = new QVBoxLayout;
  right->addWidget(BoardViewLb);
  right->addWidget(ListingLb);
  right->addWidget(BoardFilesWn, 3);
  right->addWidget(ApartLb);
  right->addWidget(ApartWn, 2);
  auto* layout = new QHBoxLayout(this);
  layout->addLayout(left, 2);
  layout->addLayout(right, 3);

  listTimer_ = new QTimer(this);
  listTimer_->setInterval(0);
  connect(listTimer_, &QTimer::timeout, this, [this] { ListSlice(); });
  relistTimer_ = new QTimer(this);
  relistTimer_->setSingleShot(true);
  connect(relistTimer_, &QTimer::timeout, this, [this] { FillBoardView(); });

  watcher_ = new QFileSystemWatcher(this);
  connect(watcher_, &QFileSystemWatcher::directoryChanged, this, [this] { FolderChanged(); });
  connect(DrivesWn, &QTreeWidget::currentItemChanged, this, [this] {
    UpdateButtons();
    FillBoardView();
  });
  connect(ChooseBtn, &QPushButton::clicked, this, [this] { ChooseBtnClick(); });
  connect(RemoveBtn, &QPushButton::clicked, this, [this] { RemoveBtnClick(); });
  connect(LinksWritableCb, &QCheckBox::clicked, this, [this](bool checked) { LinksWritableCbClick(checked); });
  connect(CloseBtn, &QPushButton::clicked, this, &QDialog::close);

  FillDrives();
  SelectDrive(drives_.WorkingDrive());
  places_.Restore(*this, kPreferredSize.expandedTo(sizeHint()));
}

TDrivesFrm::~TDrivesFrm() {
  if (isVisible()) places_.Remember(*this);
}

QString TDrivesFrm::Text(const TTextPair& text) const {
  return PairText(text, settings_.Language);
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
  auto roots = drives_.Roots();
  char working = drives_.WorkingDrive();
  for (int i = 0; i < kDriveCount; ++i) {
    char letter = static_cast<char>('A' + i);
    QTreeWidgetItem* row = DrivesWn->topLevelItem(i);
    const std::string& root = roots[static_cast<std::size_t>(i)];
    std::string target = drives_.LinkTarget(letter);
    QString folder;
    if (!root.empty())
      folder = FromLocal(root);
    else if (drives_.RefusedLink(letter))
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

bool TDrivesFrm::Listing() const {
  return reader_ != nullptr || relistTimer_->isActive();
}

void TDrivesFrm::FolderChanged() {
  // A hidden window reads nothing: it is refreshed when it is shown again.
  if (!isVisible()) return;
  FillDrives();
  UpdateButtons();
  // A board at work changes its folder with every make and delete; reading a large folder
  // again for each would take the machine from the board. Changes wait at least as long
  // as the last reading took, and one reading covers all that came meanwhile.
  if (reader_) {
    relistWanted_ = true;
    return;
  }
  if (!relistTimer_->isActive()) relistTimer_->start(std::max(std::chrono::milliseconds(100), lastListing_));
}

void TDrivesFrm::FillBoardView() {
  BoardFilesWn->setHeaderLabels({Text(kBoardNameColumn), Text(kPcNameColumn), Text(kRecordsColumn), Text(kReadOnlyColumn)});
  ApartWn->setHeaderLabels({Text(kPcNameColumn), Text(kWhyColumn)});
  relistTimer_->stop();
  relistWanted_ = false;
  char letter = SelectedDrive();
  std::string folder = drives_.CurrentFolderOf(letter);
  QString shown = FromLocal(folder);
  // Another folder's rows would mislead while this one is read; the same folder's stay.
  if (shown != viewedFolder_ || folder.empty()) {
    BoardFilesWn->clear();
    ApartWn->clear();
  }
  viewedFolder_ = shown;
  BoardViewLb->setText(Text(kBoardViewText) + QString("%1: %2").arg(QChar(letter)).arg(folder.empty() ? Text(kNoFolder) : viewedFolder_));
  reader_.reset();
  if (!folder.empty()) {
    reader_ = std::make_unique<TBoardViewReader>(drives_, folder);
    listStarted_ = std::chrono::steady_clock::now();
    // A small folder is shown at once; a large one goes on from the event loop.
    ListSlice();
  } else {
    listTimer_->stop();
    ListingLb->hide();
  }
  WatchFolders();
}

void TDrivesFrm::ListSlice() {
  if (!reader_) {
    listTimer_->stop();
    return;
  }
  if (!reader_->Step(entriesPerSlice_)) {
    ListingLb->setText(Text(kListingText).arg(reader_->Read()));
    ListingLb->show();
    if (!listTimer_->isActive()) listTimer_->start();
    return;
  }
  listTimer_->stop();
  ShowBoardView();
  reader_.reset();
  lastListing_ = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - listStarted_);
  ListingLb->hide();
  if (relistWanted_) {
    relistWanted_ = false;
    relistTimer_->start(std::max(std::chrono::milliseconds(100), lastListing_));
  }
}

void TDrivesFrm::ShowBoardView() {
  const TBoardView& view = reader_->View();
  // At most kShownRows rows a list, then one saying how many more: the rows cost far more
  // memory than the names, and nobody reads the ten-thousandth. Rows go in by the list, not
  // one by one, since each single insertion tells the view anew.
  auto rows = [this](const auto& entries, const auto& fill) {
    QList<QTreeWidgetItem*> list;
    for (const auto& entry : entries) {
      auto* row = new QTreeWidgetItem;
      if (list.size() == kShownRows) {
        row->setText(0, Text(kMoreRowsText).arg(entries.size() - kShownRows));
        row->setFlags(Qt::ItemIsEnabled);
        list << row;
        break;
      }
      fill(*row, entry);
      list << row;
    }
    return list;
  };
  QList<QTreeWidgetItem*> files = rows(view.Files, [this](QTreeWidgetItem& row, const TBoardFile& file) {
    row.setText(0, FromLocal(file.Alias));
    row.setText(1, FromLocal(file.Name));
    row.setText(2, QString::number(file.Records));
    row.setTextAlignment(2, Qt::AlignRight | Qt::AlignVCenter);
    QString readOnly;
    if (file.ReadOnly)
      readOnly = Text(kReadOnlyMark);
    else if (file.LinkedReadOnly)
      readOnly = Text(kLinkedReadOnlyMark).arg(file.Links);
    else if (file.Links > 1)
      readOnly = Text(kLinkedWritableMark).arg(file.Links);
    row.setText(3, readOnly);
    row.setToolTip(3, readOnly);
  });
  QList<QTreeWidgetItem*> apart = rows(view.Apart, [this](QTreeWidgetItem& row, const TApartEntry& entry) {
    row.setText(0, FromLocal(entry.Name));
    row.setText(1, Text(WhyText(entry.Why)) + FromLocal(entry.Alias));
  });
  BoardFilesWn->clear();
  ApartWn->clear();
  BoardFilesWn->addTopLevelItems(files);
  ApartWn->addTopLevelItems(apart);
  for (int column = 0; column < 3; ++column) BoardFilesWn->resizeColumnToContents(column);
  ApartWn->resizeColumnToContents(0);
}

void TDrivesFrm::UpdateButtons() {
  char letter = SelectedDrive();
  bool working = letter == drives_.WorkingDrive();
  ChooseBtn->setEnabled(!working);
  RemoveBtn->setEnabled(!working && !drives_.LinkTarget(letter).empty());
  std::string options = drives_.DriveOptionsFile();
  LinksWritableCb->setEnabled(!options.empty());
  LinksWritableCb->setChecked(!options.empty() && LoadDriveOptions(options).LinksWritable(letter));
}

void TDrivesFrm::LinksWritableCbClick(bool writable) {
  char letter = SelectedDrive();
  std::string path = drives_.DriveOptionsFile();
  TDriveOptions options = LoadDriveOptions(path);
  options.SetLinksWritable(letter, writable);
  if (!SaveDriveOptions(path, options)) {
    LinksWritableCb->setChecked(!writable);
    QMessageBox::warning(this, windowTitle(), Text(kDriveOptionsNotSaved).arg(FromLocal(path)));
    return;
  }
  FillBoardView();
}

void TDrivesFrm::WatchFolders() {
  // The links folder tells of mappings made by hand; the viewed folder of files coming and
  // going. Watching stops for folders no longer shown.
  QStringList wanted;
  QString links = FromLocal(drives_.DosDevicesFolder());
  if (!links.isEmpty()) wanted << links;
  if (!viewedFolder_.isEmpty()) wanted << viewedFolder_;
  QStringList watched = watcher_->directories();
  for (const QString& folder : watched)
    if (!wanted.contains(folder)) watcher_->removePath(folder);
  for (const QString& folder : wanted)
    if (!watched.contains(folder)) watcher_->addPath(folder);
}

void TDrivesFrm::ChooseBtnClick() {
  char letter = SelectedDrive();
  if (letter == drives_.WorkingDrive()) return;
  QString title = Text(kChooseDriveTitle) + QString("%1:").arg(QChar(letter));
  std::string root = drives_.DriveRoot(letter);
  QString start = FromLocal(root.empty() ? drives_.WorkingFolder() : root);
  std::optional<QString> chosen;
  if (chooseFolder_) {
    chosen = chooseFolder_(start, title);
  } else {
    QString folder = QFileDialog::getExistingDirectory(this, title, start,
                                                       QFileDialog::ShowDirsOnly | QFileDialog::DontUseNativeDialog);
    if (!folder.isEmpty()) chosen = folder;
  }
  if (chosen && IsRefusedRoot(ToLocal(*chosen))) {
    QMessageBox::warning(this, windowTitle(), Text(kRefusedFolderText).arg(*chosen));
    return;
  }
  if (chosen) drives_.MapDrive(letter, ToLocal(*chosen));
  Refresh();
}

void TDrivesFrm::RemoveBtnClick() {
  char letter = SelectedDrive();
  if (letter == drives_.WorkingDrive()) return;
  drives_.UnmapDrive(letter);
  Refresh();
}

void TDrivesFrm::changeEvent(QEvent* event) {
  QDialog::changeEvent(event);
  if (event->type() == QEvent::LanguageChange) {
    LinksWritableCb->setToolTip(Text(kLinksWritableTip));
    Refresh();
  }
}

void TDrivesFrm::hideEvent(QHideEvent* event) {
  QDialog::hideEvent(event);
  // A board at work in a large folder would keep a hidden window reading it.
  reader_.reset();
  listTimer_->stop();
  relistTimer_->stop();
  relistWanted_ = false;
  ListingLb->hide();
  // Minimizing is no leaving.
  if (!event->spontaneous()) places_.Remember(*this);
}

void TDrivesFrm::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  // Coming back from the task bar; whoever shows the window afresh refreshes it first.
  if (event->spontaneous()) Refresh();
}

}  // namespace mirte
