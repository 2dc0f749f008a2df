#include "app/paste_sender.h"

#include "platform/code_page.h"
#include "serial/com_port.h"
#include "serial/ser_except.h"

namespace mirte {

std::string PasteBytes(std::string_view utf8) {
  std::string bytes;
  bytes.reserve(utf8.size());
  std::size_t pos = 0;
  while (pos < utf8.size()) {
    const char32_t ch = DecodeUtf8(utf8, pos);
    if (ch == U'\r' || ch == U'\n') {
      // CR LF is one line end, as is each lone CR or LF.
      if (ch == U'\r' && pos < utf8.size() && utf8[pos] == '\n') ++pos;
      bytes += '\r';
    } else if (ch == U'\t') {
      bytes += '\t';
    } else if (ch >= 0x20 && ch != 0x7F && !(ch >= 0x80 && ch < 0xA0)) {
      if (const auto byte = UnicodeToCp1252(ch)) bytes += char(*byte);
    }
  }
  return bytes;
}

void SendEchoPaced(std::string_view bytes, TShellFlags& flags, TComPort& port,
                   const std::function<void()>& serveEvents, const bool* stop) {
  if (flags.ComNotAvailable || bytes.empty()) return;
  auto stopped = [&] { return flags.CloseRequested || (stop != nullptr && *stop); };

  // A port that is closed or fails under the sender (the port options can be opened from
  // inside the wait) ends the sending: the rest has nowhere to go, and an exception must
  // not cross the event loop that called us.
  bool portUsable = true;
  auto sendByte = [&](char c) {
    try {
      port.WriteChar(static_cast<std::uint8_t>(c));
    } catch (const ESerialException&) {
      portUsable = false;
    }
  };
  auto waitForEcho = [&] {
    while (portUsable && !flags.DataSeen && !stopped()) {
      if (serveEvents) serveEvents();
      try {
        port.ServicePort();
      } catch (const ESerialException&) {
        portUsable = false;
      }
    }
  };

  flags.TxBusy = true;
  for (std::size_t i = 0; i + 1 < bytes.size() && portUsable && !stopped(); ++i) {
    flags.DataSeen = false;
    sendByte(bytes[i]);
    waitForEcho();
  }
  flags.TxBusy = false;

  if (portUsable && !stopped()) sendByte(bytes.back());
}

}  // namespace mirte
