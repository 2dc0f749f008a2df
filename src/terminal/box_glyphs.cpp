#include "terminal/box_glyphs.h"

#include <QPainter>
#include <algorithm>
#include <cstdint>

namespace mirte {
namespace {

// Arms of a line character: 0 none, 1 single, 2 double, two bits each.
struct TArms {
  int Left = 0;
  int Right = 0;
  int Up = 0;
  int Down = 0;
};

constexpr std::uint8_t Pack(int left, int right, int up, int down) {
  return std::uint8_t(left | right << 2 | up << 4 | down << 6);
}

// U+2500 .. U+256C; zero for the characters code page 437 does not have.
constexpr std::uint8_t kLineArms[0x6D] = {
    /* 2500 ─ */ Pack(1, 1, 0, 0), 0, /* 2502 │ */ Pack(0, 0, 1, 1), 0, 0, 0, 0, 0, 0, 0, 0, 0,
    /* 250C ┌ */ Pack(0, 1, 0, 1), 0, 0, 0,
    /* 2510 ┐ */ Pack(1, 0, 0, 1), 0, 0, 0,
    /* 2514 └ */ Pack(0, 1, 1, 0), 0, 0, 0,
    /* 2518 ┘ */ Pack(1, 0, 1, 0), 0, 0, 0,
    /* 251C ├ */ Pack(0, 1, 1, 1), 0, 0, 0, 0, 0, 0, 0,
    /* 2524 ┤ */ Pack(1, 0, 1, 1), 0, 0, 0, 0, 0, 0, 0,
    /* 252C ┬ */ Pack(1, 1, 0, 1), 0, 0, 0, 0, 0, 0, 0,
    /* 2534 ┴ */ Pack(1, 1, 1, 0), 0, 0, 0, 0, 0, 0, 0,
    /* 253C ┼ */ Pack(1, 1, 1, 1), 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    /* 2550 ═ */ Pack(2, 2, 0, 0),
    /* 2551 ║ */ Pack(0, 0, 2, 2),
    /* 2552 ╒ */ Pack(0, 2, 0, 1),
    /* 2553 ╓ */ Pack(0, 1, 0, 2),
    /* 2554 ╔ */ Pack(0, 2, 0, 2),
    /* 2555 ╕ */ Pack(2, 0, 0, 1),
    /* 2556 ╖ */ Pack(1, 0, 0, 2),
    /* 2557 ╗ */ Pack(2, 0, 0, 2),
    /* 2558 ╘ */ Pack(0, 2, 1, 0),
    /* 2559 ╙ */ Pack(0, 1, 2, 0),
    /* 255A ╚ */ Pack(0, 2, 2, 0),
    /* 255B ╛ */ Pack(2, 0, 1, 0),
    /* 255C ╜ */ Pack(1, 0, 2, 0),
    /* 255D ╝ */ Pack(2, 0, 2, 0),
    /* 255E ╞ */ Pack(0, 2, 1, 1),
    /* 255F ╟ */ Pack(0, 1, 2, 2),
    /* 2560 ╠ */ Pack(0, 2, 2, 2),
    /* 2561 ╡ */ Pack(2, 0, 1, 1),
    /* 2562 ╢ */ Pack(1, 0, 2, 2),
    /* 2563 ╣ */ Pack(2, 0, 2, 2),
    /* 2564 ╤ */ Pack(2, 2, 0, 1),
    /* 2565 ╥ */ Pack(1, 1, 0, 2),
    /* 2566 ╦ */ Pack(2, 2, 0, 2),
    /* 2567 ╧ */ Pack(2, 2, 1, 0),
    /* 2568 ╨ */ Pack(1, 1, 2, 0),
    /* 2569 ╩ */ Pack(2, 2, 2, 0),
    /* 256A ╪ */ Pack(2, 2, 1, 1),
    /* 256B ╫ */ Pack(1, 1, 2, 2),
    /* 256C ╬ */ Pack(2, 2, 2, 2),
};

bool LineArms(char32_t ch, TArms& arms) {
  if (ch < 0x2500 || ch > 0x256C) return false;
  const std::uint8_t packed = kLineArms[ch - 0x2500];
  if (packed == 0) return false;
  arms = {packed & 3, (packed >> 2) & 3, (packed >> 4) & 3, (packed >> 6) & 3};
  return true;
}

// Where an arm pointing away from the centre c (to the right, or down) begins, for the
// track at offset o from the cell's middle line. The arm's opposite number and the two
// perpendicular arms decide how double and single lines meet; an arm pointing the other
// way is the mirror image (2c - start). "before" is the up (or left) perpendicular arm,
// "after" the down (or right) one.
int ArmStart(int own, int opposite, int before, int after, int c, int o, int d) {
  const int perpendicular = std::max(before, after);
  if (perpendicular == 0) return c;
  if (own == 1) {
    if (perpendicular == 1 || opposite != 0) return c;
    return (before != 0 && after != 0) ? c + d : c - d;
  }
  if (perpendicular == 1) return c;
  if (before != 0 && after != 0) return c + d;
  return after != 0 ? c + o : c - o;
}

void DrawLines(QPainter& painter, const QRect& cell, const TArms& arms, const QColor& fore) {
  const int w = cell.width();
  const int h = cell.height();
  const int t = std::max(1, (w + 4) / 10);  // stroke, thicker only for large fonts
  const int d = std::max(1, w / 6);         // half the distance between double strokes
  const int cx = cell.left() + w / 2;
  const int cy = cell.top() + h / 2;
  const int half = t / 2;

  auto offsets = [d](int style, int* out) {
    if (style == 2) {
      out[0] = -d;
      out[1] = d;
      return 2;
    }
    out[0] = 0;
    return 1;
  };
  int tracks[2];
  if (arms.Right != 0) {
    for (int i = 0, n = offsets(arms.Right, tracks); i < n; ++i) {
      const int x = ArmStart(arms.Right, arms.Left, arms.Up, arms.Down, cx, tracks[i], d) - half;
      painter.fillRect(QRect(x, cy + tracks[i] - half, cell.right() + 1 - x, t), fore);
    }
  }
  if (arms.Left != 0) {
    for (int i = 0, n = offsets(arms.Left, tracks); i < n; ++i) {
      const int end = 2 * cx - ArmStart(arms.Left, arms.Right, arms.Up, arms.Down, cx, tracks[i], d);
      painter.fillRect(QRect(cell.left(), cy + tracks[i] - half, end - half + t - cell.left(), t),
                       fore);
    }
  }
  if (arms.Down != 0) {
    for (int i = 0, n = offsets(arms.Down, tracks); i < n; ++i) {
      const int y = ArmStart(arms.Down, arms.Up, arms.Left, arms.Right, cy, tracks[i], d) - half;
      painter.fillRect(QRect(cx + tracks[i] - half, y, t, cell.bottom() + 1 - y), fore);
    }
  }
  if (arms.Up != 0) {
    for (int i = 0, n = offsets(arms.Up, tracks); i < n; ++i) {
      const int end = 2 * cy - ArmStart(arms.Up, arms.Down, arms.Left, arms.Right, cy, tracks[i], d);
      painter.fillRect(QRect(cx + tracks[i] - half, cell.top(), t, end - half + t - cell.top()),
                       fore);
    }
  }
}

QColor Blend(const QColor& fore, const QColor& back, int percent) {
  auto mix = [percent](int f, int b) { return (f * percent + b * (100 - percent)) / 100; };
  return QColor(mix(fore.red(), back.red()), mix(fore.green(), back.green()),
                mix(fore.blue(), back.blue()));
}

}  // namespace

bool IsBoxGlyph(char32_t ch) {
  TArms arms;
  if (LineArms(ch, arms)) return true;
  switch (ch) {
    case 0x2580: case 0x2584: case 0x2588: case 0x258C: case 0x2590:
    case 0x2591: case 0x2592: case 0x2593:
      return true;
    default:
      return false;
  }
}

bool DrawBoxGlyph(QPainter& painter, const QRect& cell, char32_t ch, const QColor& fore,
                  const QColor& back) {
  TArms arms;
  if (LineArms(ch, arms)) {
    DrawLines(painter, cell, arms, fore);
    return true;
  }
  const int x = cell.left();
  const int y = cell.top();
  const int w = cell.width();
  const int h = cell.height();
  switch (ch) {
    case 0x2580: painter.fillRect(QRect(x, y, w, h / 2), fore); return true;              // ▀
    case 0x2584: painter.fillRect(QRect(x, y + h / 2, w, h - h / 2), fore); return true;  // ▄
    case 0x2588: painter.fillRect(cell, fore); return true;                               // █
    case 0x258C: painter.fillRect(QRect(x, y, w / 2, h), fore); return true;              // ▌
    case 0x2590: painter.fillRect(QRect(x + w / 2, y, w - w / 2, h), fore); return true;  // ▐
    // Shades as an even mix rather than a dot pattern, which beats against the cell grid.
    case 0x2591: painter.fillRect(cell, Blend(fore, back, 25)); return true;  // ░
    case 0x2592: painter.fillRect(cell, Blend(fore, back, 50)); return true;  // ▒
    case 0x2593: painter.fillRect(cell, Blend(fore, back, 75)); return true;  // ▓
    default: return false;
  }
}

}  // namespace mirte
