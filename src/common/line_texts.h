#pragma once
// Texts about the serial line itself rather than the port: frames cut off by silence, bytes
// lost on the line or by the adapter, an adapter that holds bytes back. Status bar texts
// begin with a blank, like the message table's. Placeholders %1, %2, ... are filled in by
// whoever shows the text.
#include "common/text_pair.h"

namespace mirte {

inline constexpr TTextPair kFrameAbandoned{" Comando interrotto: la scheda ha smesso di trasmettere",
                                           " Command dropped: the board stopped sending"};
// %1 the COM number, %2 the bytes lost since the port opened.
inline constexpr TTextPair kLineBytesLost{" COM%1: %2 byte persi dall'adattatore", " COM%1: %2 bytes lost by the adapter"};

// %1 the COM number.
inline constexpr TTextPair kAdapterHoldsBytes{
    "COM%1: l'adattatore trattiene i byte ricevuti fino a 16 ms. Una regola udev lo evita:\n"
    "ACTION==\"add\", SUBSYSTEM==\"usb-serial\", DRIVER==\"ftdi_sio\", ATTR{latency_timer}=\"1\"",
    "COM%1: the adapter holds received bytes back for up to 16 ms. A udev rule stops that:\n"
    "ACTION==\"add\", SUBSYSTEM==\"usb-serial\", DRIVER==\"ftdi_sio\", ATTR{latency_timer}=\"1\""};

}  // namespace mirte
