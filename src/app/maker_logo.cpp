#include "app/maker_logo.h"

#include <QIcon>
#include <QLabel>
#include <QPixmap>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>

#include "app/apply_language.h"
#include "common/desk_texts.h"

namespace mirte {

namespace {

const QColor kEmblemBlue(0x1F, 0x3A, 0x8A);
const QColor kEmblemGold(0xE8, 0xB0, 0x20);
const QColor kPanelYellow(0xFF, 0xF3, 0x9A);

// A stylised board: a rounded square with pins on every side and a bow across it.
void PaintEmblem(QPainter& painter, const QRectF& box) {
  const qreal pin = box.width() / 12;
  painter.setPen(Qt::NoPen);
  painter.setBrush(kEmblemGold);
  for (int i = 0; i < 4; ++i) {
    qreal along = box.left() + box.width() * (0.22 + 0.19 * i);
    painter.drawRect(QRectF(along - pin / 2, box.top(), pin, pin * 1.5));
    painter.drawRect(QRectF(along - pin / 2, box.bottom() - pin * 1.5, pin, pin * 1.5));
    qreal down = box.top() + box.height() * (0.22 + 0.19 * i);
    painter.drawRect(QRectF(box.left(), down - pin / 2, pin * 1.5, pin));
    painter.drawRect(QRectF(box.right() - pin * 1.5, down - pin / 2, pin * 1.5, pin));
  }
  QRectF body = box.adjusted(pin, pin, -pin, -pin);
  painter.setBrush(kEmblemBlue);
  painter.drawRoundedRect(body, pin, pin);
  QPainterPath bow;
  bow.moveTo(body.left() + body.width() * 0.15, body.bottom() - body.height() * 0.25);
  bow.quadTo(body.center().x(), body.top() - body.height() * 0.05, body.right() - body.width() * 0.15,
             body.bottom() - body.height() * 0.25);
  painter.setBrush(Qt::NoBrush);
  painter.setPen(QPen(kEmblemGold, pin * 0.9, Qt::SolidLine, Qt::RoundCap));
  painter.drawPath(bow);
  painter.setPen(QPen(Qt::white, pin * 0.5, Qt::SolidLine, Qt::RoundCap));
  painter.drawLine(QPointF(body.center().x(), body.center().y() - body.height() * 0.05),
                   QPointF(body.center().x(), body.bottom() - body.height() * 0.15));
}

// The name and contact lines at the largest size up to `nameSize` at which they fit.
void PaintMakerText(QPainter& painter, const QRectF& area, Qt::Alignment alignment, qreal nameSize) {
  QFont nameFont = painter.font();
  QFont lineFont = painter.font();
  nameFont.setBold(true);
  for (;; nameSize -= 0.5) {
    nameFont.setPointSizeF(nameSize);
    lineFont.setPointSizeF(nameSize * 0.55);
    qreal widest = QFontMetricsF(nameFont).horizontalAdvance(kMakerName);
    for (const char* line : kMakerLines) widest = std::max(widest, QFontMetricsF(lineFont).horizontalAdvance(line));
    if (widest <= area.width() || nameSize <= 6) break;
  }
  QFontMetricsF nameMetrics(nameFont);
  QFontMetricsF lineMetrics(lineFont);
  qreal height = nameMetrics.height() + lineMetrics.height() * std::size(kMakerLines);
  qreal y = area.top() + (area.height() - height) / 2;
  painter.setPen(kEmblemBlue);
  painter.setFont(nameFont);
  painter.drawText(QRectF(area.left(), y, area.width(), nameMetrics.height()), alignment, kMakerName);
  y += nameMetrics.height();
  painter.setPen(Qt::darkGray);
  painter.setFont(lineFont);
  for (const char* line : kMakerLines) {
    painter.drawText(QRectF(area.left(), y, area.width(), lineMetrics.height()), alignment, line);
    y += lineMetrics.height();
  }
}

}  // namespace

TMakerLogo::TMakerLogo(QWidget* parent, bool compactLayout) : QWidget(parent), compact_(compactLayout) {
  setAttribute(Qt::WA_OpaquePaintEvent);
}

void TMakerLogo::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.fillRect(rect(), Qt::white);
  if (compact_) {
    qreal side = std::min(width() * 0.4, height() * 0.55);
    PaintEmblem(painter, QRectF((width() - side) / 2, 6, side, side));
    PaintMakerText(painter, QRectF(0, side + 8, width(), height() - side - 8), Qt::AlignHCenter, 13);
  } else {
    qreal side = std::min(height() * 0.7, width() * 0.3);
    PaintEmblem(painter, QRectF(4, (height() - side) / 2, side, side));
    PaintMakerText(painter, QRectF(side + 16, 0, width() - side - 18, height()), Qt::AlignLeft | Qt::AlignVCenter,
                   15);
  }
}

QIcon ProductIcon() {
  QIcon icon;
  for (int side : {16, 32, 48, 64, 128}) icon.addPixmap(QPixmap::fromImage(EmblemImage(side)));
  return icon;
}

QImage EmblemImage(int side) {
  QImage image(side, side, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing);
  PaintEmblem(painter, QRectF(0, 0, side, side));
  painter.end();
  return image;
}

QWidget* NewProductPanel(QWidget* parent, int language) {
  auto* panel = new QWidget(parent);
  panel->setObjectName("ProductPnl");
  panel->setAutoFillBackground(true);
  QPalette colours = panel->palette();
  colours.setColor(QPalette::Window, kPanelYellow);
  colours.setColor(QPalette::WindowText, Qt::black);
  panel->setPalette(colours);
  auto* layout = new QVBoxLayout(panel);
  layout->setContentsMargins(10, 6, 10, 6);
  layout->setSpacing(2);
  auto* name = new QLabel(kProductName, panel);
  name->setObjectName("ProductLb");
  QFont big = name->font();
  big.setPointSize(26);
  big.setBold(true);
  name->setFont(big);
  name->setAlignment(Qt::AlignCenter);
  auto* description = new QLabel(panel);
  description->setObjectName("DescriptionLb");
  SetCaption(description, desk_texts::kProductDescription, language);
  description->setAlignment(Qt::AlignCenter);
  description->setWordWrap(true);
  layout->addWidget(name);
  layout->addWidget(description);
  return panel;
}

}  // namespace mirte
