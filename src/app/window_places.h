#pragma once
// Where the tool windows were last (their position and size), kept from run to run in a
// small INI file of their own: the settings record has a fixed layout that other programs
// read, so it gets nothing new. The default file lies in the user's config folder
// ($XDG_CONFIG_HOME/mirte/, else ~/.config/mirte/), never beside the program, where it could
// lie in a folder the board reaches. A window is always put inside the available area of
// its screen, however large it was or wherever it was left: a window remembered on a
// larger or a second screen comes back shrunk and moved onto this one. A file that cannot
// be read or written is ignored: the window opens at its preferred size.
#include <QRect>
#include <QString>

class QWidget;

namespace mirte {

// `wanted` (the window's frame: its position and the size it asks for) moved, and shrunk
// where it must be, so that it lies inside `available`. An empty `available` (no screen
// known) leaves it as it is.
QRect FitInside(QRect wanted, const QRect& available);

class TWindowPlaces {
public:
  static QString DefaultFile();
  explicit TWindowPlaces(QString file = DefaultFile());

  // Sizes and places `window` (a top-level window with an object name) as it was last, or
  // at `preferred` centred on its screen the first time; inside the screen either way.
  void Restore(QWidget& window, QSize preferred) const;
  // Keeps the window's position and size for the next Restore.
  void Remember(const QWidget& window) const;

private:
  QString file_;
};

}  // namespace mirte
