#include "serial/com_select_form.h"

#include <QApplication>
#include <QComboBox>
#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QAbstractItemView>
#include <QScreen>

#include "platform/com_devices.h"
#include "serial/port_list.h"

namespace mirte {

TComSelectForm::TComSelectForm(QWidget* parent, const TDeviceRoots& roots)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint) {
  setWindowTitle("Select Port");
  QFont font("MS Sans Serif");
  font.setPointSize(8);
  setFont(font);
  setFixedSize(220, 131);

  Bevel1 = new QFrame(this);
  Bevel1->setObjectName("Bevel1");
  Bevel1->setFrameShape(QFrame::Box);
  Bevel1->setFrameShadow(QFrame::Sunken);
  Bevel1->setGeometry(8, 8, 201, 42);

  Label1 = new QLabel("The configured serial port is not valid.", this);
  Label1->setObjectName("Label1");
  Label1->move(18, 14);
  Label1->adjustSize();
  Label2 = new QLabel("Please choose another port.", this);
  Label2->setObjectName("Label2");
  Label2->move(18, 30);
  Label2->adjustSize();

  PortsComboBox = new QComboBox(this);
  PortsComboBox->setObjectName("PortsComboBox");
  PortsComboBox->setEditable(false);
  PortsComboBox->setGeometry(8, 64, 201, PortsComboBox->sizeHint().height());

  OkBtn = new QPushButton("OK", this);
  OkBtn->setObjectName("OkBtn");
  OkBtn->setGeometry(8, 95, 85, 27);
  OkBtn->setDefault(true);
  CancelBtn = new QPushButton("Cancel", this);
  CancelBtn->setObjectName("CancelBtn");
  CancelBtn->setGeometry(124, 95, 85, 27);
  connect(OkBtn, &QPushButton::clicked, this, &QDialog::accept);
  connect(CancelBtn, &QPushButton::clicked, this, &QDialog::reject);

  // The box is narrow; its list opens as wide as the entries need.
  PortsComboBox->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
  for (const auto& entry : AvailableComEntries()) {
    const int number = ComNumberOfSelectEntry(entry);
    const auto device = ComDevicePath(number);
    const TSerialAdapter adapter = DescribeSerialDevice(device, roots);
    QString text = QString::fromStdString(entry) + QString::fromUtf8(" \u2013 ") + QString::fromStdString(device.string());
    if (!adapter.Product.empty() || !adapter.Serial.empty() || !adapter.Manufacturer.empty())
      text += QString::fromUtf8(" \u2013 ") + QString::fromStdString(adapter.Label());
    PortsComboBox->addItem(text, number);
  }
  if (auto* list = PortsComboBox->view()) list->setMinimumWidth(list->sizeHintForColumn(0) + 8);
  if (PortsComboBox->count() > 0) PortsComboBox->setCurrentIndex(0);

  if (auto* screen = QGuiApplication::primaryScreen()) {
    QRect area = screen->availableGeometry();
    move(area.center() - rect().center());
  }
}

int TComSelectForm::SelectedComNumber() const {
  if (PortsComboBox->currentIndex() < 0) return 0;
  return PortsComboBox->currentData().toInt();
}

int PromptForComPort(QWidget* parent) {
  TComSelectForm form(parent);
  if (form.exec() != QDialog::Accepted) return 0;
  return form.SelectedComNumber();
}

std::vector<std::string> BuildDirectToComList() {
  QGuiApplication::setOverrideCursor(Qt::WaitCursor);
  TDeviceSelectionForm form;
  form.EnumAllPorts([] { QCoreApplication::processEvents(); });
  QGuiApplication::restoreOverrideCursor();
  return form.DeviceList;
}

}  // namespace mirte
