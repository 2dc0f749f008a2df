#include "eprom/epix_window.h"

#include <QAction>
#include <QButtonGroup>
#include <QEvent>
#include <QCheckBox>
#include <QFontDatabase>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QVBoxLayout>
#include <QWindow>

#include "common/msg_table.h"
#include "common/settings.h"
#include "eprom/make_bin_window.h"
#include "eprom/tag_captions.h"

namespace mirte {

namespace {

QString FromUtf8(const std::string& text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }

template <class T>
T* Named(T* component, const char* name, int tag) {
  component->setObjectName(QLatin1String(name));
  if (tag != 0) SetCaptionTag(component, tag);
  return component;
}

}  // namespace

TEPIXFrm::TEPIXFrm(TSettings& settings, QWidget* parent)
    : QWidget(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                          Qt::WindowMinimizeButtonHint),
      settings_(settings),
      dialogs_(this, DialogRunner),
      editor_(settings, dialogs_) {
  setObjectName("EPIXFrm");
  SetCaptionTag(this, 37);
  setWindowTitle(EpromText(kLanguageItalian, 37));
  // Closing only hides the window; it must not count as the program's last window either.
  setAttribute(Qt::WA_DeleteOnClose, false);
  setAttribute(Qt::WA_QuitOnClose, false);
  BuildControls();
  editor_.InitRDRec();
  writeWnBusy_ = false;
  WriteWn(-1);
  ChkBtn();
}

QString TEPIXFrm::Text(int message) const { return EpromText(settings_.Rec.Language, message); }

void TEPIXFrm::BuildControls() {
  const QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
  const auto it = [](int message) { return EpromText(kLanguageItalian, message); };

  EPROMGrp = Named(new QGroupBox(it(39), this), "EPROMGrp", 39);
  EPROMItems = new QButtonGroup(this);
  auto* items = new QGridLayout(EPROMGrp);
  for (int i = 0; i < static_cast<int>(kEPROMTable.size()); ++i) {
    auto* item = new QRadioButton(QLatin1String(kEPROMTable[static_cast<std::size_t>(i)].ItemText), EPROMGrp);
    item->setObjectName(QStringLiteral("EPROMGrpItem%1").arg(i));
    EPROMItems->addButton(item, i);
    items->addWidget(item, 0, i);
  }

  SOLVBtn = Named(new QPushButton(it(41), this), "SOLVBtn", 41);
  BinFileBtn = Named(new QPushButton(it(42), this), "BinFileBtn", 42);
  KTBQ17Chk = Named(new QCheckBox(it(38), this), "KTBQ17Chk", 38);
  MakeBtn = Named(new QPushButton(it(40), this), "MakeBtn", 40);
  SOLVFileLb = Named(new QLabel(this), "SOLVFileLb", 0);
  BinFileLb = Named(new QLabel(this), "BinFileLb", 0);
  for (QLabel* label : {SOLVFileLb, BinFileLb}) {
    label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    label->setFont(fixed);
    label->setMinimumWidth(QFontMetrics(fixed).horizontalAdvance(QLatin1Char('X')) * 56);
  }

  ROMDiskBox = Named(new QGroupBox(this), "ROMDiskBox", 0);
  BFreeLb = Named(new QLabel(ROMDiskBox), "BFreeLb", 0);
  BFTxtLb = Named(new QLabel(ROMDiskBox), "BFTxtLb", 0);
  for (QLabel* label : {BFreeLb, BFTxtLb}) {
    QFont bold = label->font();
    bold.setBold(true);
    label->setFont(bold);
    // They sit on the box's title line, over its frame, so they paint their own background.
    label->setAutoFillBackground(true);
  }
  ROMDiskBox->installEventFilter(this);
  ROMDiskWn = Named(new QListWidget(ROMDiskBox), "ROMDiskWn", 0);
  ROMDiskWn->setFont(fixed);
  ROMDiskWn->setSelectionMode(QAbstractItemView::SingleSelection);
  ROMDiskWn->setMinimumWidth(QFontMetrics(fixed).horizontalAdvance(QLatin1Char('X')) * 72 + 24);
  ROMDiskWn->setContextMenuPolicy(Qt::CustomContextMenu);
  ROMDiskWn->installEventFilter(this);
  AddFileBtn = Named(new QPushButton(it(43), ROMDiskBox), "AddFileBtn", 43);
  ModFileBtn = Named(new QPushButton(it(44), ROMDiskBox), "ModFileBtn", 44);
  DelFileBtn = Named(new QPushButton(it(45), ROMDiskBox), "DelFileBtn", 45);
  DelAllBtn = Named(new QPushButton(it(46), ROMDiskBox), "DelAllBtn", 46);

  ROMDiskPup = Named(new QMenu(this), "ROMDiskPup", 0);
  AddFilePup = Named(ROMDiskPup->addAction(it(43)), "AddFilePup", 43);
  ModFilePup = Named(ROMDiskPup->addAction(it(44)), "ModFilePup", 44);
  DelFilePup = Named(ROMDiskPup->addAction(it(45)), "DelFilePup", 45);
  DelAllPup = Named(ROMDiskPup->addAction(it(46)), "DelAllPup", 46);

  auto* files = new QGridLayout;
  files->addWidget(SOLVBtn, 0, 0);
  files->addWidget(SOLVFileLb, 0, 1);
  files->addWidget(BinFileBtn, 1, 0);
  files->addWidget(BinFileLb, 1, 1);
  auto* options = new QHBoxLayout;
  options->addWidget(KTBQ17Chk);
  options->addStretch();
  options->addWidget(MakeBtn);

  auto* fileButtons = new QHBoxLayout;
  for (QPushButton* button : {AddFileBtn, ModFileBtn, DelFileBtn, DelAllBtn}) fileButtons->addWidget(button);
  auto* box = new QVBoxLayout(ROMDiskBox);
  box->addWidget(ROMDiskWn);
  box->addLayout(fileButtons);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(EPROMGrp);
  layout->addLayout(files);
  layout->addLayout(options);
  layout->addWidget(ROMDiskBox);
  // Fixed to what the controls need, which the language of their captions decides.
  layout->setSizeConstraint(QLayout::SetFixedSize);

  connect(SOLVBtn, &QPushButton::clicked, this, &TEPIXFrm::SOLVBtnClick);
  connect(BinFileBtn, &QPushButton::clicked, this, &TEPIXFrm::BinFileBtnClick);
  connect(MakeBtn, &QPushButton::clicked, this, &TEPIXFrm::MakeBtnClick);
  connect(KTBQ17Chk, &QCheckBox::clicked, this, &TEPIXFrm::KTBQ17ChkClick);
  connect(EPROMItems, &QButtonGroup::idClicked, this, &TEPIXFrm::EPROMGrpClick);
  connect(AddFileBtn, &QPushButton::clicked, this, &TEPIXFrm::AddFileROMDisk);
  connect(ModFileBtn, &QPushButton::clicked, this, &TEPIXFrm::ModFileROMDisk);
  connect(DelFileBtn, &QPushButton::clicked, this, &TEPIXFrm::DelFileROMDisk);
  connect(DelAllBtn, &QPushButton::clicked, this, &TEPIXFrm::DelAllROMDisk);
  connect(AddFilePup, &QAction::triggered, this, &TEPIXFrm::AddFileROMDisk);
  connect(ModFilePup, &QAction::triggered, this, &TEPIXFrm::ModFileROMDisk);
  connect(DelFilePup, &QAction::triggered, this, &TEPIXFrm::DelFileROMDisk);
  connect(DelAllPup, &QAction::triggered, this, &TEPIXFrm::DelAllROMDisk);
  connect(ROMDiskWn, &QListWidget::itemSelectionChanged, this, &TEPIXFrm::ROMDiskWnClick);
  connect(ROMDiskWn, &QListWidget::itemDoubleClicked, this, [this] { ModFileROMDisk(); });
  connect(ROMDiskWn, &QWidget::customContextMenuRequested, this,
          [this](const QPoint& at) { ROMDiskPup->popup(ROMDiskWn->viewport()->mapToGlobal(at)); });
}

void TEPIXFrm::ShowEPIX() {
  show();
  if (isMinimized()) showNormal();
  raise();
  activateWindow();
}

void TEPIXFrm::showEvent(QShowEvent* event) {
  RecaptionWindow(this, settings_.Rec.Language);
  WriteWn(-1);
  ChkBtn();
  // Without an owner nobody else places it.
  if (!centred_ && !parentWidget()) {
    if (QScreen* screen = this->screen()) move(screen->availableGeometry().center() - rect().center());
  }
  centred_ = true;
  // A dialog of the main window's: the window manager keeps it above its owner, minimises
  // it with it and leaves it out of the task bar.
  if (QWidget* owner = parentWidget()) {
    QWindow* own = windowHandle();
    QWindow* owners = owner->window()->windowHandle();
    if (own && owners) own->setTransientParent(owners);
  }
  // On the first item, Space would change the EPROM type without a word.
  if (QAbstractButton* type = EPROMItems->checkedButton()) type->setFocus(Qt::OtherFocusReason);
  QWidget::showEvent(event);
}

int TEPIXFrm::SelectedLine() const {
  const int row = ROMDiskWn->currentRow();
  if (row < 0 || row >= editor_.RDRec.FileCount) return -1;
  return ROMDiskWn->item(row)->isSelected() ? row : -1;
}

void TEPIXFrm::SetFileLabel(QLabel* label, const std::string& path, int emptyMessage) {
  const bool none = path.empty();
  label->setEnabled(!none);
  label->setText(none ? Text(emptyMessage) : FromUtf8(ShortPath(path, 55)));
  SetCaptionTag(label, none ? emptyMessage : 0);
}

void TEPIXFrm::WriteWn(int line) {
  if (writeWnBusy_) return;
  writeWnBusy_ = true;
  const TRDRec& rec = editor_.RDRec;
  if (QAbstractButton* item = EPROMItems->button(rec.EPROMType)) item->setChecked(true);
  KTBQ17Chk->setChecked(rec.Q17);
  SetFileLabel(SOLVFileLb, rec.SOLVFile, 54);
  SetFileLabel(BinFileLb, rec.BinFile, 55);
  ROMDiskWn->clear();
  for (int i = 1; i <= rec.FileCount; ++i) ROMDiskWn->addItem(FromUtf8(editor_.ListLine(i)));
  if (line >= 0 && line < rec.FileCount) ROMDiskWn->setCurrentRow(line, QItemSelectionModel::ClearAndSelect);
  else ROMDiskWn->setCurrentRow(-1, QItemSelectionModel::Clear);
  WriteRDFree();
  writeWnBusy_ = false;
}

void TEPIXFrm::WriteRDFree() {
  ROMDiskBox->setTitle(FromUtf8(editor_.BoxCaption()));
  const std::int32_t free = editor_.CalcRDFree();
  QPalette palette = BFTxtLb->palette();
  if (free != -1) {
    BFreeLb->setText(QStringLiteral(" %1 ").arg(free));
    BFTxtLb->setText(Text(66));
    SetCaptionTag(BFTxtLb, 66);
    palette.setColor(QPalette::WindowText, this->palette().color(QPalette::WindowText));
  } else {
    BFreeLb->clear();
    BFTxtLb->setText(Text(67));
    SetCaptionTag(BFTxtLb, 67);
    palette.setColor(QPalette::WindowText, Qt::red);
  }
  BFTxtLb->setPalette(palette);
  PlaceFreeLabels();
}

void TEPIXFrm::PlaceFreeLabels() {
  const int right = ROMDiskBox->width() - 12;
  for (QLabel* label : {BFTxtLb, BFreeLb}) label->adjustSize();
  BFTxtLb->move(right - BFTxtLb->width(), 0);
  BFreeLb->move(BFTxtLb->x() - BFreeLb->width(), 0);
}

bool TEPIXFrm::eventFilter(QObject* watched, QEvent* event) {
  if (watched == ROMDiskBox && event->type() == QEvent::Resize) PlaceFreeLabels();
  if (watched == ROMDiskWn && event->type() == QEvent::KeyPress) {
    const int key = static_cast<QKeyEvent*>(event)->key();
    if (key == Qt::Key_Delete) {
      DelFileROMDisk();
      return true;
    }
    if (key == Qt::Key_Return || key == Qt::Key_Enter) {
      ModFileROMDisk();
      return true;
    }
  }
  return QWidget::eventFilter(watched, event);
}

void TEPIXFrm::ChkBtn() {
  const auto states = editor_.ButtonStates(SelectedLine());
  MakeBtn->setEnabled(states.Make);
  AddFileBtn->setEnabled(states.Add);
  AddFilePup->setEnabled(states.Add);
  DelAllBtn->setEnabled(states.DelAll);
  DelAllPup->setEnabled(states.DelAll);
  ModFileBtn->setEnabled(states.Modify);
  ModFilePup->setEnabled(states.Modify);
  DelFileBtn->setEnabled(states.Delete);
  DelFilePup->setEnabled(states.Delete);
}

void TEPIXFrm::SOLVBtnClick() {
  if (!editor_.ChooseSOLVFile()) return;
  WriteWn(SelectedLine());
  ChkBtn();
}

void TEPIXFrm::BinFileBtnClick() {
  if (!editor_.ChooseBinFile()) return;
  WriteWn(SelectedLine());
  ChkBtn();
}

void TEPIXFrm::AddFileROMDisk() {
  int line = -1;
  if (!editor_.AddFile(&line)) return;
  WriteWn(line);
  ChkBtn();
}

void TEPIXFrm::ModFileROMDisk() {
  const int line = SelectedLine();
  if (!editor_.ModifyFile(line)) return;
  WriteWn(line);
  ChkBtn();
}

void TEPIXFrm::DelFileROMDisk() {
  int line = -1;
  if (!editor_.DeleteFile(SelectedLine(), &line)) return;
  WriteWn(line);
  ChkBtn();
}

void TEPIXFrm::DelAllROMDisk() {
  if (!editor_.DeleteAll()) return;
  WriteWn(-1);
  ChkBtn();
}

void TEPIXFrm::EPROMGrpClick(int index) {
  editor_.SetEPROMType(index);
  WriteRDFree();
  ChkBtn();
}

void TEPIXFrm::KTBQ17ChkClick() { editor_.SetQ17(KTBQ17Chk->isChecked()); }

void TEPIXFrm::ROMDiskWnClick() { ChkBtn(); }

void TEPIXFrm::MakeBtnClick() {
  if (!MakeBtn->isEnabled()) return;
  TMkBinFrm progress(settings_, editor_.RDRec, this);
  DialogRunner.Run(progress);
}

}  // namespace mirte
