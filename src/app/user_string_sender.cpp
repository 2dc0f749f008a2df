#include "app/user_string_sender.h"

#include <string>

#include "app/user_string_items.h"
#include "serial/com_port.h"
#include "serial/ser_except.h"

namespace mirte {

void SendUserString(int n, const SettingsRec& rec, TShellFlags& flags, TComPort& port,
                    const std::function<void()>& serveEvents) {
  if (flags.ComNotAvailable) return;
  const std::string s = UserStringToSend(rec, n);
  if (s.empty()) return;

  // A port that is closed or fails under the sender (the port options can be opened from
  // inside the wait) ends the string: the rest has nowhere to go, and an exception must not
  // cross the event loop that called us.
  bool portUsable = true;
  auto sendByte = [&](char c) {
    try {
      port.WriteChar(static_cast<std::uint8_t>(c));
    } catch (const ESerialException&) {
      portUsable = false;
    }
  };
  auto waitForEcho = [&] {
    while (portUsable && !flags.DataSeen && !flags.CloseRequested) {
      if (serveEvents) serveEvents();
      try {
        port.ServicePort();
      } catch (const ESerialException&) {
        portUsable = false;
      }
    }
  };

  flags.TxBusy = true;
  for (std::size_t i = 0; i + 1 < s.size() && portUsable && !flags.CloseRequested; ++i) {
    flags.DataSeen = false;
    sendByte(s[i]);
    waitForEcho();
  }
  flags.TxBusy = false;

  if (portUsable && !flags.CloseRequested) sendByte(s.back());
}

}  // namespace mirte
