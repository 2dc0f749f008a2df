#pragma once
// Texts about the board's drives and the working folder, in both languages.
#include "common/text_pair.h"

namespace mirte {

inline constexpr TTextPair kWorkFolderText{"Cartella di lavoro:", "Working folder:"};

// The Drives window and its menu item.
inline constexpr TTextPair kDrivesCmdText{"&Unità…", "&Drives…"};
inline constexpr TTextPair kDrivesTitle{"Unità della scheda", "Board drives"};
inline constexpr TTextPair kDriveColumn{"Unità", "Drive"};
inline constexpr TTextPair kFolderColumn{"Cartella", "Folder"};
inline constexpr TTextPair kWorkColumn{"Lavoro", "Working"};
inline constexpr TTextPair kWorkMark{"cartella di lavoro", "working folder"};
inline constexpr TTextPair kNoFolder{"—", "—"};
inline constexpr TTextPair kMissingFolder{"mancante: ", "missing: "};
inline constexpr TTextPair kChooseBtnText{"&Scegli…", "&Choose…"};
inline constexpr TTextPair kRemoveBtnText{"&Rimuovi", "&Remove"};
inline constexpr TTextPair kCloseBtnText{"Chiudi", "Close"};
inline constexpr TTextPair kChooseDriveTitle{"Cartella per l'unità ", "Folder for drive "};

// A folder that would hand the board the whole system or the kernel's own files: never a
// drive and never the working folder. %1 is the folder.
inline constexpr TTextPair kRefusedFolderText{
    "La scheda non può usare la cartella %1: è la radice del sistema, /run, o una cartella sotto /proc, /sys o /dev.",
    "The board may not use the folder %1: it is the system's root, /run, or a folder under /proc, /sys or /dev."};
inline constexpr TTextPair kRefusedLinkMark{"rifiutata (cartella del sistema): ", "refused (a system folder): "};

// The board's view of a drive's current folder.
inline constexpr TTextPair kBoardViewText{"Ciò che la scheda vede in ", "What the board sees in "};
inline constexpr TTextPair kBoardNameColumn{"Nome per la scheda", "Board name"};
inline constexpr TTextPair kPcNameColumn{"Nome sul PC", "PC name"};
inline constexpr TTextPair kRecordsColumn{"Record", "Records"};
inline constexpr TTextPair kReadOnlyColumn{"Sola lettura", "Read-only"};
inline constexpr TTextPair kReadOnlyMark{"sì", "yes"};
inline constexpr TTextPair kApartText{"Non raggiungibili dalla scheda", "Out of the board's reach"};
inline constexpr TTextPair kWhyColumn{"Perché", "Why"};
inline constexpr TTextPair kWhyFolder{"cartella", "folder"};
inline constexpr TTextPair kWhyLink{"collegamento", "link"};
inline constexpr TTextPair kWhyHidden{"file nascosto", "hidden file"};
inline constexpr TTextPair kWhyNotRegular{"non è un file normale", "not a plain file"};
inline constexpr TTextPair kWhyProgramFile{"file del programma", "the program's own file"};
// A file with other hard links is another file's name too: the board writes it only on a
// drive where the user allowed that. %1 is the number of links.
inline constexpr TTextPair kLinkedReadOnlyMark{"sì: %1 collegamenti fisici", "yes: %1 hard links"};
inline constexpr TTextPair kLinkedWritableMark{"no: %1 collegamenti fisici, scrivibili su questa unità",
                                               "no: %1 hard links, writable on this drive"};
inline constexpr TTextPair kLinksWritableText{"La scheda può scrivere i file con più collegamenti fisici",
                                              "The board may write files with more than one hard link"};
inline constexpr TTextPair kLinksWritableTip{
    "Un file con più collegamenti fisici è anche un file altrove: di norma la scheda può solo leggerlo.",
    "A file with more than one hard link is also a file elsewhere: normally the board may only read it."};
// %1 is the file the choice is kept in.
inline constexpr TTextPair kDriveOptionsNotSaved{"Impossibile salvare la scelta in %1.", "The choice could not be saved in %1."};
// While a large folder is being read, and when it has more files than the view shows.
inline constexpr TTextPair kListingText{"Lettura della cartella: %1 voci…", "Reading the folder: %1 entries…"};
inline constexpr TTextPair kMoreRowsText{"… e altri %1", "… and %1 more"};
inline constexpr TTextPair kWhyGeneratedAlias{"nome non 8.3: la scheda lo vede come ", "not an 8.3 name: the board sees it as "};

}  // namespace mirte
