#include "terminal/terminal_emulator.h"

#include <QApplication>
#include <QFontMetrics>
#include <QPaintEngine>
#include <QPainter>
#include <algorithm>
#include <utility>

#include "platform/code_page.h"
#include "terminal/box_glyphs.h"
#include "terminal/terminal_widget.h"

namespace mirte {
namespace {

// Bold text is drawn brighter rather than heavier, so that every cell keeps its width.
TColor Brighten(TColor color) {
  auto up = [](TColor component) { return std::min<TColor>(component + 128, 255); };
  return up(color & 0xFF) | up((color >> 8) & 0xFF) << 8 | up((color >> 16) & 0xFF) << 16;
}

}  // namespace

QColor ToQColor(TColor color) {
  return QColor(int(color & 0xFF), int((color >> 8) & 0xFF), int((color >> 16) & 0xFF));
}

TColor FromQColor(const QColor& color) {
  const QColor rgb = color.toRgb();
  return TColor(rgb.red()) | TColor(rgb.green()) << 8 | TColor(rgb.blue()) << 16;
}

// --- TTerminalEmulator ------------------------------------------------------------------

TTerminalEmulator::TTerminalEmulator(std::unique_ptr<TTerminalBuffer> buffer, bool internal)
    : FOwnBuffer(std::move(buffer)), FBuffer(FOwnBuffer.get()), FInternal(internal) {
  FBuffer->OnCursorMoved = [this](TTerminalBuffer&, int row, int col) { CursorMoved(row, col); };
}

TTerminalEmulator::TTerminalEmulator(TTerminalBuffer& shown, bool internal) : FBuffer(&shown), FInternal(internal) {
  FBuffer->OnCursorMoved = [this](TTerminalBuffer&, int row, int col) { CursorMoved(row, col); };
}

TTerminalEmulator::~TTerminalEmulator() {
  FBuffer->OnCursorMoved = nullptr;
  if (!FInternal) SetTerminal(nullptr);
}

bool TTerminalEmulator::NeedsUpdate() {
  return FBuffer->HasInvalidRect() || FBuffer->GetCursorMoved();
}

void TTerminalEmulator::ClearScreen() { FBuffer->EraseScreen(); }

void TTerminalEmulator::ClearAll() { FBuffer->ClearScreenHome(); }

void TTerminalEmulator::BlinkPaint(bool) {}

bool TTerminalEmulator::HasBlinkingCells() { return false; }

bool TTerminalEmulator::KeyDown(int&, Qt::KeyboardModifiers) { return false; }

void TTerminalEmulator::KeyPress(std::uint8_t&) {}

void TTerminalEmulator::SetTerminal(TTerminal* window) {
  if (window == FTerminal) return;
  if (FTerminal != nullptr) {
    TTerminal* old = FTerminal;
    Unlink();
    old->EmulatorGone(this);
  }
  if (window == nullptr) return;
  if (window->FEmulator != nullptr && window->FEmulator != this) window->FEmulator->Unlink();
  FTerminal = window;
  FBuffer->SetWindowScrolls(true);
  FBuffer->SetWindowHandle(window);
  window->LinkEmulator(this);
}

void TTerminalEmulator::Unlink() {
  if (FTerminal != nullptr && FTerminal->FEmulator == this) FTerminal->FEmulator = nullptr;
  FTerminal = nullptr;
  FBuffer->ClearWindowHandle();
  FBuffer->SetWindowScrolls(false);
}

void TTerminalEmulator::CursorMoved(int row, int col) {
  if (FTerminal != nullptr) FTerminal->CursorMovedByBuffer(row, col);
}

// --- TTTYEmulator -----------------------------------------------------------------------

TTTYEmulator::TTTYEmulator(bool internal)
    : TTerminalEmulator(std::make_unique<TTerminalBuffer>(false), internal) {
  FRuns.reserve(256);
  FGlyphScratch.reserve(256);
  FPositionScratch.reserve(256);
}

TTTYEmulator::TTTYEmulator(TTerminalBuffer& shown) : TTerminalEmulator(shown, false) {
  FRuns.reserve(256);
  FGlyphScratch.reserve(256);
  FPositionScratch.reserve(256);
}

TTTYEmulator::~TTTYEmulator() = default;

bool TTTYEmulator::NeedsUpdate() {
  return FFullRepaintPending || TTerminalEmulator::NeedsUpdate();
}

void TTTYEmulator::SendChar(std::uint8_t ch, bool echo) {
  TTerminal* window = Terminal();
  if (window == nullptr) return;
  if (echo && window->HalfDuplex()) ProcessBlock(&ch, 1, false);
  ITerminalPort* port = window->ComPort();
  if (port != nullptr && port->Open()) port->WriteChar(ch);
}

void TTTYEmulator::KeyPress(std::uint8_t& ch) {
  if (ch == 8) ch = 127;  // a teletype's rubout
  SendChar(ch, true);
}

void TTTYEmulator::ProcessBlock(const std::uint8_t* bytes, std::size_t count, bool flag) {
  TTerminalBuffer& buffer = Buffer();
  for (std::size_t i = 0; i < count; ++i) {
    FCommands.clear();
    std::string text(1, char(bytes[i]));
    if (OnProcessChar) OnProcessChar(*this, bytes[i], flag, FCommands, text);
    for (const TEmulatorCommand& command : FCommands) {
      if (command) command(buffer);
    }
    for (const char c : text) {
      const auto ch = std::uint8_t(c);
      if (ch >= 32) {
        buffer.PutChar(ch);
        continue;
      }
      switch (ch) {
        case 7: QApplication::beep(); break;        // BEL
        case 8: buffer.CursorBackspace(); break;    // BS
        case 9: buffer.TabForward(); break;         // HT
        case 10: buffer.LineFeed(); break;          // LF
        case 13: buffer.CarriageReturn(); break;    // CR
        default: break;                             // other controls mean nothing to a TTY
      }
    }
  }
}

void TTTYEmulator::SyncColors() {
  TTerminal* window = Terminal();
  TTerminalBuffer& buffer = Buffer();
  const TColor back = window->Color();
  const TColor fore = window->FontColor();
  if (back == buffer.GetCurrentBackColor() && fore == buffer.GetCurrentForeColor()) return;
  buffer.SetDefaultBackColor(back);
  buffer.SetDefaultForeColor(fore);
  buffer.SetCurrentBackColor(back);
  buffer.SetCurrentForeColor(fore);
  FFullRepaintPending = true;
}

bool TTTYEmulator::TakeChangedCells(QRect& cells) {
  if (Terminal() == nullptr) return false;
  SyncColors();
  TTerminalBuffer& buffer = Buffer();
  TInvalidRect rect;
  if (FFullRepaintPending) {
    FFullRepaintPending = false;
    while (buffer.GetInvalidRect(rect)) {
    }
    cells = QRect(QPoint(1, 1), QPoint(buffer.ColCount(), buffer.RowCount()));
    return true;
  }
  if (!buffer.GetInvalidRect(rect)) return false;
  cells = QRect(QPoint(rect.Left, rect.Top), QPoint(rect.Right, rect.Bottom));
  return true;
}

bool TTTYEmulator::LazyPaint(QPainter& canvas) {
  // Painting straight onto a canvas moves no pixels: a scroll repaints the whole screen.
  const bool scrolled = TakeScrolledRows() > 0;
  QRect cells;
  if (!TakeChangedCells(cells) && !scrolled) return false;
  if (scrolled) cells = QRect(QPoint(1, 1), QPoint(Buffer().ColCount(), Buffer().RowCount()));
  for (int row = cells.top(); row <= cells.bottom(); ++row) {
    PaintRow(canvas, row, cells.left(), cells.right());
  }
  return false;
}

void TTTYEmulator::Paint(QPainter& canvas, const QRect& clip) {
  TTerminal* window = Terminal();
  if (window == nullptr || clip.isEmpty()) return;
  SyncColors();
  const int cw = window->CellWidth();
  const int ch = window->CellHeight();
  const int left = std::max(clip.left(), 0);
  const int top = std::max(clip.top(), 0);
  const int right = std::max(clip.right(), 0);
  const int bottom = std::max(clip.bottom(), 0);
  const int firstCol = left / cw + window->TopLeftCol();
  const int lastCol = right / cw + window->TopLeftCol();
  const int firstRow = top / ch + window->TopLeftRow();
  const int lastRow = bottom / ch + window->TopLeftRow();
  for (int row = firstRow; row <= lastRow; ++row) PaintRow(canvas, row, firstCol, lastCol);
}

void TTTYEmulator::PaintRow(QPainter& canvas, int row, int first, int last) {
  TTerminal* window = Terminal();
  if (window == nullptr) return;
  const int topRow = window->TopLeftRow();
  const int leftCol = window->TopLeftCol();
  if (row < topRow || row > topRow + window->VisibleRows() - 1) return;
  if (last < leftCol || first >= leftCol + window->VisibleCols()) return;
  first = std::max(first, leftCol);
  last = std::min(last, leftCol + window->VisibleCols() - 1);

  const TTerminalBuffer& buffer = Buffer();
  const auto attrs = buffer.GetAttrRow(row);
  const auto fores = buffer.GetForeColorRow(row);
  const auto backs = buffer.GetBackColorRow(row);
  last = std::min(last, int(std::min({attrs.size(), fores.size(), backs.size()})));
  if (first > last) return;

  FRuns.clear();
  for (int col = first; col <= last; ++col) {
    const std::size_t i = std::size_t(col - 1);
    if (!FRuns.empty()) {
      TRunRecord& run = FRuns.back();
      if (run.Attr == attrs[i] && run.Fore == fores[i] && run.Back == backs[i]) {
        run.Last = col;
        continue;
      }
    }
    FRuns.push_back({col, col, fores[i], backs[i], attrs[i]});
  }
  ++FPaintedRows;
  if (first == 1 && leftCol == 1 && last == buffer.ColCount())
    DrawRowImage(canvas, row, first, last);
  else
    DrawRuns(canvas, row);
}

void TTTYEmulator::DrawRowImage(QPainter& canvas, int row, int first, int last) {
  TTerminal* window = Terminal();
  const int cw = window->CellWidth();
  const int ch = window->CellHeight();
  QPaintDevice* target = canvas.paintEngine() != nullptr ? canvas.paintEngine()->paintDevice() : nullptr;
  const qreal ratio = target != nullptr ? target->devicePixelRatioF() : 1.0;
  const QFont& font = Glyphs().Font;
  if (font != FRowImageFont || QSize(cw, ch) != FRowImageCell || ratio != FRowImageRatio) {
    FRowImages.clear();
    FOlderRowImages.clear();
    FRowImageFont = font;
    FRowImageCell = QSize(cw, ch);
    FRowImageRatio = ratio;
  }

  const TTerminalBuffer& buffer = Buffer();
  const std::size_t from = std::size_t(first - 1);
  const std::size_t count = std::size_t(last - first + 1);
  auto append = [this](auto span, std::size_t start, std::size_t n) {
    FRowKey.append(reinterpret_cast<const char*>(span.data() + start), n * sizeof(span[0]));
  };
  FRowKey.clear();
  append(buffer.GetCharRow(row), from, count);
  append(buffer.GetAttrRow(row), from, count);
  append(buffer.GetForeColorRow(row), from, count);
  append(buffer.GetBackColorRow(row), from, count);

  const int y0 = (row - window->TopLeftRow()) * ch;
  auto found = FRowImages.find(FRowKey);
  if (found == FRowImages.end()) {
    if (FRowImages.size() >= std::size_t(2 * buffer.RowCount())) {
      FOlderRowImages = std::move(FRowImages);
      FRowImages.clear();
    }
    auto older = FOlderRowImages.find(FRowKey);
    if (older != FOlderRowImages.end()) {
      found = FRowImages.emplace(FRowKey, std::move(older->second)).first;
      FOlderRowImages.erase(older);
    } else {
      // Painted like the window's own pixels, so an image looks exactly like direct drawing.
      const QImage::Format format = target != nullptr && target->devType() == QInternal::Image
                                        ? static_cast<QImage*>(target)->format()
                                        : QImage::Format_RGB32;
      const QSize size(int(count) * cw, ch);
      QImage image((QSizeF(size) * ratio).toSize(), format);
      image.setDevicePixelRatio(ratio);
      QPainter painter(&image);
      painter.translate(0, -y0);
      DrawRuns(painter, row);
      painter.end();
      found = FRowImages.emplace(FRowKey, std::move(image)).first;
    }
  }
  canvas.drawImage(QPoint((first - window->TopLeftCol()) * cw, y0), found->second);
}

void TTTYEmulator::DrawRuns(QPainter& canvas, int row) {
  TTerminal* window = Terminal();
  const auto chars = Buffer().GetCharRow(row);
  const int cw = window->CellWidth();
  const int ch = window->CellHeight();
  const int y0 = (row - window->TopLeftRow()) * ch;
  const int y1 = y0 + ch;
  for (const TRunRecord& run : FRuns) {
    TColor text = run.Fore;
    TColor background = run.Back;
    const bool swapped = ((run.Attr & TAttr::Reverse) != 0) != ((run.Attr & TAttr::Selected) != 0);
    if (swapped) std::swap(text, background);
    if ((run.Attr & TAttr::Invisible) != 0) {
      text = background;
    } else if ((run.Attr & TAttr::Bold) != 0) {
      TColor& fore = swapped ? background : text;
      fore = Brighten(fore);
    }
    const int x0 = (run.First - window->TopLeftCol()) * cw;
    const int x1 = x0 + (run.Last - run.First + 1) * cw;
    const QRect area(QPoint(x0, y0), QPoint(x1 - 1, y1 - 1));
    const QColor textColor = ToQColor(text);
    const QColor backColor = ToQColor(background);
    canvas.fillRect(area, backColor);
    DrawRunText(canvas, run, chars, area, textColor, backColor);
    if ((run.Attr & TAttr::Underline) != 0) canvas.fillRect(x0, y1 - 2, x1 - x0, 1, textColor);
    if ((run.Attr & TAttr::Strikethrough) != 0) {
      canvas.fillRect(x0, y0 + (y1 - y0) / 2, x1 - x0, 1, textColor);
    }
  }
}

void TTTYEmulator::DrawRunText(QPainter& canvas, const TRunRecord& run,
                               std::span<const std::uint8_t> chars, const QRect& area,
                               const QColor& text, const QColor& background) {
  if ((run.Attr & TAttr::Invisible) != 0) return;  // would only paint over itself
  const TGlyphTable& glyphs = Glyphs();
  const int cw = Terminal()->CellWidth();
  const qreal baseline = area.top() + glyphs.Ascent;
  FGlyphScratch.clear();
  FPositionScratch.clear();
  bool clipped = false;
  for (int col = run.First; col <= run.Last; ++col) {
    const std::size_t i = std::size_t(col - 1);
    if (i >= chars.size()) break;
    const std::uint8_t byte = chars[i];
    if (byte == ' ' || byte == 0) continue;
    const int x = area.left() + (col - run.First) * cw;
    if (glyphs.Shape[byte]) {
      DrawBoxGlyph(canvas, QRect(x, area.top(), cw, area.height()), glyphs.Unicode[byte], text,
                   background);
      continue;
    }
    // Glyphs never spill into neighbouring cells: those may not be repainted with them.
    if (!clipped) {
      canvas.save();
      canvas.setClipRect(area, Qt::IntersectClip);
      clipped = true;
    }
    if (glyphs.Fallback[byte]) {
      canvas.setPen(text);
      canvas.setFont(glyphs.Font);
      canvas.drawText(QPointF(x, baseline), QString(QChar(char16_t(glyphs.Unicode[byte]))));
      continue;
    }
    FGlyphScratch.push_back(glyphs.Index[byte]);
    FPositionScratch.emplace_back(x, baseline);
  }
  if (!FGlyphScratch.empty()) {
    FGlyphRun.setRawFont(glyphs.Raw);
    FGlyphRun.setRawData(FGlyphScratch.data(), FPositionScratch.data(),
                         int(FGlyphScratch.size()));
    canvas.setPen(text);
    canvas.drawGlyphRun(QPointF(0, 0), FGlyphRun);
  }
  if (clipped) canvas.restore();
}

const TTTYEmulator::TGlyphTable& TTTYEmulator::Glyphs() {
  const QFont font = Terminal()->PaintFont();
  if (FGlyphs.Raw.isValid() && FGlyphs.Font == font) return FGlyphs;
  FGlyphs.Font = font;
  FGlyphs.Raw = QRawFont::fromFont(font);
  FGlyphs.Ascent = QFontMetrics(font).ascent();
  for (int byte = 0; byte < 256; ++byte) {
    const char32_t unicode = Cp437ToUnicode(std::uint8_t(byte));
    FGlyphs.Unicode[byte] = unicode;
    FGlyphs.Shape[byte] = IsBoxGlyph(unicode);
    FGlyphs.Index[byte] = 0;
    FGlyphs.Fallback[byte] = false;
    if (FGlyphs.Shape[byte]) continue;
    const QString one = QString::fromUcs4(&unicode, 1);
    const QList<quint32> index = FGlyphs.Raw.glyphIndexesForString(one);
    if (!index.isEmpty() && index.front() != 0) {
      FGlyphs.Index[byte] = index.front();
    } else {
      FGlyphs.Fallback[byte] = true;
    }
  }
  return FGlyphs;
}

}  // namespace mirte
