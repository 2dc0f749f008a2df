#include "app/window_places.h"

#include <QGuiApplication>
#include <QScreen>
#include <QSettings>
#include <QStandardPaths>
#include <QWidget>

#include <algorithm>

namespace mirte {

namespace {

// Room for the window manager's frame around the client area: before a window is shown
// its frame is unknown, and a title bar pushed above the screen cannot be grabbed.
constexpr int kFrameWidth = 16;
constexpr int kFrameHeight = 40;

QString Key(const QWidget& window) { return window.objectName() + "/geometry"; }

}  // namespace

QRect FitInside(QRect wanted, const QRect& available) {
  if (available.isEmpty()) return wanted;
  wanted.setSize(wanted.size().boundedTo(available.size()));
  wanted.moveLeft(std::clamp(wanted.left(), available.left(), available.right() + 1 - wanted.width()));
  wanted.moveTop(std::clamp(wanted.top(), available.top(), available.bottom() + 1 - wanted.height()));
  return wanted;
}

QString TWindowPlaces::DefaultFile() {
  return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + "/mirte/window-places.ini";
}

TWindowPlaces::TWindowPlaces(QString file) : file_(std::move(file)) {}

void TWindowPlaces::Restore(QWidget& window, QSize preferred) const {
  const QScreen* screen = window.screen() ? window.screen() : QGuiApplication::primaryScreen();
  const QRect available = screen ? screen->availableGeometry() : QRect();
  const QSize frame(kFrameWidth, kFrameHeight);
  QRect wanted = QSettings(file_, QSettings::IniFormat).value(Key(window)).toRect();
  if (wanted.isEmpty()) {
    wanted = QRect(QPoint(), preferred + frame);
    if (!available.isEmpty()) wanted.moveCenter(available.center());
  } else {
    wanted.setSize(wanted.size() + frame);
  }
  const QRect placed = FitInside(wanted, available);
  window.resize(placed.size() - frame);
  window.move(placed.topLeft());
}

void TWindowPlaces::Remember(const QWidget& window) const {
  // The position is the frame's, as move() takes it; the size is the client area's.
  QSettings places(file_, QSettings::IniFormat);
  places.setValue(Key(window), QRect(window.pos(), window.size()));
}

}  // namespace mirte
