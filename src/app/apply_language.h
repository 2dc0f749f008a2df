#pragma once
// Captions in the current language. A component whose caption is a message carries that
// message's index in the dynamic property "Tag" (0 or absent: never translated); the
// windows are built with their Italian captions and re-captioned by ApplyLanguage. The
// transmit-string menu items are rebuilt from the user strings, and status bar panels are
// translated by looking their text up in the message table (panels showing anything else
// stay as they are).
#include <QString>

#include "common/settings.h"

class QObject;
class QWidget;

namespace mirte {

inline constexpr const char* kTagProperty = "Tag";

void SetTag(QObject* component, int tag);
int TagOf(const QObject* component);

// Message `index` of `language` as a QString.
QString MsgText(int language, int index);

// Every open window (every top-level widget, hidden ones included) in settings.Language.
void ApplyLanguage(const SettingsRec& settings);
// One window and its components.
void ApplyLanguageTo(QWidget* window, const SettingsRec& settings);

}  // namespace mirte
