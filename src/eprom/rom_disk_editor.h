#pragma once
// What the EPIX window does with its composition, without the window: choosing the OS
// image and output file, adding, replacing and deleting ROM-disk files, and the checks on
// sizes, paths and names. The dialogs it needs are asked through IEpixDialogs, which the
// window implements with Qt and tests implement with scripted answers. Every refusal
// leaves the record exactly as it was.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "eprom/rd_rec.h"

namespace mirte {

class TSettings;

enum class TMsgIcon { Error, Warning };

struct TFileDialogSpec {
  int TitleMessage = 0;
  int FilterMessage = 0;
  std::string DefaultSuffix;  // without "*.", empty for none
  bool Save = false;          // save dialogs ask before replacing a file; open dialogs need one
  std::string PresetPath;     // file to preselect; empty to start in StartFolder
  std::string StartFolder;
};

class IEpixDialogs {
public:
  virtual ~IEpixDialogs() = default;
  // The chosen path, or nothing when the user cancelled.
  virtual std::optional<std::string> ChooseFile(const TFileDialogSpec& request, int language) = 0;
  // An open dialog that accepts several files at once; none when the user cancelled. By
  // default a dialog of one file.
  virtual std::vector<std::string> ChooseFiles(const TFileDialogSpec& request, int language) {
    auto one = ChooseFile(request, language);
    return one ? std::vector<std::string>{*one} : std::vector<std::string>{};
  }
  // One-line input preset with text; false when cancelled. Texts are UTF-8.
  virtual bool AskText(const std::string& caption, const std::string& prompt, std::string& text) = 0;
  virtual void ShowMessage(const std::string& text, TMsgIcon icon) = 0;
  // OK / Cancel question with a confirmation icon; true for OK.
  virtual bool Confirm(const std::string& text) = 0;
};

// The ROM-disk name proposed for a PC file: its 8.3 alias as the board would see it,
// empty when there is none.
std::string ProposedRomDiskName(const std::string& path);

// The filter text of a message ("desc|pattern|desc|pattern") as one entry per filter, each
// "desc (patterns)" as file dialogs expect; a description that already shows its
// patterns in parentheses is kept as it is.
std::string_view FilterMessageText(int language, int message);
std::vector<std::string> SplitFilter(std::string_view text);

class TRomDiskEditor {
public:
  TRomDiskEditor(const TSettings& settings, IEpixDialogs& dialogs);

  TRDRec RDRec;
  // Result of the last CalcRDFree: free bytes, or -1 when the files do not fit.
  std::int32_t BFree = 0;

  void InitRDRec();
  std::int32_t CalcRDFree();
  // Size the file will take (rounded when checking), or -1 when it cannot be opened or
  // is refused. index is -1 for a new entry, else the 1-based entry it would replace.
  std::int32_t ChkRDFile(const std::string& path, bool check, int index);
  // Asks for the ROM-disk name until a valid, unused one is confirmed; false on cancel.
  // name is Windows-1252, upper case, not padded. A non-empty forPath is shown above the
  // prompt, so that of several files each name is asked for knowingly.
  bool AskRDName(std::string& name, int index, const std::string& forPath = {});

  // Handlers. Each returns true when the record changed; the line to select afterwards
  // (0-based, -1 none) is given back through the pointer where it can change.
  bool ChooseSOLVFile();
  bool ChooseBinFile();
  // Adds every file chosen in one dialog, in order, asking each one's name in turn. A file
  // refused by its checks is skipped; Cancel on a name keeps the files named so far and
  // drops the rest, as does reaching 63 files (with a message).
  bool AddFile(int* newLine);
  bool ModifyFile(int selectedLine);
  bool DeleteFile(int selectedLine, int* newLine);
  bool DeleteAll();
  void SetEPROMType(int type);
  void SetQ17(bool on);

  struct TButtonStates {
    bool Make, Add, DelAll, Modify, Delete;
  };
  TButtonStates ButtonStates(int selectedLine);

  // Display texts (UTF-8).
  std::string ListLine(int index) const;  // 1-based entry
  std::string BoxCaption() const;
  int Language() const;
  std::string Text(int message) const;

private:
  std::optional<std::string> ChooseFile(const TFileDialogSpec& request);
  std::vector<std::string> ChooseFiles(const TFileDialogSpec& request);
  std::string WorkFolder() const;

  const TSettings& settings_;
  IEpixDialogs& dialogs_;
};

}  // namespace mirte
