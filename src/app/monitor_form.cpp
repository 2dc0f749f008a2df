#include "app/monitor_form.h"

#include <QAbstractTableModel>
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QHideEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QScrollBar>
#include <QShowEvent>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <deque>

#include "app/apply_language.h"
#include "common/monitor_texts.h"

namespace mirte {

// The rows of the log that pass the filter, as the table shows them. It follows the log
// only when told to (Publish), so the table changes no more often than that.
class TMonitorModel : public QAbstractTableModel {
public:
  TMonitorModel(const TMonitorLog& log, std::function<int()> language, QObject* parent)
      : QAbstractTableModel(parent), log_(log), language_(std::move(language)) {}

  int rowCount(const QModelIndex& parent = {}) const override {
    return parent.isValid() ? 0 : static_cast<int>(shown_.size());
  }
  int columnCount(const QModelIndex& parent = {}) const override { return parent.isValid() ? 0 : kMonitorColumnCount; }

  QVariant data(const QModelIndex& index, int role) const override {
    if (!index.isValid() || index.row() >= rowCount()) return {};
    if (role == Qt::DisplayRole) return Cell(index.row(), index.column());
    // A rename's two names and a long path do not always fit their column.
    if (role == Qt::ToolTipRole && (index.column() == kColumnFile || index.column() == kColumnPath)) {
      QString text = Cell(index.row(), index.column());
      return text.isEmpty() ? QVariant() : QVariant(text);
    }
    if (role == Qt::TextAlignmentRole) {
      const bool number = index.column() == kColumnTime || index.column() == kColumnRecord ||
                          index.column() == kColumnReply;
      return static_cast<int>(Qt::AlignVCenter | (number ? Qt::AlignRight : Qt::AlignLeft));
    }
    return {};
  }

  QVariant headerData(int section, Qt::Orientation orientation, int role) const override {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
      return QAbstractTableModel::headerData(section, orientation, role);
    return QString::fromStdString(MonitorHeading(section, language_()));
  }

  QString Cell(int row, int column) const {
    return QString::fromStdString(MonitorCell(RowAt(row), column, language_()));
  }
  QString Line(int row) const { return QString::fromStdString(MonitorLine(RowAt(row), language_())); }

  void SetFilter(const QString& filter) {
    filter_ = filter;
    Refill();
  }

  // Everything again, as after a language switch: the filter matches the texts as shown.
  void Refill() {
    beginResetModel();
    shown_.clear();
    for (std::uint64_t i = log_.FirstIndex(); i < log_.EndIndex(); ++i)
      if (Matches(i)) shown_.push_back(i);
    scanned_ = log_.EndIndex();
    endResetModel();
  }

  void Publish(bool lastRowGrown) {
    const std::uint64_t first = log_.FirstIndex();
    std::size_t dropped = 0;
    while (dropped < shown_.size() && shown_[dropped] < first) ++dropped;
    if (dropped > 0) {
      beginRemoveRows({}, 0, static_cast<int>(dropped) - 1);
      shown_.erase(shown_.begin(), shown_.begin() + static_cast<std::ptrdiff_t>(dropped));
      endRemoveRows();
    }
    scanned_ = std::max(scanned_, first);
    if (lastRowGrown && scanned_ == log_.EndIndex() && log_.EndIndex() > first) FollowLastRow(log_.EndIndex() - 1);
    std::vector<std::uint64_t> added;
    for (std::uint64_t i = scanned_; i < log_.EndIndex(); ++i)
      if (Matches(i)) added.push_back(i);
    scanned_ = log_.EndIndex();
    if (added.empty()) return;
    const int at = rowCount();
    beginInsertRows({}, at, at + static_cast<int>(added.size()) - 1);
    shown_.insert(shown_.end(), added.begin(), added.end());
    endInsertRows();
  }

private:
  const TMonitorRow& RowAt(int row) const { return log_.Row(shown_[static_cast<std::size_t>(row)]); }

  bool Matches(std::uint64_t index) const {
    if (filter_.isEmpty()) return true;
    return QString::fromStdString(MonitorLine(log_.Row(index), language_())).contains(filter_, Qt::CaseInsensitive);
  }

  // A row of list characters that grew may now pass the filter, or no longer pass it.
  void FollowLastRow(std::uint64_t last) {
    const bool shown = !shown_.empty() && shown_.back() == last;
    const bool matches = Matches(last);
    const int row = rowCount() - 1;
    if (shown && matches) {
      emit dataChanged(index(row, 0), index(row, kMonitorColumnCount - 1));
    } else if (shown) {
      beginRemoveRows({}, row, row);
      shown_.pop_back();
      endRemoveRows();
    } else if (matches) {
      beginInsertRows({}, row + 1, row + 1);
      shown_.push_back(last);
      endInsertRows();
    }
  }

