#include "app/splash_form.h"

#include <QApplication>
#include <QEventLoop>
#include <QGuiApplication>
#include <QScreen>
#include <QVBoxLayout>

#include "app/maker_logo.h"

namespace mirte {

TSplashFrm::TSplashFrm(std::chrono::milliseconds interval, int language)
    : QWidget(nullptr, Qt::SplashScreen | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint) {
  setObjectName("SplashFrm");
  setAttribute(Qt::WA_DeleteOnClose);
  setFixedSize(441, 343);
  setAutoFillBackground(true);
  QPalette colours = palette();
  colours.setColor(QPalette::Window, Qt::white);
  setPalette(colours);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(44, 18, 44, 18);
  layout->setSpacing(12);
  auto* artwork = new TMakerLogo(this, false);
  artwork->setObjectName("ArtworkImg");
  artwork->setFixedSize(352, 189);
  layout->addWidget(artwork, 0, Qt::AlignHCenter);
  layout->addWidget(NewProductPanel(this, language), 1);

  if (QScreen* screen = QGuiApplication::primaryScreen())
    move(screen->availableGeometry().center() - rect().center());

  Timer = new QTimer(this);
  Timer->setObjectName("Timer");
  Timer->setSingleShot(true);
  Timer->setInterval(static_cast<int>(interval.count()));
  connect(Timer, &QTimer::timeout, this, [this] { TimerTimer(); });
  Timer->start();
}

void TSplashFrm::ShowAndHold(std::chrono::milliseconds wait) {
  show();
  raise();
  repaint();
  QApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
  // A timed wait rather than a sleep: the window keeps repainting if it is uncovered or
  // the display asks for it, while user input waits until the start-up is done.
  if (wait.count() <= 0) return;
  QEventLoop hold;
  QTimer::singleShot(wait, &hold, &QEventLoop::quit);
  hold.exec(QEventLoop::ExcludeUserInputEvents);
}

void TSplashFrm::TimerTimer() { close(); }

}  // namespace mirte
