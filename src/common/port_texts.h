#pragma once
// Texts of the serial port's Linux side: a port whose device went away, the reasons a port
// does not open, and the adapters in the port dialogs. Placeholders %1, %2, ... are filled
// in by the window that shows the text. Status bar texts begin with a blank, like the
// message table's " COM not available", and fit the 170-pixel port panel.
#include "common/text_pair.h"

namespace mirte {

// Status bar, port panel: %1 the COM number.
inline constexpr TTextPair kPortLostPanel{" COM%1 scollegata", " COM%1 unplugged"};
inline constexpr TTextPair kPortNoAccessPanel{" COM%1 accesso negato", " COM%1 access denied"};
inline constexpr TTextPair kPortInUsePanel{" COM%1 occupata", " COM%1 in use"};

// The port panel's tooltip while the device is away: %1 the device.
inline constexpr TTextPair kPortLostHint{"Il dispositivo %1 è stato scollegato: viene riaperto appena ritorna.",
                                         "The device %1 went away: it is reopened as soon as it is back."};

// Why a port does not open. %1 the COM number, %2 the device.
// %3 the group owning the device, %4 the command that adds the user to it.
inline constexpr TTextPair kPortNoAccessMessage{
    "COM%1 (%2) esiste, ma non si ha il permesso di aprirla: il dispositivo appartiene al gruppo \"%3\".\n"
    "Per entrare nel gruppo: %4\n"
    "poi chiudere la sessione e rientrare.",
    "COM%1 (%2) exists, but you may not open it: the device belongs to the group \"%3\".\n"
    "To join the group: %4\n"
    "then log out and log in again."};
// The device's mode lets nobody but its owner in: %1 the COM number, %2 the device, %3 a
// udev rule that opens it to its group.
inline constexpr TTextPair kPortOwnerOnlyMessage{
    "COM%1 (%2) esiste, ma i suoi permessi non lasciano entrare nessuno tranne il proprietario: "
    "entrare in un gruppo non basta.\n"
    "Una regola udev lo apre al gruppo \"dialout\", per esempio in /etc/udev/rules.d/99-mirte.rules:\n"
    "%3\n"
    "poi ricollegare l'adattatore (o: sudo udevadm trigger).",
    "COM%1 (%2) exists, but its permissions let nobody in except its owner: joining a group does not help.\n"
    "A udev rule opens it to the group \"dialout\", for example in /etc/udev/rules.d/99-mirte.rules:\n"
    "%3\n"
    "then plug the adapter in again (or: sudo udevadm trigger)."};
// %3 the programs holding the device (kPortHolder, joined by ", ").
inline constexpr TTextPair kPortInUseByMessage{"COM%1 (%2) è già utilizzata da un altro programma: %3.",
                                               "COM%1 (%2) is already used by another program: %3."};
// %1 the program's name, %2 its process number.
inline constexpr TTextPair kPortHolder{"%1 (processo %2)", "%1 (process %2)"};
inline constexpr TTextPair kPortMissingMessage{"COM%1 non disponibile: il dispositivo %2 non esiste.",
                                               "COM%1 not available: there is no device %2."};
// %3 the system's description of the error.
inline constexpr TTextPair kPortOtherMessage{"COM%1 (%2) non si apre: %3.", "COM%1 (%2) does not open: %3."};

// Port dialogs. %1 the adapter's name, %2 its device.
inline constexpr TTextPair kNewAdapterEntry{"Nuovo adattatore: %1 (%2)", "New adapter: %1 (%2)"};
inline constexpr TTextPair kAdapterComNumberLb{"come &COM", "as &COM"};
// %1 the link, %2 the system's reason.
inline constexpr TTextPair kAdapterLinkFailed{"Il collegamento %1 non si può creare: %2.",
                                              "The link %1 cannot be made: %2."};

}  // namespace mirte
