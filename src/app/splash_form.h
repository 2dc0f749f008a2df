#pragma once
// The splash window shown while the program starts: borderless, on top, centred, white,
// with the maker's artwork and the product panel. It closes and destroys itself when its
// timer fires, which happens only once an event loop runs.
#include <QTimer>
#include <QWidget>

#include <chrono>

#include "common/msg_table.h"

namespace mirte {

class TSplashFrm : public QWidget {
public:
  // The description is written in `language`: the splash is gone before any language
  // switch could re-caption it.
  explicit TSplashFrm(std::chrono::milliseconds interval = std::chrono::milliseconds(3000),
                      int language = kLanguageItalian);

  QTimer* Timer = nullptr;

  // Shows and paints the window at once, then keeps it painted for `wait` (the start-up
  // goes on afterwards; the window stays until its timer fires).
  void ShowAndHold(std::chrono::milliseconds wait);

private:
  void TimerTimer();
};

}  // namespace mirte
