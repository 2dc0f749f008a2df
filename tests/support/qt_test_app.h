#pragma once
// The one QApplication of a Qt test executable, made on first use. It is never destroyed:
// tearing Qt down among the process's static destructors crashes once a modal dialog has
// run or Qt's test input devices exist.
#include <QApplication>

namespace mirte::testing {

inline QApplication& TestApp() {
  static int argc = 1;
  static char name[] = "mirte_qt_test";
  static char* argv[] = {name, nullptr};
  static QApplication* app = new QApplication(argc, argv);
  return *app;
}

}  // namespace mirte::testing
