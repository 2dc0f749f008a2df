#include "app/user_string_sender.h"

#include <string>

#include "app/paste_sender.h"
#include "app/user_string_items.h"

namespace mirte {

void SendUserString(int n, const SettingsRec& rec, TShellFlags& flags, TComPort& port,
                    const std::function<void()>& serveEvents) {
  if (flags.ComNotAvailable) return;
  SendEchoPaced(UserStringToSend(rec, n), flags, port, serveEvents);
}

}  // namespace mirte
