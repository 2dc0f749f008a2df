#include "serve/serve_options.h"

#include <cctype>
#include <charconv>

#include "common/settings.h"

namespace mirte {

namespace {

bool ParseNumber(const std::string& text, int& value) {
  const char* end = text.data() + text.size();
  auto [at, fault] = std::from_chars(text.data(), end, value);
  return fault == std::errc() && at == end && !text.empty();
}

bool ParseComNumber(std::string text, int& number) {
  if (text.size() > 3 && std::toupper(static_cast<unsigned char>(text[0])) == 'C' &&
      std::toupper(static_cast<unsigned char>(text[1])) == 'O' &&
      std::toupper(static_cast<unsigned char>(text[2])) == 'M')
    text.erase(0, 3);
  if (!text.empty() && text.back() == ':') text.pop_back();
  return ParseNumber(text, number) && number >= 1 && number <= 50;
}

bool KnownBaud(int baud) {
  for (std::uint16_t tenth : kBaudTable)
    if (baud == tenth * 10) return true;
  return false;
}

}  // namespace

std::string ServeUsage() {
  return "usage: mirte-serve [--settings FILE] [--port COMn | --device PATH] [--baud N] [--folder DIR]\n"
         "                   [--drive X=DIR]... [--console-pty LINK | --console-stdio] [--frames]\n"
         "                   [--print-to-pdf DIR | --printer NAME]\n";
}

std::optional<TServeOptions> ParseServeOptions(const std::vector<std::string>& args, std::string& error) {
  TServeOptions options;
  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string name = args[i];
    std::string value;
    bool inlineValue = false;
    if (auto eq = name.find('='); name.rfind("--", 0) == 0 && eq != std::string::npos) {
      value = name.substr(eq + 1);
      name.erase(eq);
      inlineValue = true;
    }
    auto takeValue = [&]() -> bool {
      if (inlineValue) return true;
      if (i + 1 >= args.size()) {
        error = name + " needs a value";
        return false;
      }
      value = args[++i];
      return true;
    };
    auto once = [&](bool alreadySet) {
      if (alreadySet) error = name + " given twice";
      return !alreadySet;
    };

    if (name == "--help" || name == "-h") {
      options.Help = true;
    } else if (name == "--console-stdio" || name == "--frames") {
      if (inlineValue) {
        error = name + " takes no value";
        return std::nullopt;
      }
      (name == "--frames" ? options.Frames : options.ConsoleStdio) = true;
    } else if (name == "--settings" || name == "--device" || name == "--folder" || name == "--console-pty" ||
               name == "--print-to-pdf" || name == "--printer") {
      if (!takeValue()) return std::nullopt;
      if (value.empty()) {
        error = name + " needs a value";
        return std::nullopt;
      }
      std::string& field = name == "--settings"       ? options.SettingsFile
                           : name == "--device"       ? options.Device
                           : name == "--folder"       ? options.Folder
                           : name == "--console-pty"  ? options.ConsolePty
                           : name == "--print-to-pdf" ? options.PdfFolder
                                                      : options.Printer;
      if (!once(!field.empty())) return std::nullopt;
      field = value;
    } else if (name == "--port") {
      if (!takeValue()) return std::nullopt;
      int number = 0;
      if (!ParseComNumber(value, number)) {
        error = "--port: \"" + value + "\" is not COM1 to COM50";
        return std::nullopt;
      }
      if (!once(options.ComNumber.has_value())) return std::nullopt;
      options.ComNumber = number;
    } else if (name == "--baud") {
      if (!takeValue()) return std::nullopt;
      int baud = 0;
      if (!ParseNumber(value, baud) || !KnownBaud(baud)) {
        error = "--baud: \"" + value + "\" is not one of 9600, 19200, 38400, 57600, 115200";
        return std::nullopt;
      }
      if (!once(options.Baud.has_value())) return std::nullopt;
      options.Baud = baud;
    } else if (name == "--drive") {
      if (!takeValue()) return std::nullopt;
      const char letter = static_cast<char>(std::toupper(static_cast<unsigned char>(value.empty() ? 0 : value[0])));
      if (value.size() < 3 || value[1] != '=' || letter < 'A' || letter > 'P') {
        error = "--drive: \"" + value + "\" is not X=DIR with X from A to P";
        return std::nullopt;
      }
      options.Drives.emplace_back(letter, value.substr(2));
    } else {
      error = "unknown option \"" + args[i] + "\"";
      return std::nullopt;
    }
  }
  if (options.ComNumber && !options.Device.empty()) {
    error = "--port and --device exclude each other";
    return std::nullopt;
  }
  if (options.ConsoleStdio && !options.ConsolePty.empty()) {
    error = "--console-pty and --console-stdio exclude each other";
    return std::nullopt;
  }
  if (!options.PdfFolder.empty() && !options.Printer.empty()) {
    error = "--print-to-pdf and --printer exclude each other";
    return std::nullopt;
  }
  return options;
}

}  // namespace mirte
