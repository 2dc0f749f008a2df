#pragma once
// What a key typed in the terminal window does: bytes for the board, or a command of the
// program. Pure functions over the toolkit's key code, modifier bits and event text, so
// the window's handlers only carry out the answer. Key codes and modifier bits are the
// toolkit's (stable) numeric values; keys and modifier sets not described below do
// nothing and send nothing. Characters go out as Windows-1252 bytes; a character that
// code page cannot hold is dropped rather than sent as something else.
#include <string>

#include "platform/key_characters.h"

namespace mirte {

// What the terminal window knows about its mouse selection when the key arrives.
struct TKeySelection {
  bool HasSelection = false;
  bool Dragging = false;  // the mouse is still making the selection
};

enum class TKeyAction {
  None,
  CancelSelection,  // Esc while dragging a selection
  CopySelection,    // Ctrl+C or Ctrl+Insert while a selection exists
  ClearTerminal,    // Ctrl+Home
  SendUserString,   // Ctrl+F1 ... Ctrl+F10, when that user string's item is enabled
  EndProgram,       // Alt+F4
  Paste,            // Shift+Insert: the clipboard's text goes to the board as typed
};

struct TKeyResult {
  TKeyAction Action = TKeyAction::None;
  int UserString = 0;  // 1 ... 10 with SendUserString
  // Bytes for the board, sent as one string unless the port is not available.
  std::string Bytes;
  // The terminal control kept the key: no character follows it. The window's key-down
  // handling never sets it, as the system derives the character of a Ctrl key regardless.
  bool Consumed = false;

  bool operator==(const TKeyResult&) const = default;
};

// The three stages a key passes, in order. Each stage's result says whether it consumed
// the key; TranslateKey runs them in turn and gives the outcome of the whole key.

// The terminal control's own handling: cancelling a drag, copying a selection.
TKeyResult TerminalKeyDown(const TKeyEvent& event, const TKeySelection& selection);
// The main window's key-down handling: the cursor and editing keys, Ctrl and Alt commands.
TKeyResult TerminalWnKeyDown(const TKeyEvent& event);
TKeyResult TranslateKey(const TKeyEvent& event, const TKeySelection& selection);

}  // namespace mirte
