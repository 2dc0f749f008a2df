#pragma once
// Pasting into the console: the clipboard's text goes to the board as if typed, paced
// by the board's echo like a user string, and Esc stops it.
#include <functional>
#include <string>
#include <string_view>

#include "board/board_window.h"

namespace mirte {

class TComPort;

// The bytes typing `utf8` would send: Windows-1252 characters, each line end (CR LF, LF
// or CR) one CR, Tab as 9. Characters 1252 cannot hold and other control characters are
// left out, as no key sends them as text.
std::string PasteBytes(std::string_view utf8);

// Sends `bytes` one at a time: after each one but the last, events are served until the
// board has sent something back (DataSeen), the window is closed (CloseRequested) or
// `stop` becomes true; the last byte goes without a wait. TxBusy is set during the waits.
// Nothing is sent while the port is not available, and a port that fails ends the
// sending quietly. `stop` may be null.
void SendEchoPaced(std::string_view bytes, TShellFlags& flags, TComPort& port,
                   const std::function<void()>& serveEvents, const bool* stop = nullptr);

}  // namespace mirte
