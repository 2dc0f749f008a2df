#pragma once
// The one QApplication of the terminal's Qt test executable, shared by its test files.
// It is never destroyed: tearing it down in the exit handlers races Qt's own globals.
#include <QApplication>

namespace mirte::testing {

inline QApplication& TerminalTestApp() {
  static int argc = 1;
  static char name[] = "terminal_qt_test";
  static char* argv[] = {name, nullptr};
  static QApplication* app = new QApplication(argc, argv);
  return *app;
}

}  // namespace mirte::testing
