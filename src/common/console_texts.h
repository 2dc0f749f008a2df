#pragma once
// Texts of the console's history, paste, save and log commands, in both languages.
#include "common/text_pair.h"

namespace mirte::console_texts {

inline constexpr TTextPair kPasteCmd{"&Incolla", "&Paste"};
inline constexpr TTextPair kSaveTextCmd{"&Salva Testo Console...", "&Save Console Text..."};
inline constexpr TTextPair kLogConsoleCmd{"&Registra Console...", "&Log Console..."};
inline constexpr TTextPair kSaveTextTitle{"Salva il testo della console", "Save the console text"};
inline constexpr TTextPair kLogConsoleTitle{"Registra la console nel file", "Log the console to file"};
inline constexpr TTextPair kTextFilter{"File di testo (*.txt *.log);;Tutti i file (*)",
                                      "Text files (*.txt *.log);;All files (*)"};
inline constexpr TTextPair kCannotWrite{"Impossibile scrivere il file", "Cannot write the file"};
inline constexpr TTextPair kLogNotRegularFile{
    "Il registro della console va in un file normale: una FIFO, un socket, un dispositivo o una "
    "cartella non possono riceverlo. La console non viene registrata.",
    "The console log goes to a regular file: a FIFO, a socket, a device or a folder cannot take "
    "it. The console is not logged."};
inline constexpr TTextPair kLoggingStopped{"registrazione interrotta: ", "logging stopped: "};
// Why the log stopped on its own; %1 is the limit it went past.
inline constexpr TTextPair kLogStalled{"il file ha impiegato più di %1 ms per una scrittura",
                                      "the file took more than %1 ms to write"};
inline constexpr TTextPair kLogBacklogFull{"più di %1 KB attendevano di essere scritti",
                                          "more than %1 KB waited to be written"};

}  // namespace mirte::console_texts
