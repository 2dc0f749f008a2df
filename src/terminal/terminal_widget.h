#pragma once
// The terminal window control: shows a terminal buffer through its emulator, keeps a text
// caret on the cursor cell, selects text with the mouse and copies it to the clipboard,
// and hands keys to its owner before anything else. It paints every pixel itself (no
// background erase) and after buffer writes repaints only the changed cells. Everything
// runs on the GUI thread; the buffer's change notification arrives as a posted event, so
// painting happens after the writer has finished its batch of bytes.
#include <QBasicTimer>
#include <QElapsedTimer>
#include <QFont>
#include <QFrame>
#include <QPoint>
#include <QRect>
#include <QString>
#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>

#include "terminal/cursor_type.h"
#include "terminal/terminal_buffer.h"

namespace mirte {

class TTerminalEmulator;
class TTTYEmulator;

// The serial port as the terminal sees it: only an active or half-duplex terminal uses it.
class ITerminalPort {
public:
  virtual ~ITerminalPort() = default;
  virtual bool Open() const = 0;
  virtual void WriteChar(std::uint8_t ch) = 0;
};

enum class TBorderStyle { bsNone, bsSingle };

class TTerminal : public QFrame, private ITerminalNotify {
  Q_OBJECT

public:
  // key is a Qt::Key, shift the Shift/Control/Alt/Meta modifiers held. Set key to 0 to
  // consume it (the character the key produces still follows, as with the system's own
  // key-down and character messages).
  using TKeyDownEvent = std::function<void(int& key, Qt::KeyboardModifiers shift)>;
  // ch is the typed character as a Windows-1252 byte (control characters included: Enter
  // 0x0D, Backspace 0x08, Tab 0x09, Esc 0x1B, Ctrl+A .. Ctrl+Z 0x01 .. 0x1A). Set it to 0
  // to consume it.
  using TKeyPressEvent = std::function<void(std::uint8_t& ch)>;
  using TNotifyEvent = std::function<void()>;

  explicit TTerminal(QWidget* parent = nullptr);
  ~TTerminal() override;

  // --- Emulator and buffer ------------------------------------------------------------
  // nullptr goes back to the terminal's own TTY emulator. The caller keeps ownership of an
  // emulator it sets; destroying it links the terminal's own one again.
  void SetEmulator(TTerminalEmulator* emulator);
  TTerminalEmulator* Emulator() const { return FEmulator; }
  TTerminalBuffer& Buffer() const;

  // --- Published properties -----------------------------------------------------------
  bool AutoCopy() const { return FAutoCopy; }
  void SetAutoCopy(bool on) { FAutoCopy = on; }
  int BlinkTime() const { return FBlinkTime; }
  // 0 = no blinking; 1 .. 249 become 250.
  void SetBlinkTime(int ms);
  TBorderStyle BorderStyle() const { return FBorderStyle; }
  void SetBorderStyle(TBorderStyle style);
  int Columns() const;
  void SetColumns(int n);
  int Rows() const;
  void SetRows(int n);
  ITerminalPort* ComPort() const { return FComPort; }
  void SetComPort(ITerminalPort* port) { FComPort = port; }
  TCursorType CursorType() const { return FCursorType; }
  void SetCursorType(TCursorType type);
  bool FollowCursor() const { return FFollowCursor; }
  void SetFollowCursor(bool on) { FFollowCursor = on; }
  bool HalfDuplex() const { return FHalfDuplex; }
  void SetHalfDuplex(bool on) { FHalfDuplex = on; }
  bool HideScrollbars() const { return FHideScrollbars; }
  void SetHideScrollbars(bool on) { FHideScrollbars = on; }
  int LazyTimeDelay() const { return FLazyTimeDelay; }
  void SetLazyTimeDelay(int ms) { FLazyTimeDelay = ms; }
  bool UseLazyDisplay() const { return FUseLazyDisplay; }
  void SetUseLazyDisplay(bool on) { FUseLazyDisplay = on; }
  bool MouseSelect() const { return FMouseSelect; }
  void SetMouseSelect(bool on) { FMouseSelect = on; }
  // All rows of the buffer, history included; never fewer than Rows.
  int ScrollbackRows() const;
  void SetScrollbackRows(int n);
  bool Scrollback() const { return FScrollback; }
  void SetScrollback(bool on) { FScrollback = on; }
  bool WantAllKeys() const { return FWantAllKeys; }
  void SetWantAllKeys(bool on) { FWantAllKeys = on; }

