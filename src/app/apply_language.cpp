#include "app/apply_language.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QEvent>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QStatusBar>
#include <QWidget>

#include "common/msg_table.h"
#include "app/user_string_items.h"

namespace mirte {

namespace {

constexpr const char* kTextPairProperty = "TextPair";

const TTextPair* TextPairOf(const QObject* component) {
  return reinterpret_cast<const TTextPair*>(component->property(kTextPairProperty).value<quintptr>());
}

void SetComponentText(QObject* component, const QString& text) {
  if (auto* action = qobject_cast<QAction*>(component)) {
    action->setText(text);
  } else if (auto* label = qobject_cast<QLabel*>(component)) {
    label->setText(text);
  } else if (auto* box = qobject_cast<QGroupBox*>(component)) {
    box->setTitle(text);
  } else if (auto* button = qobject_cast<QAbstractButton*>(component)) {
    button->setText(text);
  } else if (auto* menu = qobject_cast<QMenu*>(component)) {
    menu->setTitle(text);
  } else if (auto* widget = qobject_cast<QWidget*>(component); widget && widget->isWindow()) {
    widget->setWindowTitle(text);
  }
}

void TranslateStatusBar(QStatusBar* bar, int language) {
  for (QLabel* panel : bar->findChildren<QLabel*>(Qt::FindDirectChildrenOnly)) {
    int index = FindMessageIndex(panel->text().toStdString());
    if (index != -1) panel->setText(MsgText(language, index));
  }
}

void TranslateAction(QAction* action, int tag, const SettingsRec& settings) {
  const std::string name = action->objectName().toStdString();
  if (name.find("TxStr") != std::string::npos) {
    int n = TxStrNumber(name);
    if (n != 0) {
      action->setText(QString::fromStdString(TxStrCaption(settings, n, settings.Language, action->isEnabled(), tag)));
      return;
    }
  }
  action->setText(MsgText(settings.Language, tag));
}

void TranslateComponent(QObject* component, const SettingsRec& settings) {
  const int language = settings.Language;
  if (const TTextPair* pair = TextPairOf(component)) {
    SetComponentText(component, PairText(*pair, language));
    return;
  }
  int tag = TagOf(component);
  if (tag == 0) return;
  if (auto* action = qobject_cast<QAction*>(component)) {
    TranslateAction(action, tag, settings);
  } else if (auto* bar = qobject_cast<QStatusBar*>(component)) {
    TranslateStatusBar(bar, language);
  } else {
    SetComponentText(component, MsgText(language, tag));
  }
}

// Walks the components of one window in creation order. Menus are windows to Qt but
// belong to the window that holds them; dialogs and other windows get their own pass.
void TranslateChildren(QObject* parent, const SettingsRec& settings) {
  for (QObject* child : parent->children()) {
    auto* widget = qobject_cast<QWidget*>(child);
    if (widget && widget->isWindow() && !qobject_cast<QMenu*>(widget)) continue;
    TranslateComponent(child, settings);
    TranslateChildren(child, settings);
  }
}

}  // namespace

void SetTag(QObject* component, int tag) { component->setProperty(kTagProperty, tag); }

int TagOf(const QObject* component) { return component->property(kTagProperty).toInt(); }

void SetCaption(QObject* component, const TTextPair& text, int language) {
  component->setProperty(kTextPairProperty, QVariant::fromValue(reinterpret_cast<quintptr>(&text)));
  SetComponentText(component, PairText(text, language));
}

QString MsgText(int language, int index) {
  std::string_view text = MsgTable(language, index);
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QString PairText(const TTextPair& text, int language) {
  std::string_view picked = text.Pick(language);
  return QString::fromUtf8(picked.data(), static_cast<qsizetype>(picked.size()));
}

void ApplyLanguageTo(QWidget* window, const SettingsRec& settings) {
  if (const TTextPair* pair = TextPairOf(window)) {
    window->setWindowTitle(PairText(*pair, settings.Language));
  } else if (int tag = TagOf(window); tag != 0) {
    window->setWindowTitle(MsgText(settings.Language, tag));
  }
  TranslateChildren(window, settings);
  QEvent changed(QEvent::LanguageChange);
  QApplication::sendEvent(window, &changed);
}

void ApplyLanguage(const SettingsRec& settings) {
  for (QWidget* window : QApplication::topLevelWidgets()) {
    if (qobject_cast<QMenu*>(window)) continue;
    ApplyLanguageTo(window, settings);
  }
}

}  // namespace mirte