  const TMonitorLog& log_;
  std::function<int()> language_;
  QString filter_;
  std::deque<std::uint64_t> shown_;  // log indexes of the rows shown
  std::uint64_t scanned_ = 0;        // log rows before this one have been considered
};

namespace {

constexpr int kCellMargin = 4;
constexpr const char* kWideRename = "X:ABCDEFGH.XYZ \u2192 ABCDEFGH.XYZ";

// Draws a cell as one line of plain text on its row's background. The table is repainted
// whole at every refresh while frames come, and the style's full item drawing would cost
// the board service, which shares the thread, several times as much.
class TPlainCellDelegate : public QStyledItemDelegate {
public:
  using QStyledItemDelegate::QStyledItemDelegate;

  void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    const bool selected = option.state & QStyle::State_Selected;
    const QPalette& palette = option.palette;
    if (selected)
      painter->fillRect(option.rect, palette.highlight());
    else if (option.features & QStyleOptionViewItem::Alternate)
      painter->fillRect(option.rect, palette.alternateBase());
    painter->setPen(selected ? palette.highlightedText().color() : palette.text().color());
    const int alignment = index.data(Qt::TextAlignmentRole).toInt();
    painter->drawText(option.rect.adjusted(kMargin, 0, -kMargin, 0), alignment | Qt::TextSingleLine,
                      index.data(Qt::DisplayRole).toString());
  }

private:
  static constexpr int kMargin = kCellMargin;
};

QPushButton* NewButton(QWidget* parent, const char* name, const TTextPair& caption, int language) {
  auto* button = new QPushButton(parent);
  button->setObjectName(name);
  SetCaption(button, caption, language);
  return button;
}

}  // namespace

TMonitorFrm::TMonitorFrm(const SettingsRec& settingsRec, AttachFn attachTo, QWidget* owner, std::size_t maxRows,
                         QString placesFile)
    : QWidget(owner, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinMaxButtonsHint |
                         Qt::WindowCloseButtonHint),
      settings_(settingsRec),
      attach_(std::move(attachTo)),
      log_(maxRows),
      places_(std::move(placesFile)) {
  setObjectName("MonitorFrm");
  const int language = Language();
  SetCaption(this, kMonitorTitle, language);

  model_ = new TMonitorModel(log_, [this] { return Language(); }, this);
  RowsVw = new QTableView(this);
  RowsVw->setObjectName("RowsVw");
  RowsVw->setModel(model_);
  RowsVw->setSelectionBehavior(QAbstractItemView::SelectRows);
  RowsVw->setSelectionMode(QAbstractItemView::ExtendedSelection);
  RowsVw->setEditTriggers(QAbstractItemView::NoEditTriggers);
  RowsVw->setWordWrap(false);
  RowsVw->setAlternatingRowColors(true);
  RowsVw->verticalHeader()->hide();
  // One fixed row height keeps a table of 100,000 rows as quick as a short one.
  RowsVw->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  RowsVw->verticalHeader()->setDefaultSectionSize(RowsVw->fontMetrics().height() + 4);
  // The file column takes a rename of two full 8.3 names; a longer text has its tooltip.
  const int fileWidth = RowsVw->fontMetrics().horizontalAdvance(QString::fromUtf8(kWideRename)) + 3 * kCellMargin;
  const int widths[kMonitorColumnCount] = {80, 160, fileWidth, 60, 210, 130, 90};
  for (int column = 0; column < kMonitorColumnCount; ++column) RowsVw->setColumnWidth(column, widths[column]);
  RowsVw->horizontalHeader()->setStretchLastSection(true);
  RowsVw->setItemDelegate(new TPlainCellDelegate(RowsVw));
  auto* copyKey = new QAction(RowsVw);
  copyKey->setShortcut(QKeySequence::Copy);
  copyKey->setShortcutContext(Qt::WidgetShortcut);
  RowsVw->addAction(copyKey);
  connect(copyKey, &QAction::triggered, this, [this] { CopyBtnClick(); });

  TotalsLb = new QLabel(this);
  TotalsLb->setObjectName("TotalsLb");
  TotalsLb->setTextInteractionFlags(Qt::TextSelectableByMouse);
  // Its text changes at every refresh: a size of its own and a background of its own keep
  // that from laying out or repainting the rest of the window.
  TotalsLb->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
  TotalsLb->setAutoFillBackground(true);

  PauseBtn = NewButton(this, "PauseBtn", kMonitorPause, language);
  PauseBtn->setCheckable(true);
  ClearBtn = NewButton(this, "ClearBtn", kMonitorClear, language);
  CopyBtn = NewButton(this, "CopyBtn", kMonitorCopy, language);
  SaveBtn = NewButton(this, "SaveBtn", kMonitorSave, language);
  FilterLb = new QLabel(this);
  FilterLb->setObjectName("FilterLb");
  SetCaption(FilterLb, kMonitorFilter, language);
  FilterEd = new QLineEdit(this);
  FilterEd->setObjectName("FilterEd");
  FilterEd->setClearButtonEnabled(true);
  FilterLb->setBuddy(FilterEd);

  auto* buttons = new QHBoxLayout;
  for (QWidget* w : std::initializer_list<QWidget*>{PauseBtn, ClearBtn, CopyBtn, SaveBtn}) buttons->addWidget(w);
  buttons->addSpacing(16);
  buttons->addWidget(FilterLb);
  buttons->addWidget(FilterEd, 1);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(buttons);
  layout->addWidget(RowsVw, 1);
  layout->addWidget(TotalsLb);

  connect(PauseBtn, &QPushButton::clicked, this, [this] { PauseBtnClick(); });
  connect(ClearBtn, &QPushButton::clicked, this, [this] { ClearBtnClick(); });
  connect(CopyBtn, &QPushButton::clicked, this, [this] { CopyBtnClick(); });
  connect(SaveBtn, &QPushButton::clicked, this, [this] { SaveBtnClick(); });
  connect(FilterEd, &QLineEdit::textChanged, this, [this](const QString& text) { model_->SetFilter(text); });

  RepaintTmr = new QTimer(this);
  RepaintTmr->setObjectName("RepaintTmr");
  RepaintTmr->setInterval(kRepaintMs);
  connect(RepaintTmr, &QTimer::timeout, this, [this] { Publish(); });
  ShowTotals();
  places_.Restore(*this, kPreferredSize);
}

