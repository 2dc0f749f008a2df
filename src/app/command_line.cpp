#include "app/command_line.h"

#include <string_view>

#include "common/settings.h"

namespace mirte {

std::optional<int> AnswerCommandLine(int argc, const char* const argv[], std::ostream& out) {
  if (argc < 2 || !argv[1]) return std::nullopt;
  const std::string_view first = argv[1];
  if (first == "--version") {
    out << "mirte " << kRelease << "\n";
    return 0;
  }
  if (first == "--help") {
    out << "Usage: mirte [--help | --version]\n"
           "Terminal, disk server and printer for a KTB board on a serial line, and the EPIX\n"
           "EPROM image builder. The port, the language and the folders are chosen in the\n"
           "program's windows and kept in its settings file.\n"
           "  --help     print this text and exit\n"
           "  --version  print the release and exit\n";
    return 0;
  }
  return std::nullopt;
}

}  // namespace mirte
