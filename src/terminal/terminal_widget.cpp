#include "terminal/terminal_widget.h"

#include <QClipboard>
#include <QCoreApplication>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QStyleHints>
#include <QWheelEvent>
#include <algorithm>
#include <string>

#include "platform/code_page.h"
#include "platform/key_characters.h"
#include "terminal/terminal_emulator.h"

namespace mirte {
namespace {

// The buffer's change notification; the number echoes the window message the board's
// screen protocol was built around, and only this widget ever receives it.
constexpr QEvent::Type kCellsChangedEvent = QEvent::Type(QEvent::User + 0x7E8A);

bool IsModifierKey(int key) {
  return key == Qt::Key_Shift || key == Qt::Key_Control || key == Qt::Key_Alt ||
         key == Qt::Key_Meta || key == Qt::Key_AltGr;
}

// The characters the key types, by the same rule the main window judges keys with.
std::string TypedCharacters(const QKeyEvent& event) {
  const QByteArray text = event.text().toUtf8();
  return SystemCharacters({event.key(), static_cast<unsigned>(event.modifiers().toInt()),
                           std::string_view(text.constData(), static_cast<std::size_t>(text.size()))});
}

bool InSelection(int col, int row, QPoint start, QPoint end) {
  if (row < start.y() || row > end.y()) return false;
  if (row == start.y() && col < start.x()) return false;
  if (row == end.y() && col > end.x()) return false;
  return true;
}

}  // namespace

TTerminal::TTerminal(QWidget* parent)
    : QFrame(parent), FOwnEmulator(std::make_unique<TTTYEmulator>(true)) {
  setAttribute(Qt::WA_OpaquePaintEvent);
  setFocusPolicy(Qt::StrongFocus);
  setMouseTracking(false);
  SetBorderStyle(TBorderStyle::bsSingle);
  const int flash = QGuiApplication::styleHints()->cursorFlashTime();
  FCaretBlinkTime = flash > 0 ? flash / 2 : 0;
  FOwnEmulator->SetTerminal(this);
  SetFont(QFont(QStringLiteral("Terminal"), 9));
  FTimer.start(100, this);
}

TTerminal::~TTerminal() {
  FTimer.stop();
  FRepaintTimer.stop();
  if (FEmulator != nullptr) FEmulator->Unlink();
}

// --- Emulator ---------------------------------------------------------------------------

void TTerminal::SetEmulator(TTerminalEmulator* emulator) {
  if (emulator == nullptr) emulator = FOwnEmulator.get();
  emulator->SetTerminal(this);
}

TTerminalBuffer& TTerminal::Buffer() const { return FEmulator->Buffer(); }

void TTerminal::LinkEmulator(TTerminalEmulator* emulator) {
  FEmulator = emulator;
  FSelStart = FSelEnd = QPoint();
  FHasSelection = false;
  Layout();
  update();
  UpdateCaret();
}

void TTerminal::EmulatorGone(TTerminalEmulator* emulator) {
  if (FEmulator == emulator) FEmulator = nullptr;
  if (FEmulator == nullptr && emulator != FOwnEmulator.get()) FOwnEmulator->SetTerminal(this);
}

// --- Properties -------------------------------------------------------------------------

void TTerminal::SetBlinkTime(int ms) {
  FBlinkTime = (ms > 0 && ms < 250) ? 250 : std::max(ms, 0);
}

void TTerminal::SetBorderStyle(TBorderStyle style) {
  FBorderStyle = style;
  if (style == TBorderStyle::bsSingle) {
    setFrameStyle(QFrame::Panel | QFrame::Sunken);
    setLineWidth(2);
  } else {
    setFrameStyle(QFrame::NoFrame);
  }
  Layout();
  updateGeometry();
  update();
}

int TTerminal::Columns() const { return Buffer().ColCount(); }

void TTerminal::SetColumns(int n) {
  if (n < 2 || n == Columns()) return;
  DropSelection();
  Buffer().tbSetColCount(n);
  Layout();
  updateGeometry();
  update();
}

int TTerminal::Rows() const { return Buffer().RowCount(); }

void TTerminal::SetRows(int n) {
  if (n < 2 || n == Rows()) return;
  DropSelection();
  if (n > Buffer().SVRowCount()) Buffer().tbSetSVRowCount(n);
  Buffer().tbSetRowCount(n);
  Layout();
  updateGeometry();
  update();
}

int TTerminal::ScrollbackRows() const { return Buffer().SVRowCount(); }

void TTerminal::SetScrollbackRows(int n) {
  n = std::max(n, Rows());
  if (n == ScrollbackRows()) return;
  DropSelection();
  Buffer().tbSetSVRowCount(n);
  update();
}

void TTerminal::SetCursorType(TCursorType type) {
  if (type == FCursorType) return;
  const bool focused = FCaretExists || hasFocus();
  HideCaret();
  DestroyCaret();
  FCursorType = type;
  if (focused) {
    CreateCaret();
    ShowCaret();
  }
}

QFont TTerminal::ResolveTerminalFont(const QFont& font) {
  QFont resolved = font;
  const QString family = font.family();
  if (family.compare(QLatin1String("Courier New"), Qt::CaseInsensitive) == 0 &&
      !QFontDatabase::hasFamily(family)) {
    resolved.setFamily(QStringLiteral("Liberation Mono"));  // metric-compatible
  } else if (family.compare(QLatin1String("Terminal"), Qt::CaseInsensitive) == 0 ||
             family.compare(QLatin1String("Fixedsys"), Qt::CaseInsensitive) == 0) {
    resolved.setFamily(QFontDatabase::systemFont(QFontDatabase::FixedFont).family());
  }
  resolved.setStyleHint(QFont::TypeWriter);
  resolved.setKerning(false);
  return resolved;
}

void TTerminal::SetFont(const QFont& font) {
  FFont = font;
  FPaintFont = ResolveTerminalFont(font);
  RecalcCellSize();
  updateGeometry();
  update();
  UpdateCaret();
}

void TTerminal::SetFontSize(int points) {
  if (points <= 0 || points == FFont.pointSize()) return;
  QFont font = FFont;
  font.setPointSize(points);
  SetFont(font);
}

void TTerminal::SetFontColor(TColor color) {
  if (color == FFontColor) return;
  FFontColor = color;
  PostChange();  // the emulator recolours the default cells when it next looks
  update();
}

void TTerminal::SetColor(TColor color) {
  if (color == FColor) return;
  FColor = color;
  PostChange();
  update();
}

// --- Geometry ---------------------------------------------------------------------------

void TTerminal::RecalcCellSize() {
  const QFontMetrics metrics(FPaintFont);
  const int width = std::max(1, metrics.maxWidth());
  const int height = std::max(1, metrics.height() + std::max(0, metrics.leading()));
  if (width == FCellWidth && height == FCellHeight) return;
  FCellWidth = width;
  FCellHeight = height;
  Layout();
}

void TTerminal::Layout() {
  if (FEmulator == nullptr) return;
  const QSize client = contentsRect().size();
  const int columns = Columns();
  const int rows = Rows();
  // A grown window shows as much as it can: the view moves back towards the first cell.
  const int fitCols = client.width() / FCellWidth;
  const int fitRows = client.height() / FCellHeight;
  if (FTopLeftCol > 1 && FTopLeftCol + fitCols - 1 > columns) {
    FTopLeftCol = std::max(1, columns - fitCols + 1);
  }
  if (FTopLeftRow > 1 && FTopLeftRow + fitRows - 1 > rows) {
    FTopLeftRow = std::max(1, rows - fitRows + 1);
  }
  FTopLeftCol = std::clamp(FTopLeftCol, 1, columns);
  FTopLeftRow = std::clamp(FTopLeftRow, FirstRow(), rows);
  const int colsLeft = columns - FTopLeftCol + 1;
  const int rowsLeft = rows - FTopLeftRow + 1;
  FVisibleCols = std::clamp((client.width() + FCellWidth - 1) / FCellWidth, 0, colsLeft);
  FVisibleRows = std::clamp((client.height() + FCellHeight - 1) / FCellHeight, 0, rowsLeft);
  FFullCols = std::clamp(fitCols, 0, colsLeft);
  FFullRows = std::clamp(fitRows, 0, rowsLeft);
  FTextArea = QRect(0, 0, FVisibleCols * FCellWidth, FVisibleRows * FCellHeight) &
              QRect(QPoint(0, 0), client);
}

QSize TTerminal::sizeHint() const {
  const int frame = 2 * frameWidth();
  return {Columns() * FCellWidth + frame, Rows() * FCellHeight + frame};
}

QRect TTerminal::CellsToPixels(const QRect& cells) const {
  const QRect pixels((cells.left() - FTopLeftCol) * FCellWidth,
                     (cells.top() - FTopLeftRow) * FCellHeight, cells.width() * FCellWidth,
                     cells.height() * FCellHeight);
  return pixels & FTextArea;
}

void TTerminal::ScrollToShowCursor() {
  // A view of the history stays where the user put it until something returns it.
  if (FFullRows <= 0 || FFullCols <= 0 || !ViewIsLive()) return;
  const int row = Buffer().GetCursorRow();
  const int col = Buffer().GetCursorCol();
  const int oldRow = FTopLeftRow;
  const int oldCol = FTopLeftCol;
  if (row < FTopLeftRow) FTopLeftRow = row;
  if (row > FTopLeftRow + FFullRows - 1) FTopLeftRow = row - FFullRows + 1;
  if (col < FTopLeftCol) FTopLeftCol = col;
  if (col > FTopLeftCol + FFullCols - 1) FTopLeftCol = col - FFullCols + 1;
  if (FTopLeftRow != oldRow || FTopLeftCol != oldCol) {
    Layout();
    update();
  }
}

// --- Change notification and painting ---------------------------------------------------

void TTerminal::CellsChanged() { PostChange(); }

void TTerminal::PostChange() {
  if (FChangePosted || FRepaintTimer.isActive()) return;
  // Streaming text changes the cells with every burst, mostly within the interval of the
  // last paint: the timer is started here, since a posted event would wake the event loop
  // once more per burst only to start it.
  if (!FUseLazyDisplay && DeferRepaintWhileEarly()) return;
  FChangePosted = true;
  QCoreApplication::postEvent(this, new QEvent(kCellsChangedEvent));
}

bool TTerminal::DeferRepaintWhileEarly() {
  if (FRepaintInterval <= 0 || !FSinceRepaint.isValid() || FSinceRepaint.elapsed() >= FRepaintInterval) return false;
  FRepaintTimer.start(int(FRepaintInterval - FSinceRepaint.elapsed()), Qt::PreciseTimer, this);
  return true;
}

void TTerminal::CursorMovedByBuffer(int row, int col) {
  if (FTopLeftRow < 1) ReturnToLive();  // the board is writing: show what it writes
  if (!FUseLazyDisplay) PostChange();
  if (OnCursorMoved) OnCursorMoved(Buffer(), row, col);
}

void TTerminal::customEvent(QEvent* e) {
  if (e->type() != kCellsChangedEvent) {
    QFrame::customEvent(e);
    return;
  }
  FChangePosted = false;
  if (FUseLazyDisplay) return;  // the internal timer repaints
  if (FRepaintTimer.isActive()) return;
  if (DeferRepaintWhileEarly()) return;
  RepaintChanges();
}

void TTerminal::RepaintChanges() {
  FRepaintTimer.stop();
  FSinceRepaint.start();
  if (FFollowCursor) ScrollToShowCursor();
  PaintChangedCells();
  FCaretBlinkOn = true;
  FCaretBlinkTicks = 0;
  UpdateCaret();
}

void TTerminal::PaintChangedCells() {
  if (FEmulator == nullptr) return;
  // Taken first: the changed cells are counted after the move.
  if (const int scrolled = FEmulator->TakeScrolledRows(); scrolled > 0) MovePixelsUp(scrolled);
  QRect cells;
  if (!FEmulator->TakeChangedCells(cells)) return;
  const QRect pixels = CellsToPixels(cells);
  if (!pixels.isEmpty()) update(pixels.translated(Origin()));
}

// Streaming text scrolls the screen with nearly every burst; moving the pixels that are
// already there costs a fraction of painting every row again.
void TTerminal::MovePixelsUp(int rows) {
  const QRect area = FTextArea.translated(Origin());
  const int dy = rows * FCellHeight;
  // A view of the history shows rows that did not move.
  if (!ViewIsLive() || dy >= area.height()) {
    update(area);
    return;
  }
  scroll(0, -dy, area);
  // Rows the view did not show before, below the changed cells when the view is shorter
  // than the screen.
  update(QRect(area.left(), area.bottom() + 1 - dy, area.width(), dy));
  // The caret is inverted into the pixels, so the move took it along.
  if (!FCaretDrawn.isEmpty()) {
    update(FCaretDrawn.translated(Origin()));
    update(FCaretDrawn.translated(Origin() - QPoint(0, dy)));
  }
}

void TTerminal::paintEvent(QPaintEvent* e) {
  QPainter painter(this);
  // Most paints are a few changed rows: the style's frame is drawn only when it is touched.
  if (FBorderStyle != TBorderStyle::bsNone && !contentsRect().contains(e->region().boundingRect())) {
    drawFrame(&painter);
  }
  const QPoint origin = Origin();
  const QRect client(QPoint(0, 0), contentsRect().size());
  const QRegion region = e->region().translated(-origin) & client;
  if (region.isEmpty()) return;
  painter.translate(origin);
  painter.setClipRegion(region);

  // The margins right of and below the cells, in the window's colour.
  const QColor background = ToQColor(FColor);
  const QRect rightMargin(QPoint(FTextArea.width(), 0), QPoint(client.right(), client.bottom()));
  const QRect bottomMargin(QPoint(0, FTextArea.height()),
                           QPoint(FTextArea.width() - 1, client.bottom()));
  if (region.intersects(rightMargin)) painter.fillRect(rightMargin, background);
  if (region.intersects(bottomMargin)) painter.fillRect(bottomMargin, background);

  if (FEmulator != nullptr) {
    for (const QRect& part : region) {
      const QRect cells = part & FTextArea;
      if (!cells.isEmpty()) FEmulator->Paint(painter, cells);
    }
  }
  PaintViewMarker(painter);
  // The caret inverts what lies under it, as the system caret does.
  if (!FCaretDrawn.isEmpty() && region.intersects(FCaretDrawn)) {
    painter.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
    painter.fillRect(FCaretDrawn, Qt::white);
  }
}

void TTerminal::resizeEvent(QResizeEvent* e) {
  QFrame::resizeEvent(e);
  Layout();
  UpdateCaret();
}

// --- Caret ------------------------------------------------------------------------------

void TTerminal::CreateCaret() { FCaretExists = FCursorType != TCursorType::ctNone; }

void TTerminal::DestroyCaret() { FCaretExists = false; }

void TTerminal::ShowCaret() {
  FCaretShown = true;
  FCaretBlinkOn = true;
  FCaretBlinkTicks = 0;
  UpdateCaret();
}

void TTerminal::HideCaret() {
  FCaretShown = false;
  UpdateCaret();
}

QRect TTerminal::CaretRect() const {
  if (!FCaretExists || FEmulator == nullptr) return {};
  const int x = FCellWidth * (Buffer().GetCursorCol() - FTopLeftCol);
  int y = FCellHeight * (Buffer().GetCursorRow() - FTopLeftRow);
  int height = FCellHeight;
  if (FCursorType == TCursorType::ctUnderline) {
    y += FCellHeight - 2;
    height = 2;
  }
  if (!QRect(QPoint(0, 0), contentsRect().size()).contains(QPoint(x, y))) return {};
  return {x, y, FCellWidth, height};
}

void TTerminal::UpdateCaret() {
  const QRect caret = (FCaretShown && FCaretBlinkOn) ? CaretRect() : QRect();
  if (caret == FCaretDrawn) return;
  if (!FCaretDrawn.isEmpty()) update(FCaretDrawn.translated(Origin()));
  if (!caret.isEmpty()) update(caret.translated(Origin()));
  FCaretDrawn = caret;
}

void TTerminal::focusInEvent(QFocusEvent*) {
  CreateCaret();
  ShowCaret();
}

void TTerminal::focusOutEvent(QFocusEvent*) {
  if (FDragging) CancelDrag();
  HideCaret();
  DestroyCaret();
}

// --- Selection --------------------------------------------------------------------------

QPoint TTerminal::ClampToTextArea(QPoint client) const {
  return {std::clamp(client.x(), 0, std::max(0, FVisibleCols * FCellWidth - 1)),
          std::clamp(client.y(), 0, std::max(0, FVisibleRows * FCellHeight - 1))};
}

QPoint TTerminal::CellAt(QPoint client) const {
  return {std::clamp(client.x() / FCellWidth + FTopLeftCol, 1, Columns()),
          std::clamp(client.y() / FCellHeight + FTopLeftRow, FirstRow(), Rows())};
}

void TTerminal::mousePressEvent(QMouseEvent* e) {
  if (e->button() != Qt::LeftButton) {
    QFrame::mousePressEvent(e);
    return;
  }
  if (!hasFocus()) setFocus(Qt::MouseFocusReason);
  if (!FMouseSelect) return;
  FDragging = true;
  FLastMouse = e->position().toPoint() - Origin();
  if (FHasSelection) DropSelection();
  FSelAnchor = FSelStart = FSelEnd = CellAt(ClampToTextArea(FLastMouse));
  FSelPushed = Buffer().History().Pushed();
}

void TTerminal::mouseMoveEvent(QMouseEvent* e) {
  if (!FDragging) {
    QFrame::mouseMoveEvent(e);
    return;
  }
  FLastMouse = e->position().toPoint() - Origin();
  ExtendSelection(CellAt(ClampToTextArea(FLastMouse)));
}

void TTerminal::mouseReleaseEvent(QMouseEvent* e) {
  if (e->button() != Qt::LeftButton) {
    QFrame::mouseReleaseEvent(e);
    return;
  }
  const bool wasDragging = FDragging;
  FDragging = false;
  if (wasDragging && FAutoCopy && FHasSelection) CopySelectedText();
  if (OnClick) OnClick();
}

void TTerminal::ExtendSelection(QPoint cell) {
  FHasSelection = true;
  const QPoint anchor = SelectionNow(FSelAnchor);
  const bool before = cell.y() < anchor.y() || (cell.y() == anchor.y() && cell.x() < anchor.x());
  ApplySelection(before ? cell : anchor, before ? anchor : cell);
}

QPoint TTerminal::SelectionNow(QPoint cell) const {
  if (cell.isNull() || FEmulator == nullptr) return cell;
  return {cell.x(), cell.y() - int(Buffer().History().Pushed() - FSelPushed)};
}

// Sets the selected bit on the cells of [start, end] and clears it everywhere else. Every
// row is swept, not just the rows of the old range: selected cells travel with the text
// when a scroll region moves it, and must not stay highlighted where they land.
void TTerminal::ApplySelection(QPoint start, QPoint end) {
  TTerminalBuffer& buffer = Buffer();
  const int rows = Rows();
  FSelAnchor = SelectionNow(FSelAnchor);
  FSelPushed = buffer.History().Pushed();
  for (int row = FirstRow(); row <= rows; ++row) {
    const auto attrs = buffer.GetAttrRow(row);
    bool changed = false;
    for (int col = 1; col <= int(attrs.size()); ++col) {
      const std::uint8_t attr = attrs[std::size_t(col - 1)];
      const bool want = !start.isNull() && InSelection(col, row, start, end);
      if (want == ((attr & TAttr::Selected) != 0)) continue;
      buffer.SetCellAttributes(row, col, std::uint8_t(attr ^ TAttr::Selected));
      changed = true;
    }
    if (changed) InvalidateRows(row, row);
  }
  FSelStart = start;
  FSelEnd = end;
}

void TTerminal::DropSelection() {
  if (FEmulator != nullptr) ApplySelection(QPoint(), QPoint());
  FHasSelection = false;
}

void TTerminal::CancelDrag() {
  DropSelection();
  FDragging = false;
}

void TTerminal::InvalidateRows(int first, int last) {
  const QRect rows(0, (first - FTopLeftRow) * FCellHeight, contentsRect().width(),
                   (last - first + 1) * FCellHeight);
  update(rows.translated(Origin()));
}

QString TTerminal::SelectedText() const {
  QString text;
  if (!FHasSelection || FSelStart.isNull()) return text;
  const TTerminalBuffer& buffer = Buffer();
  const QPoint start = SelectionStart();
  const QPoint end = SelectionEnd();
  for (int row = start.y(); row <= end.y(); ++row) {
    const auto chars = buffer.GetCharRow(row);
    const int from = row == start.y() ? start.x() : 1;
    const int to = std::min(row == end.y() ? end.x() : Columns(), int(chars.size()));
    for (int col = from; col <= to; ++col) {
      text += QChar(char16_t(Cp437ToUnicode(chars[std::size_t(col - 1)])));
    }
    text += QLatin1String("\r\n");
  }
  return text;
}

void TTerminal::CopySelectedText() {
  if (!FHasSelection) return;
  QGuiApplication::clipboard()->setText(SelectedText());
}

// --- Keys -------------------------------------------------------------------------------

bool TTerminal::focusNextPrevChild(bool next) {
  if (FWantAllKeys) return false;  // Tab belongs to the board
  return QFrame::focusNextPrevChild(next);
}

bool TTerminal::event(QEvent* e) {
  switch (e->type()) {
    case QEvent::ShortcutOverride:
      // Keys that reach the terminal never trigger the window's menu shortcuts: the owner's
      // key handler implements the ones it wants.
      if (FWantAllKeys) {
        e->accept();
        return true;
      }
      break;
    case QEvent::WindowDeactivate:
      if (FDragging) CancelDrag();
      break;
    default:
      break;
  }
  return QFrame::event(e);
}

void TTerminal::keyPressEvent(QKeyEvent* e) {
  e->accept();
  int key = e->key();
  const Qt::KeyboardModifiers shift =
      e->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier |
                        Qt::MetaModifier);
  if (FDragging && key == Qt::Key_Escape) {
    CancelDrag();
    return;
  }
  if (FHasSelection && shift == Qt::ControlModifier &&
      (key == Qt::Key_C || key == Qt::Key_Insert)) {
    CopySelectedText();
    return;
  }
  // Shift+PgUp and Shift+PgDn page through the history; they mean nothing to the board.
  if (shift == Qt::ShiftModifier && (key == Qt::Key_PageUp || key == Qt::Key_PageDown)) {
    const int page = std::max(1, FFullRows);
    ScrollViewBy(key == Qt::Key_PageUp ? -page : page);
    return;
  }
  if (!IsModifierKey(key)) ReturnToLive();
  // Shift+Tab is the Tab key with Shift held, as the owner's key table expects.
  if (key == Qt::Key_Backtab) key = Qt::Key_Tab;
  if (!IsModifierKey(key) && FEmulator->KeyDown(key, shift)) return;
  if (OnKeyDown) OnKeyDown(key, shift);
  if (!FWantAllKeys && key != 0) FEmulator->KeyDown(key, shift);

