#pragma once
// The serial port options: the user picks the COM port (only ports that exist are listed)
// and one of five baud rates; the rest of the line format is fixed (8 data bits, no
// parity, 2 stop bits, no flow control). The dialog lives for the whole run, hidden
// between uses, and carries settings in a port of its own that is never opened. Each
// "Direct to COM" + number entry says what stands behind the number (the device, and for
// a USB adapter its product and serial); adapters that no number names yet follow as
// entries of their own, and the list picks up adapters plugged in while it is open.
// Choosing such an adapter links a COM number to it in the COM device folder (the first
// free one from 17 up, or the one the user sets), so the settings keep a plain number.
// Captions are Italian until the language is applied; translatable components carry
// their message index in the property "Tag".
#include <QDialog>

#include <array>
#include <functional>

#include "common/msg_table.h"
#include "common/settings.h"
#include "board/board_window.h"
#include "platform/serial_adapters.h"
#include "serial/com_port.h"
#include "serial/port_diagnosis.h"

class QComboBox;
class QGroupBox;
class QLabel;
class QPushButton;
class QRadioButton;
class QSpinBox;
class QTimer;

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
  QLabel* ComNumberLb = nullptr;
  QSpinBox* ComNumberWn = nullptr;  // the number a new adapter is linked as
  QTimer* AdapterTmr = nullptr;     // looks for newly plugged adapters while open
  static constexpr int kAdapterScanMs = 1500;
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

  // Where adapters are looked for; tests give a /dev and /sys of their own.
  TDeviceRoots DeviceRoots;
  // The language of the texts the dialog builds itself (its entries, its messages).
  int Language = kLanguageEnglish;
  // Item data of an entry: its COM number, or for a new adapter 0 and the adapter's path.
  static constexpr int kAdapterPathRole = Qt::UserRole + 1;

protected:
  void showEvent(QShowEvent* event) override;
  // A new desktop font or language changes what the contents need.
  void changeEvent(QEvent* event) override;

private:
  void FormShow();
  void PortComboBoxChange(int index);
  void OKBtnClick();
  void CancelBtnClick();
  void ShowDevice(int comNumber);
  void ShowAdapter(const QString& device);
  void AddNewAdapters();
  // At least the design size, wider where the entries or the caption need it.
  void FitToContents();
  static constexpr QSize kDesignSize{185, 258};
  static constexpr int kTitleBarExtras = 110;
  QString DescribeComNumber(int comNumber) const;
  bool LinkChosenAdapter();

  bool comNotAvailable_ = false;
};

// What the port command needs from the main window besides the port and the settings.
struct TSelComHost {
  std::function<void()> UpdateComInfo;  // refresh the port panel of the status bar
  std::function<void()> FocusTerminal;
  std::function<void(const TPortDiagnosis&)> PortFailed;  // why the chosen port did not open
};

// "Serial Port...": closes the main port, runs the options on a copy of its settings,
// applies and saves a confirmed choice at once, then reopens the port unless it is marked
// not available. A port that does not open is closed again, marked not available and
// reported with the reason (missing, no permission, in use and by whom); one that opens
// has its DTR line inverted once.
void SelCOMCmdClick(TComPort& comPort, TComPortOptions& options, TSettings& settings, TShellFlags& flags,
                    const TSelComHost& host);

}  // namespace mirte
