#pragma once
// The Select Port dialog, shown when a port is opened without a port number: it lists
// "COM<n>" for every existing port 1 to 50 (probed when the dialog is created), selects
// the first, and answers the chosen number on OK. Each entry says what stands behind its
// number: the device and, for a USB adapter, its product and serial. Also the Qt side of the "Direct to COM"
// list: the probe runs under the hourglass cursor and handles events between ports.
#include <QDialog>

#include <string>
#include <vector>

#include "platform/serial_adapters.h"

class QComboBox;
class QFrame;
class QLabel;
class QPushButton;

namespace mirte {

class TComSelectForm : public QDialog {
  Q_OBJECT

public:
  // `roots`: where adapters are described from; tests give a /dev and /sys of their own.
  explicit TComSelectForm(QWidget* parent = nullptr, const TDeviceRoots& roots = {});

  // The number of the selected entry; 0 when the list is empty.
  int SelectedComNumber() const;

  QFrame* Bevel1;
  QLabel* Label1;
  QLabel* Label2;
  QComboBox* PortsComboBox;
  QPushButton* OkBtn;
  QPushButton* CancelBtn;
};

// Shows the dialog modally: the chosen number, or 0 when it was cancelled or closed.
// Suits TCustomComPort::SetPortPrompt.
int PromptForComPort(QWidget* parent = nullptr);

// The "Direct to COM<n>" entries for the port options dialog.
std::vector<std::string> BuildDirectToComList();

}  // namespace mirte
