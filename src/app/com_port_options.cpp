#include "app/com_port_options.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QShowEvent>
#include <QSpinBox>
#include <QTimer>
#include <QStyle>
#include <QVBoxLayout>

#include <exception>
#include <set>
#include <string>

#include "app/apply_language.h"
#include "app/port_messages.h"
#include "common/port_texts.h"
#include "platform/com_devices.h"
#include "serial/port_list.h"

namespace mirte {
namespace {

constexpr int kTagCaption = 23;
constexpr int kTagComports = 24;
constexpr int kTagBauds = 25;
constexpr int kTagOK = 26;
constexpr int kTagCancel = 27;
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
  setFixedSize(kDesignSize);

  Comports = new QGroupBox("Selezione &Porta COM", this);
  Comports->setObjectName("Comports");
  SetTag(Comports, kTagComports);
  PortComboBox = new QComboBox(Comports);
  PortComboBox->setObjectName("PortComboBox");
  PortComboBox->setEditable(false);
  // The user's choice only: filling the list or preselecting an entry is not a change.
  connect(PortComboBox, &QComboBox::activated, this, &TComPortOptions::PortComboBoxChange);
  // Entries name their device and adapter: the list, not the narrow box, shows them whole.
  PortComboBox->setSizeAdjustPolicy(QComboBox::AdjustToContents);
  DeviceLb = new QLabel(Comports);
  DeviceLb->setObjectName("DeviceLb");
  DeviceLb->setWordWrap(false);
  ComNumberLb = new QLabel("come &COM", Comports);
  ComNumberLb->setObjectName("ComNumberLb");
  SetCaption(ComNumberLb, kAdapterComNumberLb, kLanguageItalian);
  ComNumberWn = new QSpinBox(Comports);
  ComNumberWn->setObjectName("ComNumberWn");
  ComNumberWn->setRange(1, kMaxListedComNumber);
  ComNumberLb->setBuddy(ComNumberWn);
  auto* numberLayout = new QHBoxLayout;
  numberLayout->addWidget(ComNumberLb);
  numberLayout->addWidget(ComNumberWn);
  ComNumberLb->hide();
  ComNumberWn->hide();
  auto* portLayout = new QVBoxLayout(Comports);
  portLayout->addWidget(PortComboBox);
  portLayout->addWidget(DeviceLb);
  portLayout->addLayout(numberLayout);
  AdapterTmr = new QTimer(this);
  AdapterTmr->setObjectName("AdapterTmr");
  AdapterTmr->setInterval(kAdapterScanMs);
  connect(AdapterTmr, &QTimer::timeout, this, &TComPortOptions::AddNewAdapters);

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
  comNotAvailable_ = portNotAvailable;

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
    for (const std::string& entry : devices.DeviceList) {
      const int number = ComNumberOfDeviceEntry(entry);
      PortComboBox->addItem(QString::fromStdString(entry) + DescribeComNumber(number), number);
    }
    AddNewAdapters();
  }

  AdapterTmr->start();
  Confirmed = exec() == QDialog::Accepted;
  AdapterTmr->stop();
  return Confirmed;
}

QString TComPortOptions::DescribeComNumber(int comNumber) const {
  const auto device = ComDevicePath(comNumber);
  const TSerialAdapter adapter = DescribeSerialDevice(device, DeviceRoots);
  QString text = QString::fromUtf8(" – ") + QString::fromStdString(device.string());
  if (!adapter.Product.empty() || !adapter.Serial.empty() || !adapter.Manufacturer.empty())
    text += QString::fromUtf8(" – ") + QString::fromStdString(adapter.Label());
  return text;
}

void TComPortOptions::AddNewAdapters() {
  // An adapter counts as named when a listed number already reaches its tty, or when it
  // is listed as a new adapter already.
  std::set<std::string> known;
  for (int i = 0; i < PortComboBox->count(); ++i) {
    const int number = PortComboBox->itemData(i).toInt();
    const std::string path = number > 0 ? ComDevicePath(number).string()
                                        : PortComboBox->itemData(i, kAdapterPathRole).toString().toStdString();
    const TSerialAdapter adapter = DescribeSerialDevice(path, DeviceRoots);
    known.insert(adapter.KernelName.empty() ? path : adapter.KernelName);
  }
  for (const TSerialAdapter& adapter : ListSerialAdapters(DeviceRoots)) {
    if (known.count(adapter.KernelName)) continue;
    known.insert(adapter.KernelName);
    const QString device = QString::fromStdString(adapter.Device.string());
    PortComboBox->addItem(PairText(kNewAdapterEntry, Language).arg(QString::fromStdString(adapter.Label()), device), 0);
    PortComboBox->setItemData(PortComboBox->count() - 1, device, kAdapterPathRole);
  }
  if (auto* list = PortComboBox->view()) list->setMinimumWidth(list->sizeHintForColumn(0) + 8);
  FitToContents();
}

