#include <QKeyEvent>
#include <gtest/gtest.h>

#include "app/key_translation.h"

namespace mirte {
namespace {

// The keyboard translation keeps Qt out of its header by naming Qt's values itself.
static_assert(keys::Escape == Qt::Key_Escape && keys::kTab == Qt::Key_Tab && keys::kBacktab == Qt::Key_Backtab);
static_assert(keys::kBackspace == Qt::Key_Backspace && keys::kReturn == Qt::Key_Return && keys::kEnter == Qt::Key_Enter);
static_assert(keys::kInsert == Qt::Key_Insert && keys::kDelete == Qt::Key_Delete);
static_assert(keys::kHome == Qt::Key_Home && keys::kEnd == Qt::Key_End);
static_assert(keys::kLeft == Qt::Key_Left && keys::kUp == Qt::Key_Up && keys::kRight == Qt::Key_Right &&
              keys::kDown == Qt::Key_Down);
static_assert(keys::kPageUp == Qt::Key_PageUp && keys::kPageDown == Qt::Key_PageDown);
static_assert(keys::kF1 == Qt::Key_F1 && keys::kF4 == Qt::Key_F4 && keys::kF10 == Qt::Key_F10);
static_assert(modifiers::kShift == Qt::ShiftModifier && modifiers::kControl == Qt::ControlModifier &&
              modifiers::kAlt == Qt::AltModifier && modifiers::kMeta == Qt::MetaModifier &&
              modifiers::kKeypad == Qt::KeypadModifier && modifiers::kGroupSwitch == Qt::GroupSwitchModifier);

TKeyResult Translate(const QKeyEvent& event) {
  const std::string text = event.text().toStdString();
  return TranslateKey({event.key(), static_cast<unsigned>(event.modifiers().toInt()), text}, {});
}

TEST(KeyCodes, QtKeyEventsTranslateAsTheirKeys) {
  EXPECT_EQ(Translate(QKeyEvent(QEvent::KeyPress, Qt::Key_Home, Qt::ControlModifier)).Action,
            TKeyAction::ClearTerminal);
  EXPECT_EQ(Translate(QKeyEvent(QEvent::KeyPress, Qt::Key_Home, Qt::KeypadModifier)).Bytes, "\x11R");
  EXPECT_EQ(Translate(QKeyEvent(QEvent::KeyPress, Qt::Key_A, Qt::ControlModifier, QString())).Bytes, "\x01");
  EXPECT_EQ(Translate(QKeyEvent(QEvent::KeyPress, Qt::Key_F4, Qt::AltModifier)).Action, TKeyAction::EndProgram);
}

}  // namespace
}  // namespace mirte
