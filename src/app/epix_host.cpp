#include "app/epix_host.h"

#include "app/settings.h"

#ifdef MIRTE_WITH_EPIX
#include "eprom/epix_window.h"
#endif

namespace mirte {

#ifdef MIRTE_WITH_EPIX
QWidget* NewEPIXFrm(TSettings& settings, QWidget* owner) { return new TEPIXFrm(settings, owner); }

void ShowEPIXFrm(QWidget* epixFrm) {
  if (auto* frm = static_cast<TEPIXFrm*>(epixFrm)) frm->ShowEPIX();
}
#else
QWidget* NewEPIXFrm(TSettings&, QWidget*) { return nullptr; }
void ShowEPIXFrm(QWidget*) {}
#endif

}  // namespace mirte
