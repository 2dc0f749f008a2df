#pragma once
// The command line of mirte-serve. Every option is checked for its form here (a COM number
// 1 to 50, a baud rate of the five, a drive letter A to P, no option twice where once is
// all that makes sense); whether a file, folder or port is usable is the server's check.
// An option left out falls back to the settings file.
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace mirte {

struct TServeOptions {
  std::string SettingsFile;  // empty: where the window finds its settings
  std::optional<int> ComNumber;
  std::string Device;  // a device path instead of a COM number
  std::optional<int> Baud;
  std::string Folder;  // the working folder
  std::vector<std::pair<char, std::string>> Drives;
  std::string ConsolePty;  // the link to the console's pseudo-terminal
  bool ConsoleStdio = false;
  bool Frames = false;
  std::string PdfFolder;  // where print jobs' PDF files go; empty: the working folder
  std::string Printer;    // a printer's name instead of PDF files
  bool Help = false;
};

// The options of argv[1..]; on a fault, nullopt and a one-line reason in `error`.
std::optional<TServeOptions> ParseServeOptions(const std::vector<std::string>& args, std::string& error);

// The usage text, several lines.
std::string ServeUsage();

}  // namespace mirte
