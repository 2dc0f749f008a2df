#pragma once
// The two arguments the program answers without opening a window: --help and --version
// print a short text and end the program. Anything else, and no argument, starts the
// window as before (the program is configured by its settings file, not by arguments).
#include <optional>
#include <ostream>

namespace mirte {

// The exit code when the first argument was answered here; nothing when the window starts.
std::optional<int> AnswerCommandLine(int argc, const char* const argv[], std::ostream& out);

}  // namespace mirte
