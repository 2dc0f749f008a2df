#include "app/lock_keys.h"

#include <QGuiApplication>

#include <X11/XKBlib.h>
#include <X11/Xlib.h>

namespace mirte {

std::string KeyStateText(const std::optional<TLockKeys>& keys) {
  bool caps = keys && keys->Caps;
  bool num = keys && keys->Num;
  bool scroll = keys && keys->Scroll;
  return std::string(caps ? "CAPS" : "    ") + (num ? "  NUM" : "     ") + (scroll ? "  SCROLL" : "        ");
}

TLockKeyReader::TLockKeyReader() {
  auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
  if (!x11 || !x11->display()) return;
  Display* dpy = x11->display();
  int major = XkbMajorVersion, minor = XkbMinorVersion;
  if (!XkbLibraryVersion(&major, &minor)) return;
  int opcode = 0, event = 0, error = 0;
  if (!XkbQueryExtension(dpy, &opcode, &event, &error, &major, &minor)) return;
  display_ = dpy;
  capsAtom_ = XInternAtom(dpy, "Caps Lock", False);
  numAtom_ = XInternAtom(dpy, "Num Lock", False);
  scrollAtom_ = XInternAtom(dpy, "Scroll Lock", False);
}

std::optional<TLockKeys> TLockKeyReader::Read() const {
  if (!display_) return std::nullopt;
  auto* dpy = static_cast<Display*>(display_);
  auto lit = [dpy](unsigned long atom) {
    Bool on = False;
    return XkbGetNamedIndicator(dpy, atom, nullptr, &on, nullptr, nullptr) && on;
  };
  return TLockKeys{lit(capsAtom_), lit(numAtom_), lit(scrollAtom_)};
}

}  // namespace mirte
