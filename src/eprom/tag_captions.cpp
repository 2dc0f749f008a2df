#include "eprom/tag_captions.h"

#include <QAbstractButton>
#include <QAction>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QWidget>

#include "common/msg_table.h"

namespace mirte {

namespace {

void RecaptionComponent(QObject* component, int language) {
  const int tag = CaptionTag(component);
  if (tag == 0) return;
  const QString text = EpromText(language, tag);
  if (auto* action = qobject_cast<QAction*>(component)) action->setText(text);
  else if (auto* label = qobject_cast<QLabel*>(component)) label->setText(text);
  else if (auto* box = qobject_cast<QGroupBox*>(component)) box->setTitle(text);
  else if (auto* button = qobject_cast<QAbstractButton*>(component)) button->setText(text);
}

void RecaptionChildren(QObject* parent, int language) {
  for (QObject* child : parent->children()) {
    auto* widget = qobject_cast<QWidget*>(child);
    // A dialog opened from the window is a window of its own; its context menu is not.
    if (widget && widget->isWindow() && !qobject_cast<QMenu*>(widget)) continue;
    RecaptionComponent(child, language);
    RecaptionChildren(child, language);
  }
}

}  // namespace

QString EpromText(int language, int message) {
  const std::string_view text = MsgTable(language, message);
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

void SetCaptionTag(QObject* component, int message) { component->setProperty("Tag", message); }

int CaptionTag(const QObject* component) { return component->property("Tag").toInt(); }

void RecaptionWindow(QWidget* window, int language) {
  if (const int tag = CaptionTag(window); tag != 0) window->setWindowTitle(EpromText(language, tag));
  RecaptionChildren(window, language);
}

}  // namespace mirte
