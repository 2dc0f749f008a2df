#include "app/desk_windows.h"

#include <QGuiApplication>
#include <QMainWindow>
#include <QMenuBar>
#include <QScreen>
#include <QWidget>
#include <algorithm>

#include <X11/Xatom.h>
#include <X11/Xlib.h>

namespace mirte {
namespace {

int Clamp(int value, int low, int high) { return std::max(low, std::min(value, high)); }

QRect InsideOf(QRect rect, const QRect& available) {
  rect.moveLeft(Clamp(rect.left(), available.left(), available.right() + 1 - rect.width()));
  rect.moveTop(Clamp(rect.top(), available.top(), available.bottom() + 1 - rect.height()));
  // Bigger than the screen: the caption and the top-left controls stay reachable.
  if (rect.left() < available.left()) rect.moveLeft(available.left());
  if (rect.top() < available.top()) rect.moveTop(available.top());
  return rect;
}

}  // namespace

QRect PlaceBesideOwner(const QRect& owner, int menuBottom, QSize size, const QRect& available) {
  const int top = Clamp(owner.top(), available.top(), available.bottom() + 1 - size.height());
  const QRect right(QPoint(owner.right() + 1, top), size);
  if (available.contains(right)) return right;
  const QRect left(QPoint(owner.left() - size.width(), top), size);
  if (available.contains(left)) return left;
  QRect over(QPoint(0, 0), size);
  over.moveCenter(owner.center());
  if (over.top() <= menuBottom) over.moveTop(menuBottom + 1);
  return InsideOf(over, available);
}

int LargestFittingFontSize(int wanted, const std::vector<int>& sizes,
                           const std::function<QSize(int)>& outerSizeAt, QSize available) {
  if (sizes.empty()) return wanted;
  for (auto size = sizes.rbegin(); size != sizes.rend(); ++size) {
    if (*size > wanted) continue;
    const QSize outer = outerSizeAt(*size);
    if (outer.width() <= available.width() && outer.height() <= available.height()) return *size;
  }
  return sizes.front();
}

void KeepOffTaskbar(QWidget* window) {
  auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
  if (!window || !x11 || !x11->display()) return;
  Display* dpy = x11->display();
  // Set on the withdrawn window: Qt merges its own states into the property at the show,
  // and a window manager reads it when the window is mapped.
  Atom states[] = {XInternAtom(dpy, "_NET_WM_STATE_SKIP_TASKBAR", False),
                   XInternAtom(dpy, "_NET_WM_STATE_SKIP_PAGER", False)};
  XChangeProperty(dpy, static_cast<Window>(window->winId()), XInternAtom(dpy, "_NET_WM_STATE", False), XA_ATOM,
                  32, PropModeReplace, reinterpret_cast<unsigned char*>(states), 2);
  XFlush(dpy);
}

void PlaceToolWindow(QWidget* window) {
  QWidget* owner = window && window->parentWidget() ? window->parentWidget()->window() : nullptr;
  if (!owner || !owner->isVisible()) return;
  QScreen* screen = owner->screen() ? owner->screen() : QGuiApplication::primaryScreen();
  if (!screen) return;
  // The window manager frames the tool window as it frames its owner; before its first
  // show the tool window's own frame is not known yet.
  const QRect ownerFrame = owner->frameGeometry();
  const QSize frameExtra = ownerFrame.size() - owner->geometry().size();
  window->adjustSize();
  const QSize size = window->size() + frameExtra;
  int menuBottom = owner->geometry().top() - 1;
  if (auto* main = qobject_cast<QMainWindow*>(owner); main && main->menuWidget())
    menuBottom = main->menuWidget()->mapToGlobal(QPoint(0, main->menuWidget()->height() - 1)).y();
  window->move(PlaceBesideOwner(ownerFrame, menuBottom, size, screen->availableGeometry()).topLeft());
}

}  // namespace mirte
