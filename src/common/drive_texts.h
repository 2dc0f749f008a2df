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
inline constexpr TTextPair kWhyGeneratedAlias{"nome non 8.3: la scheda lo vede come ", "not an 8.3 name: the board sees it as "};

}  // namespace mirte