TMonitorFrm::~TMonitorFrm() {
  if (attach_) attach_(nullptr);
  if (isVisible()) places_.Remember(*this);
}

void TMonitorFrm::FrameDone(const TFrameFacts& facts) { log_.Add(facts); }

int TMonitorFrm::ShownRows() const { return model_->rowCount(); }

QString TMonitorFrm::ShownLine(int row) const { return model_->Line(row); }

void TMonitorFrm::Publish() {
  QScrollBar* bar = RowsVw->verticalScrollBar();
  const bool following = bar->value() == bar->maximum();
  const int before = model_->rowCount();
  model_->Publish(log_.TakeLastRowGrown());
  if (following && model_->rowCount() != before) RowsVw->scrollToBottom();
  ShowTotals();
}

void TMonitorFrm::ShowTotals() {
  if (ReadLineErrors)
    if (const auto counts = ReadLineErrors()) log_.LineErrorsNow(*counts);
  const QString text = QString::fromStdString(
      MonitorTotalsText(log_.Totals(), log_.RecordsPerSecond(TMonitorLog::Clock::now()), Language()));
  if (TotalsLb->text() != text) TotalsLb->setText(text);
}

void TMonitorFrm::PauseBtnClick() { log_.SetPaused(PauseBtn->isChecked()); }

void TMonitorFrm::ClearBtnClick() {
  log_.Clear();
  model_->Refill();
  ShowTotals();
}

void TMonitorFrm::CopyBtnClick() {
  QModelIndexList chosen = RowsVw->selectionModel()->selectedRows();
  if (chosen.isEmpty()) return;
  std::sort(chosen.begin(), chosen.end(), [](const QModelIndex& a, const QModelIndex& b) { return a.row() < b.row(); });
  QStringList lines;
  for (const QModelIndex& index : chosen) lines << model_->Line(index.row());
  QApplication::clipboard()->setText(lines.join('\n') + '\n');
}

bool TMonitorFrm::SaveRows(const QString& path) const {
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) return false;
  QStringList headings;
  for (int column = 0; column < kMonitorColumnCount; ++column)
    headings << QString::fromStdString(MonitorHeading(column, Language()));
  QByteArray text = headings.join('\t').toUtf8() + '\n';
  for (int row = 0; row < model_->rowCount(); ++row) text += model_->Line(row).toUtf8() + '\n';
  return file.write(text) == text.size() && file.flush();
}

void TMonitorFrm::SaveBtnClick() {
  const int language = Language();
  const QString title = PairText(kMonitorSaveTitle, language);
  const QString filter = PairText(kMonitorSaveFilter, language);
  const QString proposed = QDir::home().filePath(ProposedFileName(QDate::currentDate()));
  std::optional<QString> chosen;
  if (ChooseSaveFile) {
    chosen = ChooseSaveFile(title, filter, proposed);
  } else {
    QString path =
        QFileDialog::getSaveFileName(this, title, proposed, filter, nullptr, QFileDialog::DontUseNativeDialog);
    if (!path.isEmpty()) chosen = path;
  }
  if (!chosen) return;
  if (QFileInfo(*chosen).suffix().isEmpty()) *chosen += ".txt";
  // Rows taken in since the last repaint are saved too.
  Publish();
  if (!SaveRows(*chosen))
    QMessageBox::warning(this, windowTitle(), PairText(kMonitorSaveFailed, language).arg(*chosen));
}

QString TMonitorFrm::ProposedFileName(const QDate& day) {
  return "monitor-" + day.toString(Qt::ISODate) + ".txt";
}

void TMonitorFrm::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (event->spontaneous()) return;
  if (attach_) attach_(this);
  Publish();
  RepaintTmr->start();
}

void TMonitorFrm::hideEvent(QHideEvent* event) {
  QWidget::hideEvent(event);
  // A minimized window is still watching.
  if (event->spontaneous()) return;
  if (attach_) attach_(nullptr);
  RepaintTmr->stop();
  Publish();
  places_.Remember(*this);
}

void TMonitorFrm::changeEvent(QEvent* event) {
  QWidget::changeEvent(event);
  if (event->type() != QEvent::LanguageChange) return;
  model_->Refill();
  ShowTotals();
}

}  // namespace mirte
