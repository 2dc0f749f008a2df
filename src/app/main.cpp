// MIRTE: the splash and the main window with its start-up, the port options and EPIX
// windows created hidden, then the event loop until the program is ended. Only --help
// and --version are answered; its configuration is its settings file.
#include <QApplication>
#include <iostream>

#include "app/command_line.h"

#include <cstdio>
#include <cstdlib>

#include "app/maker_logo.h"
#include "app/signal_exit.h"
#include "app/term_form.h"

int main(int argc, char* argv[]) {
  if (auto answered = mirte::AnswerCommandLine(argc, argv, std::cout)) return *answered;
  // Qt's own dialogs speak the language chosen in MIRTE; a desktop's native ones would
  // speak the desktop's.
  QApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
  QApplication app(argc, argv);
  QApplication::setApplicationName("MIRTE");
  // So that the desktop finds the menu entry, and its icon, for the program's windows.
  QApplication::setDesktopFileName(MIRTE_APP_ID);
  QApplication::setWindowIcon(mirte::ProductIcon());
  // Closing the main window ends the program even while the EPIX window is open.
  QApplication::setQuitOnLastWindowClosed(false);

  // A signal during the start-up (the splash's wait) finds nothing open yet: the program
  // simply ends, at once.
  mirte::TSignalExit endOnSignal([] {
    std::fflush(nullptr);
    std::_Exit(0);
  });
  mirte::TTermFrm TermFrm;
  TermFrm.CreateToolWindows();
  TermFrm.show();
  // Log-out and kill end the program as Exit does, so that nothing in progress is lost.
  endOnSignal.SetOnSignal([&TermFrm] { TermFrm.ExitCmdClick(); });
  return QApplication::exec();
}
