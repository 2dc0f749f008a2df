#include <QKeyEvent>
#include <gtest/gtest.h>

#include "app/key_translation.h"

namespace mirte {
namespace {

// The keyboard translation keeps Qt out of its header by naming Qt's values itself.
static_assert(keys::Escape == Qt::Key_Escape && keys::Tab == Qt::Key_Tab && keys::Backtab == Qt::Key_Backtab);
static_assert(keys::Backspace == Qt::Key_Backspace && keys::Return == Qt::Key_Return && keys::Enter == Qt::Key_Enter);
static_assert(keys::Insert == Qt::Key_Insert && keys::Delete == Qt::Key_Delete);
static_assert(keys::Home == Qt::Key_Home && keys::End == Qt::Key_End);
static_assert(keys::Left == Qt::Key_Left && keys::Up == Qt::Key_Up && keys::Right == Qt::Key_Right &&
              keys::Down == Qt::Key_Down);
static_assert(keys::PageUp == Qt::Key_PageUp && keys::PageDown == Qt::Key_PageDown);
static_assert(keys::F1 == Qt::Key_F1 && keys::F4 == Qt::Key_F4 && keys::F10 == Qt::Key_F10);
static_assert(modifiers::Shift == Qt::ShiftModifier && modifiers::Control == Qt::ControlModifier &&
              modifiers::Alt == Qt::AltModifier && modifiers::Meta == Qt::MetaModifier &&
              modifiers::Keypad == Qt::KeypadModifier && modifiers::GroupSwitch == Qt::GroupSwitchModifier);

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