  // The font as asked for ("Courier New" by default, as the board's screen was designed
  // with it). Painting uses the installed face that stands for it.
  QFont Font() const { return FFont; }
  void SetFont(const QFont& font);
  int FontSize() const { return FFont.pointSize(); }
  void SetFontSize(int points);
  TColor FontColor() const { return FFontColor; }
  void SetFontColor(TColor color);
  // The background colour of the window and of default-coloured cells.
  TColor Color() const { return FColor; }
  void SetColor(TColor color);

  // --- Geometry -------------------------------------------------------------------------
  // The character cell in pixels: the font's widest character, and its height plus
  // external leading; never 0.
  int CellWidth() const { return FCellWidth; }
  int CellHeight() const { return FCellHeight; }
  // 1-based first shown column and row, and how many are shown at least partly.
  int TopLeftCol() const { return FTopLeftCol; }
  int TopLeftRow() const { return FTopLeftRow; }
  int VisibleCols() const { return FVisibleCols; }
  int VisibleRows() const { return FVisibleRows; }
  // The cells' pixels inside the client area, in client coordinates.
  QRect TextArea() const { return FTextArea; }
  // The client area (inside the border) in widget coordinates.
  QRect ClientRect() const { return contentsRect(); }
  // The face painting uses for a requested font, and the one in use.
  static QFont ResolveTerminalFont(const QFont& font);
  QFont PaintFont() const { return FPaintFont; }

  // Changed cells are painted when the buffer reports them, but not more often than once in
  // this many ms: under a stream of output the changes of a few batches join into one paint
  // (the first change after a quiet spell is painted at once). 0 paints every batch.
  int RepaintInterval() const { return FRepaintInterval; }
  void SetRepaintInterval(int ms) { FRepaintInterval = std::max(ms, 0); }

  // --- History view ---------------------------------------------------------------------
  // The view can show rows of the buffer's history above the screen (the wheel and
  // Shift+PgUp / Shift+PgDn, which reach nobody else). Any other key and any cursor move
  // by the board's output return it to the live screen; the board never sees the view.
  // While the view is not live a small marker in its top-right corner says how far back
  // it is.
  int ViewRowsBack() const { return std::max(0, 1 - FTopLeftRow); }
  bool ViewIsLive() const { return FTopLeftRow >= 1; }
  // Negative counts look further back; the view stops at the oldest row and the screen.
  void ScrollViewBy(int rows);
  void ReturnToLive();
  // Where the marker is drawn, in client coordinates; empty while the view is live.
  QRect ViewMarkerRect() const;

  // --- Caret ----------------------------------------------------------------------------
  // Where the caret is drawn, in client coordinates; empty when there is none to show.
  QRect CaretRect() const;
  // Half-period of the caret's blinking in ms; 0 keeps it steady.
  void SetCaretBlinkTime(int ms) { FCaretBlinkTime = ms; }

  // --- Selection and clipboard ----------------------------------------------------------
  bool HasSelection() const { return FHasSelection; }
  // Start and end cell (column, row), 1-based, in reading order; (0, 0) when empty. Rows
  // of the history count 0, -1, ... upwards; the selection stays on its text when rows
  // scroll into the history.
  QPoint SelectionStart() const { return SelectionNow(FSelStart); }
  QPoint SelectionEnd() const { return SelectionNow(FSelEnd); }
  void DropSelection();
  // Copies the selected text to the clipboard; the selection stays. Nothing without one.
  void CopySelectedText();
  // The selected text: whole lines between the first and last row, each ending CR LF,
  // trailing blanks kept, board bytes as the glyphs shown.
  QString SelectedText() const;

  // --- Events raised to the owner -------------------------------------------------------
  TNotifyEvent OnClick;
  TKeyDownEvent OnKeyDown;
  TKeyPressEvent OnKeyPress;
  TTerminalBuffer::TCursorEvent OnCursorMoved;

