#pragma once
// Captions of the EPIX windows by message index. A translated component carries its index
// in the dynamic property "Tag", the same property the main window's language switch reads,
// so these windows follow a switch made while they are open; here they re-caption
// themselves when shown, before the main window's pass has seen them.
#include <QString>

class QObject;
class QWidget;

namespace mirte {

QString EpromText(int language, int message);
void SetCaptionTag(QObject* component, int message);
int CaptionTag(const QObject* component);
// The window's title and every tagged button, group box, label and menu entry inside it.
void RecaptionWindow(QWidget* window, int language);

}  // namespace mirte
