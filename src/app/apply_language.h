#pragma once
// Captions in the current language. A component whose caption is a message carries that
// message's index in the dynamic property "Tag" (0 or absent: never translated); the
// windows are built with their Italian captions and re-captioned by ApplyLanguage. The
// transmit-string menu items are rebuilt from the user strings, and status bar panels are
// translated by looking their text up in the message table (panels showing anything else
// stay as they are). Components of the newer windows carry a TTextPair instead (SetCaption),
// and every window gets a QEvent::LanguageChange after its captions, for the texts it builds
// itself (table headers, counts), which it reads in its settings' language.
#include <QString>

#include "common/settings.h"
#include "common/text_pair.h"

class QObject;
class QWidget;

namespace mirte {

inline constexpr const char* kTagProperty = "Tag";

void SetTag(QObject* component, int tag);
int TagOf(const QObject* component);

// Gives a component a caption of the newer windows; `text` must outlive it (the pairs are
// constants). The caption is set at once in `language` and again at every switch.
void SetCaption(QObject* component, const TTextPair& text, int language);

// Message `index` of `language` as a QString.
QString MsgText(int language, int index);
// A text pair in `language` as a QString.
QString PairText(const TTextPair& text, int language);

// Every open window (every top-level widget, hidden ones included) in settings.Language.
void ApplyLanguage(const SettingsRec& settings);
// One window and its components.
void ApplyLanguageTo(QWidget* window, const SettingsRec& settings);

}  // namespace mirte