  QSize sizeHint() const override;

protected:
  bool event(QEvent* e) override;
  void customEvent(QEvent* e) override;
  void paintEvent(QPaintEvent* e) override;
  void resizeEvent(QResizeEvent* e) override;
  void focusInEvent(QFocusEvent* e) override;
  void focusOutEvent(QFocusEvent* e) override;
  void keyPressEvent(QKeyEvent* e) override;
  void mousePressEvent(QMouseEvent* e) override;
  void mouseMoveEvent(QMouseEvent* e) override;
  void mouseReleaseEvent(QMouseEvent* e) override;
  void wheelEvent(QWheelEvent* e) override;
  void timerEvent(QTimerEvent* e) override;
  bool focusNextPrevChild(bool next) override;

private:
  friend class TTerminalEmulator;

  void CellsChanged() override;
  // From the emulator's cursor handler.
  void CursorMovedByBuffer(int row, int col);
  void LinkEmulator(TTerminalEmulator* emulator);
  void EmulatorGone(TTerminalEmulator* emulator);
  void PostChange();
  void PaintChangedCells();
  // A change now would come sooner after the last paint than the repaint interval allows:
  // starts the repaint timer for the rest of the interval and answers true.
  bool DeferRepaintWhileEarly();
  void MovePixelsUp(int rows);
  void RepaintChanges();

  void RecalcCellSize();
  void Layout();
  void ScrollToShowCursor();
  QRect CellsToPixels(const QRect& cells) const;
  QPoint Origin() const { return contentsRect().topLeft(); }

  void CreateCaret();
  void DestroyCaret();
  void ShowCaret();
  void HideCaret();
  void UpdateCaret();

  QPoint ClampToTextArea(QPoint client) const;
  QPoint CellAt(QPoint client) const;
  void ExtendSelection(QPoint cell);
  void ApplySelection(QPoint start, QPoint end);
  void CancelDrag();
  // The first row a view or a selection can reach (the oldest history row).
  int FirstRow() const { return 1 - Buffer().RowsAbove(); }
  // A selection cell as numbered now: rows pushed into the history since the selection
  // was made have moved it up.
  QPoint SelectionNow(QPoint cell) const;
  void PaintViewMarker(QPainter& painter);
  void InvalidateRows(int first, int last);

  std::unique_ptr<TTTYEmulator> FOwnEmulator;
  TTerminalEmulator* FEmulator = nullptr;
  ITerminalPort* FComPort = nullptr;

  bool FAutoCopy = true;
  int FBlinkTime = 500;
  TBorderStyle FBorderStyle = TBorderStyle::bsSingle;
  TCursorType FCursorType = TCursorType::ctBlock;
  bool FFollowCursor = true;
  bool FHalfDuplex = false;
  bool FHideScrollbars = false;
  int FLazyTimeDelay = 100;
  bool FUseLazyDisplay = true;
  bool FMouseSelect = true;
  bool FScrollback = false;
  bool FWantAllKeys = true;
  QFont FFont;
  QFont FPaintFont;
  TColor FFontColor = kColorSilver;
  TColor FColor = kColorBlack;

  int FCellWidth = 1;
  int FCellHeight = 1;
  int FTopLeftCol = 1;
  int FTopLeftRow = 1;
  int FVisibleCols = 0;
  int FVisibleRows = 0;
  int FFullCols = 0;
  int FFullRows = 0;
  QRect FTextArea;

  bool FChangePosted = false;
  int FRepaintInterval = 10;
  QElapsedTimer FSinceRepaint;
  QBasicTimer FRepaintTimer;
  bool FCaretExists = false;
  bool FCaretShown = false;
  bool FCaretBlinkOn = true;
  int FCaretBlinkTime = 500;
  int FCaretBlinkTicks = 0;
  QRect FCaretDrawn;  // client coordinates of the caret as last shown

  QPoint FSelAnchor;
  QPoint FSelStart;
  QPoint FSelEnd;
  bool FHasSelection = false;
  bool FDragging = false;
  std::int64_t FSelPushed = 0;  // the history's push count the selection rows refer to
  int FWheelRemainder = 0;      // eighths of a degree not yet turned into rows
  QPoint FLastMouse;  // client coordinates, for the drag auto-scroll

  QBasicTimer FTimer;
  int FLazyElapsed = 0;
};

}  // namespace mirte
