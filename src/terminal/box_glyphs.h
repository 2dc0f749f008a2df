#pragma once
// Line, block and shade characters of the board's character set drawn as shapes instead of
// font glyphs, so that frames and bars join across neighbouring cells whatever the font's
// own outlines, advance and line height. Characters outside that set are left to the font.
#include <QColor>
#include <QRect>

class QPainter;

namespace mirte {

// True for the characters DrawBoxGlyph draws.
bool IsBoxGlyph(char32_t ch);

// Draws ch over a cell whose background is already filled with back. Returns false, and
// draws nothing, for a character that is not a box glyph.
bool DrawBoxGlyph(QPainter& painter, const QRect& cell, char32_t ch, const QColor& fore,
                  const QColor& back);

}  // namespace mirte
