#pragma once
// Sends one of the ten user strings to the board, paced by its echo: after every
// character but the last the sender waits, serving events, until the board has sent
// something back (DataSeen). There is no time limit; a close of the main window
// (CloseRequested) ends the wait and nothing more is sent. While the port is not
// available nothing is sent at all. TxBusy is set for exactly the time of the waits.
#include <functional>

#include "common/settings.h"
#include "board/board_window.h"

namespace mirte {

class TComPort;

// `serveEvents` handles the events pending on the GUI thread; it is where the port's
// data-available handler runs and sets DataSeen. It may block for a short while until an
// event arrives, which keeps the wait from spinning.
//
// A port that fails or is closed under the sender (the port options dialog can be opened
// from inside the wait) ends the sending quietly, with TxBusy cleared.
void SendUserString(int n, const SettingsRec& rec, TShellFlags& flags, TComPort& port,
                    const std::function<void()>& serveEvents);

}  // namespace mirte