  for (const char c : TypedCharacters(*e)) {
    auto ch = std::uint8_t(c);
    if (OnKeyPress) OnKeyPress(ch);
    if (ch != 0 && FEmulator != nullptr) FEmulator->KeyPress(ch);
  }
}

// --- History view -----------------------------------------------------------------------

void TTerminal::ScrollViewBy(int rows) {
  if (FEmulator == nullptr || rows == 0) return;
  const long long wanted = (long long)FTopLeftRow + rows;
  const int top = int(std::clamp<long long>(wanted, FirstRow(), std::max(1, FTopLeftRow)));
  if (top == FTopLeftRow) return;
  FTopLeftRow = top;
  Layout();
  update();
  UpdateCaret();
}

void TTerminal::ReturnToLive() {
  if (ViewIsLive()) return;
  FTopLeftRow = 1;
  FWheelRemainder = 0;
  Layout();
  update();
  UpdateCaret();
}

void TTerminal::wheelEvent(QWheelEvent* e) {
  // One notch (120 eighths of a degree) moves three rows, as desktop lists do.
  FWheelRemainder += e->angleDelta().y();
  const int notches = FWheelRemainder / 120;
  FWheelRemainder -= notches * 120;
  if (notches != 0) ScrollViewBy(-3 * notches);
  e->accept();
}

