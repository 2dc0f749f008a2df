#include "app/key_translation.h"

namespace mirte {

namespace {

// The board's software is a CP/M-era full-screen editor: cursor and editing keys are its
// control-key commands.
std::string EditingKeySequence(int key) {
  switch (key) {
    case keys::kPageUp: return "\x12";
    case keys::kPageDown: return "\x03";
    case keys::kEnd: return "\x11" "C";
    case keys::kHome: return "\x11" "R";
    case keys::kLeft: return "\x13";
    case keys::kUp: return "\x05";
    case keys::kRight: return "\x04";
    case keys::kDown: return "\x18";
    case keys::kInsert: return "\x16";
    case keys::kDelete: return "\x07";
    default: return {};
  }
}

}  // namespace

TKeyResult TerminalKeyDown(const TKeyEvent& event, const TKeySelection& selection) {
  TKeyResult result;
  if (selection.Dragging && event.Key == keys::Escape) {
    result.Action = TKeyAction::CancelSelection;
    result.Consumed = true;
  } else if (selection.HasSelection && HeldModifiers(event) == modifiers::kControl &&
             (event.Key == 'C' || event.Key == keys::kInsert)) {
    result.Action = TKeyAction::CopySelection;
    result.Consumed = true;
  }
  return result;
}

TKeyResult TerminalWnKeyDown(const TKeyEvent& event) {
  TKeyResult result;
  switch (HeldModifiers(event)) {
    case modifiers::kControl:
      if (event.Key == keys::kHome) {
        result.Action = TKeyAction::ClearTerminal;
      } else if (event.Key >= keys::kF1 && event.Key <= keys::kF10) {
        result.Action = TKeyAction::SendUserString;
        result.UserString = event.Key - keys::kF1 + 1;
      }
      break;
    case modifiers::kAlt:
      if (event.Key == keys::kF4) result.Action = TKeyAction::EndProgram;
      break;
    case 0:
      result.Bytes = EditingKeySequence(event.Key);
      break;
    case modifiers::kShift:
      if (event.Key == keys::kInsert) result.Action = TKeyAction::Paste;
      break;
    default:
      break;
  }
  return result;
}

TKeyResult TranslateKey(const TKeyEvent& event, const TKeySelection& selection) {
  TKeyResult result = TerminalKeyDown(event, selection);
  if (result.Consumed) return result;
  result = TerminalWnKeyDown(event);
  result.Bytes += SystemCharacters(event);
  return result;
}

}  // namespace mirte
