#pragma once
// The texts of the board monitor, the window that lists every command frame of the board
// with its file and its answer. Texts with "%1" get a number or a name put in.
#include "common/text_pair.h"

namespace mirte {

inline constexpr TTextPair kMonitorMenuItem{"&Monitor scheda...", "Board &Monitor..."};
inline constexpr TTextPair kMonitorTitle{"Monitor scheda", "Board Monitor"};

// Buttons and the filter box.
inline constexpr TTextPair kMonitorPause{"&Pausa", "&Pause"};
inline constexpr TTextPair kMonitorClear{"&Svuota", "C&lear"};
inline constexpr TTextPair kMonitorCopy{"&Copia", "&Copy"};
inline constexpr TTextPair kMonitorSave{"Sal&va...", "&Save..."};
inline constexpr TTextPair kMonitorFilter{"&Filtro:", "&Filter:"};

// Column headings.
inline constexpr TTextPair kMonitorTimeColumn{"Tempo (ms)", "Time (ms)"};
inline constexpr TTextPair kMonitorTypeColumn{"Tipo", "Type"};
inline constexpr TTextPair kMonitorFileColumn{"File", "File"};
inline constexpr TTextPair kMonitorRecordColumn{"Record", "Record"};
inline constexpr TTextPair kMonitorPathColumn{"Percorso PC", "PC path"};
inline constexpr TTextPair kMonitorResultColumn{"Esito", "Result"};
inline constexpr TTextPair kMonitorReplyColumn{"Risposta (ms)", "Reply (ms)"};

// The line of totals: frames, records read, records written, bytes from and to the board,
// records in the last second.
inline constexpr TTextPair kMonitorTotals{
    "Frame: %1    Record letti: %2    scritti: %3    Byte dalla scheda: %4    alla scheda: %5    Record/s: %6",
    "Frames: %1    Records read: %2    written: %3    Bytes from board: %4    to board: %5    Records/s: %6"};
// Its second line: the line errors counted, each a byte the board sent that never arrived
// whole.
inline constexpr TTextPair kMonitorLineErrors{"Errori di linea: overrun %1, frame %2, parit\u00E0 %3, break %4",
                                              "Line errors: overrun %1, framing %2, parity %3, break %4"};

// Frame types by the command they carry.
inline constexpr TTextPair kFramePrint{"Stampa", "Print"};
inline constexpr TTextPair kFrameDiskReset{"Azzera dischi", "Disk reset"};
inline constexpr TTextPair kFrameSelectDrive{"Seleziona unit\u00E0", "Select drive"};
inline constexpr TTextPair kFrameOpen{"Apri", "Open"};
inline constexpr TTextPair kFrameClose{"Chiudi", "Close"};
inline constexpr TTextPair kFrameSearchFirst{"Cerca primo", "Search first"};
inline constexpr TTextPair kFrameSearchNext{"Cerca successivo", "Search next"};
inline constexpr TTextPair kFrameDelete{"Cancella", "Delete"};
inline constexpr TTextPair kFrameRead{"Leggi", "Read"};
inline constexpr TTextPair kFrameWrite{"Scrivi", "Write"};
inline constexpr TTextPair kFrameMake{"Crea", "Make"};
inline constexpr TTextPair kFrameRename{"Rinomina", "Rename"};
inline constexpr TTextPair kFrameDrives{"Unit\u00E0", "Drives"};
inline constexpr TTextPair kFrameCurrentDrive{"Unit\u00E0 corrente", "Current drive"};
inline constexpr TTextPair kFrameReadOnlyDrives{"Unit\u00E0 protette", "Read-only drives"};
inline constexpr TTextPair kFrameAttributes{"Attributi", "Attributes"};
inline constexpr TTextPair kFrameUserNumber{"Numero utente", "User number"};
inline constexpr TTextPair kFrameRandomRead{"Lettura casuale", "Random read"};
inline constexpr TTextPair kFrameRandomWrite{"Scrittura casuale", "Random write"};
inline constexpr TTextPair kFrameFileSize{"Dimensione file", "File size"};
inline constexpr TTextPair kFrameCurrentRecord{"Record corrente", "Current record"};
inline constexpr TTextPair kFrameResetDrives{"Azzera unit\u00E0", "Reset drives"};
inline constexpr TTextPair kFrameZeroFillWrite{"Scrivi con zeri", "Write zero fill"};
inline constexpr TTextPair kFrameUnknown{"sconosciuto %1", "unknown %1"};

// A run of list characters in one row.
inline constexpr TTextPair kFramePrintRun{"Stampa, %1 caratteri", "Print, %1 characters"};
inline constexpr TTextPair kFramePrintOne{"Stampa, 1 carattere", "Print, 1 character"};

// Results, followed by their byte.
inline constexpr TTextPair kResultOkWord{"ok", "ok"};
inline constexpr TTextPair kResultFailedWord{"fallito", "failed"};
inline constexpr TTextPair kResultEndOfFileWord{"fine file", "end of file"};
inline constexpr TTextPair kResultShortWriteWord{"scrittura parziale", "short write"};
inline constexpr TTextPair kResultOtherWord{"risultato", "result"};

// Saving the rows.
inline constexpr TTextPair kMonitorSaveTitle{"Salva le righe del monitor", "Save the monitor rows"};
inline constexpr TTextPair kMonitorSaveFilter{"File di testo (*.txt);;Tutti i file (*)",
                                              "Text files (*.txt);;All files (*)"};
inline constexpr TTextPair kMonitorSaveFailed{"Impossibile scrivere il file %1.", "The file %1 could not be written."};

}  // namespace mirte
