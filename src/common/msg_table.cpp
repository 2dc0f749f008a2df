#include "common/msg_table.h"

#include <array>

namespace mirte {

namespace {

using TMessageRow = std::array<std::string_view, kMessageCount>;

// Texts are UTF-8; the accelerator letter of a caption follows "&". Leading and trailing
// blanks belong to the texts: the status bar and the image writer run them together.
constexpr TMessageRow kItalian = {
    /*  1 */ "MIRTE: Emulazione terminale per schede KTB® con SOLVAX",
    /*  2 */ "&Comandi",
    /*  3 */ "&Edit",
    /*  4 */ "&Impostazioni",
    /*  5 */ "&Utilità",
    /*  6 */ "Ca&ncella Terminale",
    /*  7 */ "Stam&pante...",
    /*  8 */ "S&tampa",
    /*  9 */ "&Annulla Stampa",
    /* 10 */ "&Cambia Cartella...",
    /* 11 */ "&Esci",
    /* 12 */ "&Copia",
    /* 13 */ "&Porta Seriale...",
    /* 14 */ "&Lingua",
    /* 15 */ "&Italiano",
    /* 16 */ "&English",
    /* 17 */ "&Carattere",
    /* 18 */ "Colore &Sfondo...",
    /* 19 */ "&EPIX...",
    /* 20 */ "&Editor Stringhe...",
    /* 21 */ "&Informazioni...",
    /* 22 */ "ATTENDERE !",
    /* 23 */ "Porta Seriale",
    /* 24 */ "Selezione &Porta COM",
    /* 25 */ "&Baud Rate",
    /* 26 */ "&OK",
    /* 27 */ "&Annulla",
    /* 28 */ "Cambia la Cartella di lavoro",
    /* 29 */ "&Deseleziona",
    /* 30 */ "Informazioni",
    /* 31 */ "Versione: ",
    /* 32 */ "Documento in attesa di stampa",
    /* 33 */ "&Trasmetti Stringa",
    /* 34 */ "<Nessuna>",
    /* 35 */ "Editor Stringhe Utente",
    /* 36 */ "<Invio>",
    /* 37 */ "EPIX: Realizzazione immagine EPROM Utente",
    /* 38 */ "&Per KTB® Q17",
    /* 39 */ "Tipo &EPROM",
    /* 40 */ "&Crea",
    /* 41 */ "File &SOLVAX",
    /* 42 */ "File EPROM &Binario",
    /* 43 */ "&Aggiungi file",
    /* 44 */ "&Modifica file",
    /* 45 */ "Cancella &file",
    /* 46 */ "Cancella &Tutti",
    /* 47 */ "Seleziona file SOLVAX",
    /* 48 */ "File Binario (*.bin)|*.BIN|Tutti i file (*.*)|*.*",
    /* 49 */ "Picc&olo",
    /* 50 */ "M&edio",
    /* 51 */ "&Grande",
    /* 52 */ "Colore &Testo...",
    /* 53 */ "Sta&mpa ogni Pagina",
    /* 54 */ "Non Selezionato",
    /* 55 */ "Non Inserito",
    /* 56 */ "Nome file EPROM Binario",
    /* 57 */ "Già inserito come file SOLVAX",
    /* 58 */ "Già inserito come file EPROM binario",
    /* 59 */ " ERRORE DI LETTURA di N:",
    /* 60 */ "Il file SOLVAX è troppo grande",
    /* 61 */ "&Molto Grande",
    /* 62 */ "Stampa MIRTE",
    /* 63 */ " COM non disponibile",
    /* 64 */ "Spazio libero insufficiente in ROM-Disk",
    /* 65 */ "Il file è già inserito in ROM-Disk",
    /* 66 */ " Bytes disponibili ",
    /* 67 */ " Spazio insufficiente ",
    /* 68 */ "Inserire nome file in ROM-Disk",
    /* 69 */ "Nome file:",
    /* 70 */ "Nome file in ROM-Disk non valido",
    /* 71 */ "Nome file in ROM-Disk già presente",
    /* 72 */ "Aggiunge un file alla ROM-Disk",
    /* 73 */ "File SOLVAX (*.svx)|*.SVX|Tutti i file (*.*)|*.*",
    /* 74 */ "Modifica un file in ROM-Disk",
    /* 75 */ "Eliminare tutti i files dalla ROM-Disk ?",
    /* 76 */ "&Inizia",
    /* 77 */ "Creazione del file EPROM binario",
    /* 78 */ " Creazione directory ROM-Disk in corso....",
    /* 79 */ " Copia del file SOLVAX in corso, attendere....",
    /* 80 */ " Riempimento area non usata in corso....",
    /* 81 */ " Scrittura della directory ROM-Disk in corso....",
    /* 82 */ " scrittura file in corso....",
    /* 83 */ " Riempimento ROM-Disk non usata in corso....",
    /* 84 */ " File Binario creato con successo!",
    /* 85 */ " ERRORE DI SCRITTURA nel file Binario",
    /* 86 */ " ERRORE DI LETTURA del file SOLVAX",
    /* 87 */ "Porta COM già utilizzata da un'altra applicazione",
};

constexpr TMessageRow kEnglish = {
    /*  1 */ "MIRTE: Terminal emulation for KTB® cards with SOLVAX",
    /*  2 */ "&Commands",
    /*  3 */ "&Edit",
    /*  4 */ "Sett&ings",
    /*  5 */ "&Utility",
    /*  6 */ "Clear T&erminal",
    /*  7 */ "&Printer...",
    /*  8 */ "Prin&t",
    /*  9 */ "&Abort Print",
    /* 10 */ "&Change Folder...",
    /* 11 */ "&Exit",
    /* 12 */ "&Copy",
    /* 13 */ "Serial &Port...",
    /* 14 */ "&Language",
    /* 15 */ "&Italiano",
    /* 16 */ "&English",
    /* 17 */ "&Character",
    /* 18 */ "&Background Color...",
    /* 19 */ "&EPIX...",
    /* 20 */ "Strings &Editor...",
    /* 21 */ "&Information...",
    /* 22 */ "WAIT !",
    /* 23 */ "Serial Port",
    /* 24 */ "COM &Port select",
    /* 25 */ "&Baud Rate",
    /* 26 */ "&OK",
    /* 27 */ "C&ancel",
    /* 28 */ "Change working Folder",
    /* 29 */ "&Deselect",
    /* 30 */ "Information",
    /* 31 */ "Release: ",
    /* 32 */ "Document waits for printing",
    /* 33 */ "&Transmit String",
    /* 34 */ "<None>",
    /* 35 */ "User Strings Editor",
    /* 36 */ "<Enter>",
    /* 37 */ "EPIX: Making User EPROM image",
    /* 38 */ "F&or KTB® Q17",
    /* 39 */ "&EPROM Type",
    /* 40 */ "Ma&ke",
    /* 41 */ "&SOLVAX file",
    /* 42 */ "&Binary EPROM file",
    /* 43 */ "&Add file",
    /* 44 */ "&Modify file",
    /* 45 */ "Delete &file",
    /* 46 */ "&Delete All",
    /* 47 */ "Select SOLVAX file",
    /* 48 */ "Binary file (*.bin)|*.BIN|All files (*.*)|*.*",
    /* 49 */ "&Small",
    /* 50 */ "&Medium",
    /* 51 */ "Lar&ge",
    /* 52 */ "&Text color...",
    /* 53 */ "Print each Pa&ge",
    /* 54 */ "Not Selected",
    /* 55 */ "Not Inserted",
    /* 56 */ "Binary EPROM file name",
    /* 57 */ "Already inserted as SOLVAX file",
    /* 58 */ "Already inserted as binary EPROM file",
    /* 59 */ " READING ERROR in N:",
    /* 60 */ "SOLVAX file is too large",
    /* 61 */ "&Very Large",
    /* 62 */ "MIRTE Print",
    /* 63 */ " COM not available",
    /* 64 */ "Insufficient free space on ROM-Disk",
    /* 65 */ "File already inserted on ROM-Disk",
    /* 66 */ " Bytes free ",
    /* 67 */ " Insufficient space ",
    /* 68 */ "Insert file name in ROM-Disk",
    /* 69 */ "File name:",
    /* 70 */ "Invalid ROM-Disk file name",
    /* 71 */ "ROM-Disk file name already exist",
    /* 72 */ "Add file to ROM-Disk",
    /* 73 */ "SOLVAX file (*.svx)|*.SVX|All files (*.*)|*.*",
    /* 74 */ "Modify file on ROM-Disk",
    /* 75 */ "Remove all files from ROM-Disk ?",
    /* 76 */ "&Start",
    /* 77 */ "Making binary EPROM file",
    /* 78 */ " ROM-Disk directory making in progress....",
    /* 79 */ " SOLVAX file copying in progress, please wait....",
    /* 80 */ " Not used area filling in progress....",
    /* 81 */ " ROM-Disk directory writing in progress....",
    /* 82 */ " file writing in progress....",
    /* 83 */ " Not used ROM-Disk filling in progress....",
    /* 84 */ " Binary file created successfully!",
    /* 85 */ " WRITING ERROR in Binary file",
    /* 86 */ " READING ERROR in SOLVAX file",
    /* 87 */ "COM port already used by another application",
};

}  // namespace

std::string_view MsgTable(int language, int index) {
  if (index < 1 || index > kMessageCount) return {};
  switch (language) {
    case kLanguageItalian:
      return kItalian[std::size_t(index - 1)];
    case kLanguageEnglish:
      return kEnglish[std::size_t(index - 1)];
    default:
      return {};
  }
}

int FindMessageIndex(std::string_view text) {
  if (text.empty()) return -1;
  for (const TMessageRow* row : {&kItalian, &kEnglish}) {
    for (int index = 1; index <= kMessageCount; ++index) {
      if ((*row)[std::size_t(index - 1)] == text) return index;
    }
  }
  return -1;
}

}  // namespace mirte
