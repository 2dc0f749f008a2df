#include "app/com_port_options.h"

#include <QApplication>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QShowEvent>
#include <QVBoxLayout>

#include <exception>
#include <string>

#include "app/apply_language.h"
#include "platform/com_devices.h"
#include "serial/port_list.h"

namespace mirte {
namespace {

constexpr int kTagCaption = 23;
constexpr int kTagComports = 24;
constexpr int kTagBauds = 25;
constexpr int kTagOK = 26;
constexpr int kTagCancel = 27;
constexpr int kMsgPortInUse = 87;
constexpr const char* kBaudCaptions[5] = {"9600", "19200", "38400", "57600", "115200"};

// The hourglass for as long as the port list is being probed, whatever happens meanwhile.
class WaitCursor {
public:
  WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
  ~WaitCursor() { QApplication::restoreOverrideCursor(); }
  WaitCursor(const WaitCursor&) = delete;
  WaitCursor& operator=(const WaitCursor&) = delete;
};

}  // namespace

TComPortOptions::TComPortOptions(QWidget* owner) : QDialog(owner) {
  setObjectName("ComPortOptions");
  SetTag(this, kTagCaption);
  setWindowTitle("Porta Seriale");
  setFixedSize(185, 258);

  Comports = new QGroupBox("Selezione &Porta COM", this);
  Comports->setObjectName("Comports");
  SetTag(Comports, kTagComports);
  PortComboBox = new QComboBox(Comports);
  PortComboBox->setObjectName("PortComboBox");
  PortComboBox->setEditable(false);
  // The user's choice only: filling the list or preselecting an entry is not a change.
  connect(PortComboBox, &QComboBox::activated, this, &TComPortOptions::PortComboBoxChange);
  DeviceLb = new QLabel(Comports);
  DeviceLb->setObjectName("DeviceLb");
  auto* portLayout = new QVBoxLayout(Comports);
  portLayout->addWidget(PortComboBox);
  portLayout->addWidget(DeviceLb);

  Bauds = new QGroupBox("&Baud Rate:", this);
  Bauds->setObjectName("Bauds");
  SetTag(Bauds, kTagBauds);
  auto* baudLayout = new QGridLayout(Bauds);
  // Two columns, filled column by column: 9600 19200 38400 | 57600 115200.
  for (int i = 0; i < 5; ++i) {
    BaudBtn[i] = new QRadioButton(kBaudCaptions[i], Bauds);
    baudLayout->addWidget(BaudBtn[i], i % 3, i / 3);
  }

  OKBtn = new QPushButton("&OK", this);
  OKBtn->setObjectName("OKBtn");
  SetTag(OKBtn, kTagOK);
  OKBtn->setDefault(true);
  connect(OKBtn, &QPushButton::clicked, this, &TComPortOptions::OKBtnClick);
  CancelBtn = new QPushButton("&Annulla", this);
  CancelBtn->setObjectName("CancelBtn");
  SetTag(CancelBtn, kTagCancel);
  connect(CancelBtn, &QPushButton::clicked, this, &TComPortOptions::CancelBtnClick);

  auto* buttons = new QHBoxLayout;
  buttons->addWidget(OKBtn);
  buttons->addWidget(CancelBtn);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(Comports);
  layout->addWidget(Bauds);
  layout->addLayout(buttons);
}

void TComPortOptions::AssignPort(const TComPort& source) {
  if (&source == &ComPort) return;
  ComPort.Assign(source);
}

int TComPortOptions::BaudIndex() const {
  for (int i = 0; i < 5; ++i)
    if (BaudBtn[i]->isChecked()) return i;
  return -1;
}

bool TComPortOptions::Execute(bool portNotAvailable) {
  comNotAvailable = portNotAvailable;

  BaudBtn[1]->setChecked(true);
  const auto tenth = static_cast<std::uint16_t>(ComPort.Baud() / 10);
  for (int i = 0; i < 5; ++i) {
    if (kBaudTable[i] == tenth) {
      BaudBtn[i]->setChecked(true);
      break;
    }
  }

  PortComboBox->clear();
  {
    WaitCursor hourglass;
    TDeviceSelectionForm devices;
    devices.EnumAllPorts([] { QCoreApplication::processEvents(); });
    for (const std::string& entry : devices.DeviceList) PortComboBox->addItem(QString::fromStdString(entry));
  }

  Confirmed = exec() == QDialog::Accepted;
  return Confirmed;
}

void TComPortOptions::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (!event->spontaneous()) FormShow();
}