QRect TTerminal::ViewMarkerRect() const {
  if (ViewIsLive()) return {};
  const int chars = int(QString::number(ViewRowsBack()).size()) + 2;
  const int width = std::min(chars * FCellWidth, FTextArea.width());
  return {FTextArea.right() + 1 - width, 0, width, FCellHeight};
}

void TTerminal::PaintViewMarker(QPainter& painter) {
  const QRect marker = ViewMarkerRect();
  if (marker.isEmpty()) return;
  // Reversed like a selected cell, and framed in the window colour so that it stands out
  // from a selected row too.
  painter.fillRect(marker, ToQColor(FColor));
  painter.fillRect(marker.adjusted(1, 1, -1, -1), ToQColor(FFontColor));
  painter.setPen(ToQColor(FColor));
  painter.setFont(FPaintFont);
  painter.drawText(marker, Qt::AlignCenter,
                   QStringLiteral("\u25B2%1").arg(ViewRowsBack()));
}

// --- Internal timer ---------------------------------------------------------------------

void TTerminal::timerEvent(QTimerEvent* e) {
  if (e->timerId() == FRepaintTimer.timerId()) {
    RepaintChanges();
    return;
  }
  if (e->timerId() != FTimer.timerId()) {
    QFrame::timerEvent(e);
    return;
  }
  // Dragging outside the window moves the view one step towards the mouse.
  if (FDragging && !QRect(QPoint(0, 0), contentsRect().size()).contains(FLastMouse)) {
    const int oldRow = FTopLeftRow;
    const int oldCol = FTopLeftCol;
    if (FLastMouse.y() < 0 && FTopLeftRow > FirstRow()) --FTopLeftRow;
    if (FLastMouse.y() >= contentsRect().height() && FTopLeftRow + FFullRows - 1 < Rows()) {
      ++FTopLeftRow;
    }
    if (FLastMouse.x() < 0 && FTopLeftCol > 1) --FTopLeftCol;
    if (FLastMouse.x() >= contentsRect().width() && FTopLeftCol + FFullCols - 1 < Columns()) {
      ++FTopLeftCol;
    }
    if (FTopLeftRow != oldRow || FTopLeftCol != oldCol) {
      Layout();
      update();
      ExtendSelection(CellAt(ClampToTextArea(FLastMouse)));
    }
  }
  if (FUseLazyDisplay) {
    FLazyElapsed += 100;
    if (FLazyElapsed >= FLazyTimeDelay) {
      FLazyElapsed = 0;
      PaintChangedCells();
      UpdateCaret();
    }
  }
  if (FCaretShown && FCaretBlinkTime > 0) {
    FCaretBlinkTicks += 100;
    if (FCaretBlinkTicks >= FCaretBlinkTime) {
      FCaretBlinkTicks = 0;
      FCaretBlinkOn = !FCaretBlinkOn;
      UpdateCaret();
    }
  }
}

}  // namespace mirte
