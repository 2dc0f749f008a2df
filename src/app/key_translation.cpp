#include "app/key_translation.h"

namespace mirte {

namespace {

// The board's software is a CP/M-era full-screen editor: cursor and editing keys are its
// control-key commands.
std::string EditingKeySequence(int key) {
  switch (key) {
    case keys::PageUp: return "\x12";
    case keys::PageDown: return "\x03";
    case keys::End: return "\x11" "C";
    case keys::Home: return "\x11" "R";
    case keys::Left: return "\x13";
    case keys::Up: return "\x05";
    case keys::Right: return "\x04";
    case keys::Down: return "\x18";
    case keys::Insert: return "\x16";
    case keys::Delete: return "\x07";
    default: return {};
  }
}

}  // namespace

TKeyResult TerminalKeyDown(const TKeyEvent& event, const TKeySelection& selection) {
  TKeyResult result;
  if (selection.Dragging && event.Key == keys::Escape) {
    result.Action = TKeyAction::CancelSelection;
    result.Consumed = true;
  } else if (selection.HasSelection && HeldModifiers(event) == modifiers::Control &&
             (event.Key == 'C' || event.Key == keys::Insert)) {
    result.Action = TKeyAction::CopySelection;
    result.Consumed = true;
  }
  return result;
}

TKeyResult TerminalWnKeyDown(const TKeyEvent& event) {
  TKeyResult result;
  switch (HeldModifiers(event)) {
    case modifiers::Control:
      if (event.Key == keys::Home) {
        result.Action = TKeyAction::ClearTerminal;
      } else if (event.Key >= keys::F1 && event.Key <= keys::F10) {
        result.Action = TKeyAction::SendUserString;
        result.UserString = event.Key - keys::F1 + 1;
      }
      break;
    case modifiers::Alt:
      if (event.Key == keys::F4) result.Action = TKeyAction::EndProgram;
      break;
    case 0:
      result.Bytes = EditingKeySequence(event.Key);
      break;
    case modifiers::Shift:
      if (event.Key == keys::Insert) result.Action = TKeyAction::Paste;
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