void TComPortOptions::FormShow() {
  if (QScreen* screen = QGuiApplication::primaryScreen())
    move(screen->availableGeometry().center() - rect().center());
  if (ComPort.TapiMode() != tmOn && !comNotAvailable) {
    const QString wanted = QString::fromStdString(DirectToComEntry(ComPort.ComNumber()));
    PortComboBox->setCurrentIndex(PortComboBox->findText(wanted, Qt::MatchExactly));
    OKBtn->setEnabled(true);
  } else {
    PortComboBox->setCurrentIndex(-1);
    OKBtn->setEnabled(false);
  }
  ShowDevice(PortComboBox->currentIndex() >= 0 ? ComPort.ComNumber() : 0);
  PortComboBox->setFocus();
}

void TComPortOptions::PortComboBoxChange(int index) {
  const std::string entry = PortComboBox->itemText(index).toStdString();
  if (entry.find(DirectToComPrefix) == std::string::npos) {
    OKBtn->setEnabled(false);
    ShowDevice(0);
    return;
  }
  ComPort.SetTapiMode(tmOff);
  ComPort.SetComNumber(static_cast<std::uint16_t>(ComNumberOfDeviceEntry(entry)));
  OKBtn->setEnabled(true);
  ShowDevice(ComPort.ComNumber());
}

void TComPortOptions::ShowDevice(int comNumber) {
  const QString path = comNumber > 0 ? QString::fromStdString(ComDevicePath(comNumber).string()) : QString();
  DeviceLb->setToolTip(path);
  const int width = DeviceLb->contentsRect().width() > 0 ? DeviceLb->contentsRect().width() : 150;
  DeviceLb->setText(DeviceLb->fontMetrics().elidedText(path, Qt::ElideMiddle, width));
}

void TComPortOptions::OKBtnClick() { accept(); }

void TComPortOptions::CancelBtnClick() { reject(); }

void TComPortOptions::GetPort(TComPort& target) {
  const int index = BaudIndex();
  if (index >= 0) ComPort.SetBaud(kBaudTable[index] * 10);
  ComPort.SetParity(pNone);
  ComPort.SetDataBits(8);
  ComPort.SetStopBits(2);
  ComPort.SetHWFlowOptions(0);
  ComPort.SetSWFlowOptions(swfNone);
  if (&target != &ComPort) target.Assign(ComPort);
}

void SelCOMCmdClick(TComPort& comPort, TComPortOptions& options, TSettings& settings, TShellFlags& flags,
                    const TSelComHost& host) {
  comPort.SetOpen(false);
  options.AssignPort(comPort);
  if (options.Execute(flags.ComNotAvailable)) {
    options.GetPort(comPort);
    settings.Rec.ComNumber = comPort.ComNumber();
    settings.Rec.Baud = comPort.Baud();
    flags.ComNotAvailable = false;
    settings.SaveSettings();
  }

  if (!flags.ComNotAvailable) {
    bool opened = false;
    try {
      comPort.SetOpen(true);
      opened = true;
      comPort.SetDTR(!comPort.DTR());
    } catch (const std::exception&) {
      // Busy, vanished or refused: the user hears about it below.
    }
    if (!opened) {
      try {
        comPort.SetOpen(false);
      } catch (const std::exception&) {
        // Closing a port that never opened has nothing left to undo.
      }
      flags.ComNotAvailable = true;
      QMessageBox box(QMessageBox::Critical, "MIRTE", MsgText(settings.Rec.Language, kMsgPortInUse), QMessageBox::Ok,
                      options.parentWidget());
      box.exec();
    }
  }

  if (host.UpdateComInfo) host.UpdateComInfo();
  if (host.FocusTerminal) host.FocusTerminal();
}

}  // namespace mirte
