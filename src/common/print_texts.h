#pragma once
// Texts of a print job that could not be saved as a file where it was meant to go, in both
// languages: the message naming the folder and the reason (and the file written instead,
// if any), the status bar's notice, and the reasons this program words itself. Any other
// reason is given as the system words it.
#include <cerrno>

#include "common/text_pair.h"

namespace mirte::print_texts {

// %1 the folder, %2 the reason.
inline constexpr TTextPair kJobNotWritten{"Impossibile scrivere la stampa nella cartella\n%1\n\n%2",
                                         "The print job could not be written in the folder\n%1\n\n%2"};
inline constexpr TTextPair kJobNotSaved{"Stampa non salvata", "Print job not saved"};
// Follows JobNotWritten when another folder took the job; %1 the file written.
inline constexpr TTextPair kJobSavedInstead{"La stampa \u00E8 stata salvata come\n%1",
                                           "The print job was saved as\n%1"};

inline constexpr TTextPair kDiskFull{"Il disco \u00E8 pieno.", "The disk is full."};
inline constexpr TTextPair kFileTooLarge{"Il file supera la dimensione consentita.",
                                        "The file is larger than allowed."};
inline constexpr TTextPair kNoPermission{"Non si ha il permesso di scrivere nella cartella.",
                                        "There is no permission to write in the folder."};
inline constexpr TTextPair kReadOnly{"Il disco \u00E8 di sola lettura.", "The disk is read-only."};
inline constexpr TTextPair kFolderMissing{"La cartella non esiste.", "The folder does not exist."};

// The reason for a system error number, or null for one the system's own text serves.
constexpr const TTextPair* PrintFailureReason(int error) {
  switch (error) {
    case ENOSPC:
    case EDQUOT: return &kDiskFull;
    case EFBIG: return &kFileTooLarge;
    case EACCES:
    case EPERM: return &kNoPermission;
    case EROFS: return &kReadOnly;
    case ENOENT:
    case ENOTDIR: return &kFolderMissing;
    default: return nullptr;
  }
}

}  // namespace mirte::print_texts
