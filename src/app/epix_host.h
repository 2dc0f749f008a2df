#pragma once
// The EPIX window as the main window creates and shows it. Kept apart from the main window
// so the ROM-disk record's names never meet the board service's in one translation unit.
// Without the EPIX windows in the build, nothing is created and the menu item does nothing.
class QWidget;

namespace mirte {

class TSettings;

// Created hidden, owned by `owner`; nullptr when the program is built without EPIX.
QWidget* NewEPIXFrm(TSettings& settings, QWidget* owner);
// Shows it without waiting, or brings it to the front. The first time it opens beside its
// owner or over it below the menu bar; it is kept out of the task bar.
void ShowEPIXFrm(QWidget* epixFrm);

}  // namespace mirte