void TComPortOptions::FitToContents() {
  // The window manager's title bar holds the icon and three buttons beside the caption.
  const int captionWidth = fontMetrics().horizontalAdvance(windowTitle()) + kTitleBarExtras;
  // The port list's box, with the margins of the dialog and of its group around it.
  const QMargins outer = layout()->contentsMargins();
  const QMargins group = Comports->layout()->contentsMargins();
  const int portsWidth = PortComboBox->sizeHint().width() + outer.left() + outer.right() + group.left() +
                         group.right() + 2 * Comports->style()->pixelMetric(QStyle::PM_DefaultFrameWidth);
  setFixedSize(sizeHint().expandedTo(kDesignSize).expandedTo(QSize(std::max(captionWidth, portsWidth), 0)));
}

void TComPortOptions::changeEvent(QEvent* event) {
  QDialog::changeEvent(event);
  if (event->type() == QEvent::FontChange || event->type() == QEvent::LanguageChange) FitToContents();
}

void TComPortOptions::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (!event->spontaneous()) {
    FitToContents();
    FormShow();
  }
}

void TComPortOptions::FormShow() {
  if (QScreen* screen = QGuiApplication::primaryScreen())
    move(screen->availableGeometry().center() - rect().center());
  ComNumberLb->hide();
  ComNumberWn->hide();
  if (ComPort.TapiMode() != tmOn && !comNotAvailable_) {
    PortComboBox->setCurrentIndex(ComPort.ComNumber() > 0 ? PortComboBox->findData(ComPort.ComNumber()) : -1);
    OKBtn->setEnabled(true);
  } else {
    PortComboBox->setCurrentIndex(-1);
    OKBtn->setEnabled(false);
  }
  ShowDevice(PortComboBox->currentIndex() >= 0 ? ComPort.ComNumber() : 0);
  PortComboBox->setFocus();
}

void TComPortOptions::PortComboBoxChange(int index) {
  const QString adapter = PortComboBox->itemData(index, kAdapterPathRole).toString();
  if (!adapter.isEmpty()) {
    ShowAdapter(adapter);
    OKBtn->setEnabled(true);
    return;
  }
  ComNumberLb->hide();
  ComNumberWn->hide();
  const std::string entry = PortComboBox->itemText(index).toStdString();
  if (entry.find(kDirectToComPrefix) == std::string::npos) {
    OKBtn->setEnabled(false);
    ShowDevice(0);
    return;
  }
  ComPort.SetTapiMode(tmOff);
  ComPort.SetComNumber(static_cast<std::uint16_t>(PortComboBox->itemData(index).toInt()));
  OKBtn->setEnabled(true);
  ShowDevice(ComPort.ComNumber());
}

void TComPortOptions::ShowDevice(int comNumber) {
  const QString path = comNumber > 0 ? QString::fromStdString(ComDevicePath(comNumber).string()) : QString();
  DeviceLb->setToolTip(path);
  const int width = DeviceLb->contentsRect().width() > 0 ? DeviceLb->contentsRect().width() : 150;
  DeviceLb->setText(DeviceLb->fontMetrics().elidedText(path, Qt::ElideMiddle, width));
}

void TComPortOptions::ShowAdapter(const QString& device) {
  DeviceLb->setToolTip(device);
  const int width = DeviceLb->contentsRect().width() > 0 ? DeviceLb->contentsRect().width() : 150;
  DeviceLb->setText(DeviceLb->fontMetrics().elidedText(device, Qt::ElideMiddle, width));
  const int free = FirstFreeComNumber(device.toStdString());
  ComNumberWn->setValue(free > 0 ? free : 17);
  ComNumberLb->show();
  ComNumberWn->show();
}

bool TComPortOptions::LinkChosenAdapter() {
  const QString device = PortComboBox->currentData(kAdapterPathRole).toString();
  const int number = ComNumberWn->value();
  const std::error_code error = LinkComDevice(number, device.toStdString());
  if (error) {
    const QString link = QString::fromStdString((ComDevicesFolder() / ("com" + std::to_string(number))).string());
    QMessageBox box(QMessageBox::Critical, "MIRTE",
                    PairText(kAdapterLinkFailed, Language).arg(link, QString::fromLocal8Bit(error.message().c_str())),
                    QMessageBox::Ok, this);
    box.exec();
    return false;
  }
  ComPort.SetTapiMode(tmOff);
  ComPort.SetComNumber(static_cast<std::uint16_t>(number));
  return true;
}

void TComPortOptions::OKBtnClick() {
  if (PortComboBox->currentIndex() >= 0 && !PortComboBox->currentData(kAdapterPathRole).toString().isEmpty() &&
      !LinkChosenAdapter())
    return;
  accept();
}

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
  options.Language = settings.Rec.Language;
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
      const TPortDiagnosis why = DiagnosePort(comPort.ComNumber());
      if (host.PortFailed) host.PortFailed(why);
      QMessageBox box(QMessageBox::Critical, "MIRTE", PortFailureMessage(why, settings.Rec.Language), QMessageBox::Ok,
                      options.parentWidget());
      box.exec();
    }
  }

  if (host.UpdateComInfo) host.UpdateComInfo();
  if (host.FocusTerminal) host.FocusTerminal();
}

}  // namespace mirte
