#pragma once
// The one QApplication of a Qt test executable, made on first use. It is never destroyed:
// tearing Qt down among the process's static destructors crashes once a modal dialog has
// run or Qt's test input devices exist. What Qt and the windows under test keep per user
// (Qt's file dialog state, settings of a program folder that holds none) goes to one
// config folder of the tests' own, never to the real home. Qt writes there even while the
// process ends, so the folder is shared by every test run rather than removed.
#include <QApplication>

#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace mirte::testing {

inline QApplication& TestApp() {
  static int argc = 1;
  static char name[] = "mirte_qt_test";
  static char* argv[] = {name, nullptr};
  static const bool privateConfig = [] {
    const auto folder = std::filesystem::temp_directory_path() / "mirte-test-config";
    std::error_code ignored;
    std::filesystem::create_directories(folder, ignored);
    return ::setenv("XDG_CONFIG_HOME", folder.c_str(), 1) == 0;
  }();
  (void)privateConfig;
  static QApplication* app = new QApplication(argc, argv);
  return *app;
}

}  // namespace mirte::testing
