#pragma once
// The emulator behind a terminal window. It owns the cell buffer, keeps the buffer's default
// colours in step with the window's colours, and paints cells onto the window: the part the
// window system asks for (Paint) or the cells the buffer reports as changed (LazyPaint).
// Every cell is CellWidth pixels wide whatever the font's own advance, so text always lines
// up with the grid. Painting without a linked window, or outside the shown cells, does
// nothing. The TTY emulator also defines what a plain teletype does with received bytes
// and typed characters; this program reaches that only through a window that is active or
// echoes locally.
#include <QColor>
#include <QFont>
#include <QGlyphRun>
#include <QImage>
#include <QPointF>
#include <QRawFont>
#include <QRect>
#include <Qt>
#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

#include "terminal/terminal_buffer.h"

class QPainter;

namespace mirte {

class TTerminal;

// A command an OnProcessChar handler queues for the byte being processed; it runs on the
// emulator's buffer before the byte's text is written.
using TEmulatorCommand = std::function<void(TTerminalBuffer&)>;
using TCommandList = std::vector<TEmulatorCommand>;

// 0x00BBGGRR as a toolkit colour.
QColor ToQColor(TColor color);
TColor FromQColor(const QColor& color);

class TTerminalEmulator {
public:
  // Called for every received byte before it is shown; may queue commands and replace the
  // text that is written for the byte.
  using TProcessCharEvent = std::function<void(TTerminalEmulator&, std::uint8_t byte,
                                               bool flag, TCommandList& commands,
                                               std::string& text)>;

  TTerminalEmulator(const TTerminalEmulator&) = delete;
  TTerminalEmulator& operator=(const TTerminalEmulator&) = delete;
  virtual ~TTerminalEmulator();

  TTerminalBuffer& Buffer() { return *FBuffer; }
  const TTerminalBuffer& Buffer() const { return *FBuffer; }
  TTerminal* Terminal() const { return FTerminal; }
  // The emulator a window creates for itself; it never unlinks itself from that window.
  bool Internal() const { return FInternal; }

  // True when cells changed, a full repaint is pending or the cursor moved (reading the
  // cursor's moved flag clears it).
  virtual bool NeedsUpdate();
  virtual void ClearScreen();
  virtual void ClearAll();
  virtual void SendChar(std::uint8_t ch, bool echo) = 0;
  virtual void BlinkPaint(bool phase);
  virtual bool HasBlinkingCells();
  // Returns true when the emulator consumed the key.
  virtual bool KeyDown(int& key, Qt::KeyboardModifiers shift);
  // ch is a Windows-1252 byte; the emulator may change it.
  virtual void KeyPress(std::uint8_t& ch);
  // Paints the changed cells; always false.
  virtual bool LazyPaint(QPainter& canvas) = 0;
  // Paints every cell that the clip rectangle (text-area pixels) touches, whole cells.
  virtual void Paint(QPainter& canvas, const QRect& clip) = 0;
  virtual void ProcessBlock(const std::uint8_t* bytes, std::size_t count, bool flag) = 0;
  // Pairs this emulator with a window (nullptr unlinks). A window has one emulator and an
  // emulator one window: older pairings of either side are broken.
  virtual void SetTerminal(TTerminal* window);

  // Colour sync, then takes what LazyPaint would paint: the block of 1-based screen cells
  // (left, top, right, bottom as QRect corners). False when nothing is waiting. Windows
  // that cannot paint outside their paint handler use this to know what to repaint.
  virtual bool TakeChangedCells(QRect& cells) = 0;
  // Rows the whole screen has scrolled up by since the last call: a linked window moves
  // its pixels by that much before it repaints the changed cells, which then exclude what
  // the move already shows. Take it before the changed cells.
  int TakeScrolledRows() { return FBuffer->TakeScrolledRows(); }

  std::string Answerback = "TTYterm";
  TProcessCharEvent OnProcessChar;

protected:
  TTerminalEmulator(std::unique_ptr<TTerminalBuffer> buffer, bool internal);
  // Paints a buffer that someone else owns and keeps beyond this emulator.
  TTerminalEmulator(TTerminalBuffer& shown, bool internal);

  // The buffer's cursor notification.
  void CursorMoved(int row, int col);

  TCommandList FCommands;

private:
  friend class TTerminal;
  void Unlink();

  std::unique_ptr<TTerminalBuffer> FOwnBuffer;
  TTerminalBuffer* FBuffer;
  TTerminal* FTerminal = nullptr;
  bool FInternal;
};

class TTTYEmulator : public TTerminalEmulator {
public:
  explicit TTTYEmulator(bool internal = false);
  // Shows a buffer that outlives the emulator, such as a board session's screen.
  explicit TTTYEmulator(TTerminalBuffer& shown);
  ~TTTYEmulator() override;

  void SendChar(std::uint8_t ch, bool echo) override;
  void KeyPress(std::uint8_t& ch) override;
  bool LazyPaint(QPainter& canvas) override;
  void Paint(QPainter& canvas, const QRect& clip) override;
  void ProcessBlock(const std::uint8_t* bytes, std::size_t count, bool flag) override;
  bool TakeChangedCells(QRect& cells) override;
  bool NeedsUpdate() override;

  // Rows drawn by PaintRow since construction: lets tests and benchmarks see how much a
  // change cost.
  long PaintedRowCount() const { return FPaintedRows; }

  void PaintRow(QPainter& canvas, int row, int first, int last);

private:
  // A run of neighbouring cells with equal attributes and colours.
  struct TRunRecord {
    int First = 0;  // 1-based columns
    int Last = 0;
    TColor Fore = 0;
    TColor Back = 0;
    std::uint8_t Attr = 0;
  };
  // What the window's font needs to draw a board byte.
  struct TGlyphTable {
    QFont Font;
    QRawFont Raw;
    qreal Ascent = 0;
    std::array<quint32, 256> Index{};
    std::array<char32_t, 256> Unicode{};
    std::array<bool, 256> Shape{};     // drawn as a box glyph
    std::array<bool, 256> Fallback{};  // the font lacks it: drawn through the font system
  };

  void SyncColors();
  // Draws a whole row from the image kept for its contents, painting that image first when
  // there is none. A scroll moves every row of the screen: the rows that only moved are
  // then copied as images instead of being drawn again glyph by glyph.
  void DrawRowImage(QPainter& canvas, int row, int first, int last);
  void DrawRuns(QPainter& canvas, int row);
  void DrawRunText(QPainter& canvas, const TRunRecord& run, std::span<const std::uint8_t> chars,
                   const QRect& area, const QColor& text, const QColor& background);
  const TGlyphTable& Glyphs();

  bool FFullRepaintPending = false;
  std::vector<TRunRecord> FRuns;  // reused: painting allocates nothing once it has grown
  std::vector<quint32> FGlyphScratch;
  std::vector<QPointF> FPositionScratch;
  TGlyphTable FGlyphs;
  QGlyphRun FGlyphRun;
  long FPaintedRows = 0;
  // Row images keyed by what decides their pixels (bytes, attributes, colours). Images
  // used since the last turnover are kept; the rest go at the next one. Any change of
  // font, cell size or pixel ratio drops them all.
  std::unordered_map<std::string, QImage> FRowImages, FOlderRowImages;
  std::string FRowKey;
  QFont FRowImageFont;
  QSize FRowImageCell;
  qreal FRowImageRatio = 0;
};

}  // namespace mirte
