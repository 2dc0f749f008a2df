#include "app/epix_host.h"

#include "common/settings.h"
#include "eprom/epix_window.h"

namespace mirte {

QWidget* NewEPIXFrm(TSettings& settings, QWidget* owner) { return new TEPIXFrm(settings, owner); }

void ShowEPIXFrm(QWidget* epixFrm) {
  if (auto* frm = static_cast<TEPIXFrm*>(epixFrm)) frm->ShowEPIX();
}

}  // namespace mirte
