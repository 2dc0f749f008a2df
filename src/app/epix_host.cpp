#include "app/epix_host.h"

#include "app/desk_windows.h"
#include "common/settings.h"
#include "eprom/epix_window.h"

namespace mirte {

QWidget* NewEPIXFrm(TSettings& settings, QWidget* owner) { return new TEPIXFrm(settings, owner); }

void ShowEPIXFrm(QWidget* epixFrm) {
  auto* frm = static_cast<TEPIXFrm*>(epixFrm);
  if (!frm) return;
  if (!frm->isVisible()) {
    // Where the user moved it stays its place when it is opened again.
    if (!frm->windowHandle()) PlaceToolWindow(frm);
    KeepOffTaskbar(frm);
  }
  frm->ShowEPIX();
}

}  // namespace mirte
