#pragma once
// What the board service needs from the main window, declared here so the service stays
// free of Qt. The main window implements it; tests use a recording fake.
#include <string>
#include <string_view>

#include "terminal/cursor_type.h"

namespace mirte {

// Flags the main window owns and the board service and the user-string sender share.
// Plain booleans: they are only touched on the GUI thread.
struct TShellFlags {
  bool CloseRequested = false;   // the window was closed while a transfer pumped events
  bool TxBusy = false;           // a transfer that pumps events is in progress
  bool ComNotAvailable = false;  // the configured port could not be opened
  bool DataSeen = false;         // set after every burst of received bytes
};

class IBoardWindow {
public:
  virtual ~IBoardWindow() = default;

  virtual TShellFlags& Flags() = 0;
  // The current language of every text: 1 Italian, 2 English.
  virtual int Language() const = 0;

  virtual void SetCursorShape(TCursorType shape) = 0;
  // Drops the mouse selection of the terminal window.
  virtual void RemoveSelect() = 0;
  virtual void Beep() = 0;

  // Status bar panel 1 (the middle one), as UTF-8 text.
  virtual std::string StatusText() const = 0;
  virtual void SetStatusText(std::string_view text) = 0;

  // Called after every burst of board bytes: the mouse selection is dropped 100 ms after the
  // last call. A call only moves the due time, starting the timer when it is idle; a tick
  // before the due time re-arms the timer for what is left, the tick at it drops the
  // selection and stops the timer.
  virtual void RestartDeSelectTimer() = 0;
  // While a print job is open Print and Abort Print are enabled and printer set-up is not.
  virtual void SetPrintJobOpen(bool open) = 0;
  // The two halves of one turn of a loop that waits on the port: a brief wait for news from
  // the port (its output has left, a message came), and handling whatever events wait.
  virtual void WaitForPortNews() = 0;
  virtual void ProcessPendingEvents() = 0;
};

}  // namespace mirte
