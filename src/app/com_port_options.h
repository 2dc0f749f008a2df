#pragma once
// The serial port options: the user picks the COM port (only ports that exist are listed)
// and one of five baud rates; the rest of the line format is fixed (8 data bits, no
// parity, 2 stop bits, no flow control). The dialog lives for the whole run, hidden
// between uses, and carries settings in a port of its own that is never opened. Under the
// port list a line shows which device the selected number stands for; the entries
// themselves stay "Direct to COM" + number. Captions are Italian until the language is
// applied; translatable components carry their message index in the property "Tag".
#include <QDialog>

#include <array>
#include <functional>

#include "common/settings.h"
#include "board/board_window.h"
#include "serial/com_port.h"

class QComboBox;
class QGroupBox;
class QLabel;
class QPushButton;
class QRadioButton;

namespace mirte {

class TComPortOptions : public QDialog {
  Q_OBJECT

public:
  explicit TComPortOptions(QWidget* owner = nullptr);

  // The carrier of settings between the main port and the dialog; never opened.
  TComPort ComPort;
  // True when the last showing ended with OK.
  bool Confirmed = false;

  QGroupBox* Comports = nullptr;
  QComboBox* PortComboBox = nullptr;
  QLabel* DeviceLb = nullptr;
  QGroupBox* Bauds = nullptr;
  std::array<QRadioButton*, 5> BaudBtn{};  // in the order of kBaudTable
  QPushButton* OKBtn = nullptr;
  QPushButton* CancelBtn = nullptr;

  // Copies the main port's settings into the carrier (nothing when it is the carrier).
  void AssignPort(const TComPort& source);
  // Preselects the baud rate, lists the existing ports (hourglass cursor, events handled
  // between probes) and runs the dialog modally. `comNotAvailable` tells whether the main
  // port failed: then nothing is preselected and OK waits for a choice. True when
  // confirmed.
  bool Execute(bool comNotAvailable);
  // Completes the carrier from the choice (baud rate, fixed line format) and copies it
  // into `target`.
  void GetPort(TComPort& target);

  // The index of the checked baud button, -1 when none is.
  int BaudIndex() const;

protected:
  void showEvent(QShowEvent* event) override;

private:
  void FormShow();
  void PortComboBoxChange(int index);
  void OKBtnClick();
  void CancelBtnClick();
  void ShowDevice(int comNumber);

  bool comNotAvailable = false;
};

// What the port command needs from the main window besides the port and the settings.
struct TSelComHost {
  std::function<void()> UpdateComInfo;  // refresh the port panel of the status bar
  std::function<void()> FocusTerminal;
};

// "Serial Port...": closes the main port, runs the options on a copy of its settings,
// applies and saves a confirmed choice at once, then reopens the port unless it is marked
// not available. A port that does not open is closed again, marked not available and
// reported with message 87; one that opens has its DTR line inverted once.
void SelCOMCmdClick(TComPort& comPort, TComPortOptions& options, TSettings& settings, TShellFlags& flags,
                    const TSelComHost& host);

}  // namespace mirte
