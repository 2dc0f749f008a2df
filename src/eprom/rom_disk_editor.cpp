#include "eprom/rom_disk_editor.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <filesystem>
#include <system_error>

#include "common/epix_texts.h"
#include "common/msg_table.h"
#include "common/settings.h"
#include "platform/code_page.h"
#include "platform/dos_files.h"

namespace mirte {

namespace {

// Length of a regular file, -1 when it cannot be opened. Opening never blocks on a pipe.
std::int64_t FileLength(const std::string& path) {
  int fd;
  do fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  while (fd < 0 && errno == EINTR);
  if (fd < 0) return -1;
  struct stat info {};
  const bool regular = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
  ::close(fd);
  return regular ? static_cast<std::int64_t>(info.st_size) : -1;
}

std::string Paragraph(const std::string& path, std::string_view message) {
  return ShortPath(path, 55) + "\n\n" + std::string(message);
}

}  // namespace

// The alias the board's file service would find the file by, so the user is offered what
// the board sees.
std::string ProposedRomDiskName(const std::string& path) { return UpperCp1252(Utf8ToCp1252(ShortFileName(path))); }

std::string_view FilterMessageText(int language, int message) { return MsgTable(language, message); }

std::vector<std::string> SplitFilter(std::string_view text) {
  std::vector<std::string> fields;
  std::size_t start = 0;
  while (start <= text.size()) {
    const auto bar = text.find('|', start);
    const auto end = bar == std::string_view::npos ? text.size() : bar;
    fields.emplace_back(text.substr(start, end - start));
    start = end + 1;
  }
  std::vector<std::string> filters;
  for (std::size_t i = 0; i + 1 < fields.size(); i += 2) {
    const std::string& description = fields[i];
    const std::string& patterns = fields[i + 1];
    if (patterns.empty()) continue;
    std::string lowerDescription = description;
    std::string lowerPatterns = "(" + patterns + ")";
    for (auto* s : {&lowerDescription, &lowerPatterns})
      std::transform(s->begin(), s->end(), s->begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    // The dialog reads the patterns from the parentheses, so a description must end with them.
    if (lowerDescription.size() >= lowerPatterns.size() &&
        lowerDescription.compare(lowerDescription.size() - lowerPatterns.size(), lowerPatterns.size(), lowerPatterns) == 0)
      filters.push_back(description);
    else
      filters.push_back(description + " (" + patterns + ")");
  }
  return filters;
}

TRomDiskEditor::TRomDiskEditor(const TSettings& settings, IEpixDialogs& dialogs)
    : settings_(settings), dialogs_(dialogs) {
  InitRDRec();
}

int TRomDiskEditor::Language() const { return settings_.Rec.Language; }

std::string TRomDiskEditor::Text(int message) const { return std::string(MsgTable(Language(), message)); }

std::string TRomDiskEditor::WorkFolder() const { return Cp1252ToUtf8(settings_.Rec.WorkFolder.Str()); }

void TRomDiskEditor::InitRDRec() {
  mirte::InitRDRec(RDRec);
  CalcRDFree();
}

std::int32_t TRomDiskEditor::CalcRDFree() {
  BFree = mirte::CalcRDFree(RDRec);
  return BFree;
}

std::int32_t TRomDiskEditor::ChkRDFile(const std::string& path, bool check, int index) {
  const std::int64_t length = FileLength(path);
  if (!check || length < 0) return length < 0 ? -1 : static_cast<std::int32_t>(std::min<std::int64_t>(length, INT32_MAX));
  const std::int32_t size = RoundToRecords(length);
  std::int64_t available = BFree;
  if (index >= 1 && index <= RDRec.FileCount) available += RDRec.Files[static_cast<std::size_t>(index - 1)].Size;
  if (available < size) {
    dialogs_.ShowMessage(Text(64), TMsgIcon::Error);
    return -1;
  }
  for (int i = 1; i <= RDRec.FileCount; ++i) {
    if (RDRec.Files[static_cast<std::size_t>(i - 1)].Path == path && i != index) {
      dialogs_.ShowMessage(Paragraph(path, Text(65)), TMsgIcon::Error);
      return -1;
    }
  }
  return size;
}

bool TRomDiskEditor::AskRDName(std::string& name, int index, const std::string& forPath) {
  const std::string prompt = forPath.empty() ? Text(69) : Paragraph(forPath, Text(69));
  for (;;) {
    const std::string before = name;
    std::string typed = Cp1252ToUtf8(name);
    if (!dialogs_.AskText(Text(68), prompt, typed)) return false;
    name = UpperCp1252(Utf8ToCp1252(typed));
    if (!ValidRomDiskName(name)) {
      dialogs_.ShowMessage(Text(70), TMsgIcon::Error);
      name = before;
      continue;
    }
    const std::string padded = PadRomDiskName(name);
    bool taken = false;
    for (int i = 1; i <= RDRec.FileCount && !taken; ++i)
      taken = i != index && RDRec.Files[static_cast<std::size_t>(i - 1)].Name == padded;
    if (taken) {
      dialogs_.ShowMessage(Text(71), TMsgIcon::Error);
      name = before;
      continue;
    }
    return true;
  }
}

std::optional<std::string> TRomDiskEditor::ChooseFile(const TFileDialogSpec& request) {
  // A dialog may move the process's current folder; nothing else in the program should
  // notice that it was shown.
  std::error_code ignored;
  const auto savedFolder = std::filesystem::current_path(ignored);
  auto chosen = dialogs_.ChooseFile(request, Language());
  if (!savedFolder.empty()) std::filesystem::current_path(savedFolder, ignored);
  if (!chosen || chosen->empty()) return std::nullopt;
  // Paths keep their case: the file system here tells TEST.SVX and test.svx apart.
  return std::filesystem::absolute(*chosen, ignored).lexically_normal().string();
}

std::vector<std::string> TRomDiskEditor::ChooseFiles(const TFileDialogSpec& request) {
  std::error_code ignored;
  const auto savedFolder = std::filesystem::current_path(ignored);
  auto chosen = dialogs_.ChooseFiles(request, Language());
  if (!savedFolder.empty()) std::filesystem::current_path(savedFolder, ignored);
  std::vector<std::string> paths;
  for (const std::string& path : chosen)
    if (!path.empty()) paths.push_back(std::filesystem::absolute(path, ignored).lexically_normal().string());
  return paths;
}

bool TRomDiskEditor::ChooseSOLVFile() {
  TFileDialogSpec request{47, 48, "BIN", false, RDRec.SOLVFile, RDRec.SOLVFile.empty() ? WorkFolder() : std::string()};
  const auto path = ChooseFile(request);
  if (!path) return false;
  if (ChkRDFile(*path, false, -1) > kMaxOSImageSize) {
    dialogs_.ShowMessage(Text(60), TMsgIcon::Error);
    return false;
  }
  if (*path == RDRec.BinFile) {
    dialogs_.ShowMessage(Paragraph(*path, Text(58)), TMsgIcon::Warning);
    return false;
  }
  RDRec.SOLVFile = *path;
  return true;
}

bool TRomDiskEditor::ChooseBinFile() {
  TFileDialogSpec request{56, 48, "", true, RDRec.BinFile, RDRec.BinFile.empty() ? WorkFolder() : std::string()};
  const auto path = ChooseFile(request);
  if (!path) return false;
  if (*path == RDRec.SOLVFile) {
    dialogs_.ShowMessage(Paragraph(*path, Text(57)), TMsgIcon::Warning);
    return false;
  }
  RDRec.BinFile = *path;
  return true;
}

bool TRomDiskEditor::AddFile(int* newLine) {
  if (RDRec.FileCount >= kMaxRomDiskFiles) return false;
  const std::vector<std::string> paths = ChooseFiles({72, 73, "SVX", false, "", WorkFolder()});
  // One file is asked for exactly as it always was; of several, each prompt names its file.
  const bool several = paths.size() > 1;
  bool added = false;
  for (const std::string& path : paths) {
    if (RDRec.FileCount >= kMaxRomDiskFiles) {
      dialogs_.ShowMessage(std::string(kRomDiskFullText.Pick(Language())), TMsgIcon::Warning);
      break;
    }
    const std::int32_t size = ChkRDFile(path, true, -1);
    if (size < 0) continue;
    std::string name = ProposedRomDiskName(path);
    if (!AskRDName(name, -1, several ? path : std::string())) break;
    RDRec.Files[RDRec.FileCount] = TDirList{path, PadRomDiskName(name), size};
    ++RDRec.FileCount;
    CalcRDFree();
    added = true;
    if (newLine) *newLine = RDRec.FileCount - 1;
  }
  return added;
}

bool TRomDiskEditor::ModifyFile(int selectedLine) {
  if (selectedLine < 0 || selectedLine >= RDRec.FileCount) return false;
  const int k = selectedLine + 1;
  TDirList& entry = RDRec.Files[static_cast<std::size_t>(selectedLine)];
  const auto path = ChooseFile({74, 73, "SVX", false, entry.Path, ""});
  if (!path) return false;
  const std::int32_t size = ChkRDFile(*path, true, k);
  if (size < 0) return false;
  std::string name = ProposedRomDiskName(*path);
  if (!AskRDName(name, k)) return false;
  entry = TDirList{*path, PadRomDiskName(name), size};
  CalcRDFree();
  return true;
}

bool TRomDiskEditor::DeleteFile(int selectedLine, int* newLine) {
  if (selectedLine < 0 || selectedLine >= RDRec.FileCount) return false;
  const int count = RDRec.FileCount;
  for (int i = selectedLine; i + 1 < count; ++i)
    RDRec.Files[static_cast<std::size_t>(i)] = std::move(RDRec.Files[static_cast<std::size_t>(i + 1)]);
  RDRec.Files[static_cast<std::size_t>(count - 1)] = TDirList{};
  RDRec.FileCount = static_cast<std::uint8_t>(count - 1);
  CalcRDFree();
  if (newLine) *newLine = std::min(selectedLine + 1, static_cast<int>(RDRec.FileCount)) - 1;
  return true;
}

bool TRomDiskEditor::DeleteAll() {
  if (!dialogs_.Confirm(Text(75))) return false;
  RDRec.FileCount = 0;
  RDRec.Files.fill(TDirList{});
  CalcRDFree();
  return true;
}

void TRomDiskEditor::SetEPROMType(int type) {
  if (type >= 0 && type < static_cast<int>(kEPROMTable.size())) RDRec.EPROMType = type;
  CalcRDFree();
}

void TRomDiskEditor::SetQ17(bool on) { RDRec.Q17 = on; }

TRomDiskEditor::TButtonStates TRomDiskEditor::ButtonStates(int selectedLine) {
  const bool any = RDRec.FileCount > 0;
  const bool selected = any && selectedLine >= 0 && selectedLine < RDRec.FileCount;
  return {!RDRec.SOLVFile.empty() && !RDRec.BinFile.empty() && CalcRDFree() != -1,
          RDRec.FileCount < kMaxRomDiskFiles, any, selected, selected};
}

std::string TRomDiskEditor::ListLine(int index) const {
  const TDirList& entry = RDRec.Files[static_cast<std::size_t>(index - 1)];
  return "N:" + Cp1252ToUtf8(PadRomDiskName(entry.Name)) + " = " + ShortPath(entry.Path, 52);
}

std::string TRomDiskEditor::BoxCaption() const {
  return " ROM-Disk: " + std::to_string(RDRec.FileCount) + " Files";
}

}  // namespace mirte
