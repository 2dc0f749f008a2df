#include "app/info_form.h"

#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <QVBoxLayout>

#include "app/apply_language.h"
#include "app/maker_logo.h"
#include "common/install_texts.h"
#include "common/msg_table.h"
#include "common/drive_texts.h"
#include "common/settings.h"

namespace mirte {

namespace {
constexpr int kTagInformation = 30;
constexpr int kTagRelease = 31;
constexpr int kTagOK = 26;
}  // namespace

TInfoFrm::TInfoFrm(QWidget* owner, std::function<void()> applyLanguageToWindows, const std::string& settingsPath)
    : QDialog(owner, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint),
      applyLanguage_(std::move(applyLanguageToWindows)) {
  setObjectName("InfoFrm");
  SetTag(this, kTagInformation);
  setWindowTitle("Informazioni");
  setFixedSize(328, 400);
  setAutoFillBackground(true);
  QPalette colours = palette();
  colours.setColor(QPalette::Window, Qt::white);
  setPalette(colours);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(16, 12, 16, 14);
  layout->setSpacing(10);
  auto* logo = new TMakerLogo(this, true);
  logo->setObjectName("LogoImg");
  logo->setMinimumHeight(120);
  layout->addWidget(logo, 1);

  QWidget* panel = NewProductPanel(this);
  auto* release = new QHBoxLayout;
  RelStrLb = new QLabel("Versione: ", panel);
  RelStrLb->setObjectName("RelStrLb");
  SetTag(RelStrLb, kTagRelease);
  RelStrLb->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  RelNumLb = new QLabel("?.??.?", panel);
  RelNumLb->setObjectName("RelNumLb");
  QFont bold = RelNumLb->font();
  bold.setBold(true);
  RelNumLb->setFont(bold);
  release->addWidget(RelStrLb, 1);
  release->addWidget(RelNumLb, 1);
  static_cast<QVBoxLayout*>(panel->layout())->addLayout(release);
  layout->addWidget(panel);

  SetFileStrLb = new QLabel(this);
  SetFileStrLb->setObjectName("SetFileStrLb");
  SetCaption(SetFileStrLb, kSettingsFileText, kLanguageItalian);
  SetFileLb = new QLabel(this);
  SetFileLb->setObjectName("SetFileLb");
  const QString path = QString::fromStdString(settingsPath);
  const int width = 328 - layout->contentsMargins().left() - layout->contentsMargins().right();
  SetFileLb->setText(SetFileLb->fontMetrics().elidedText(path, Qt::ElideMiddle, width));
  SetFileLb->setToolTip(path);
  // So the path can be copied into a file manager or a terminal.
  SetFileLb->setTextInteractionFlags(Qt::TextSelectableByMouse);
  layout->addWidget(SetFileStrLb);
  layout->addWidget(SetFileLb);
  WorkFolderStrLb = new QLabel(QString::fromUtf8(kWorkFolderText.Italian.data(), kWorkFolderText.Italian.size()), this);
  WorkFolderStrLb->setObjectName("WorkFolderStrLb");
  WorkFolderLb = new QLabel(this);
  WorkFolderLb->setObjectName("WorkFolderLb");
  WorkFolderLb->setWordWrap(true);
  WorkFolderLb->setTextInteractionFlags(Qt::TextSelectableByMouse);
  layout->addWidget(WorkFolderStrLb);
  layout->addWidget(WorkFolderLb);
  LineNoticeLb = new QLabel(this);
  LineNoticeLb->setObjectName("LineNoticeLb");
  LineNoticeLb->setWordWrap(true);
  // The udev rule in it is meant to be copied.
  LineNoticeLb->setTextInteractionFlags(Qt::TextSelectableByMouse);
  LineNoticeLb->hide();
  layout->addWidget(LineNoticeLb);

  OKBtn = new QPushButton("&OK", this);
  OKBtn->setObjectName("OKBtn");
  SetTag(OKBtn, kTagOK);
  OKBtn->setFixedSize(113, 33);
  OKBtn->setDefault(true);
  layout->addWidget(OKBtn, 0, Qt::AlignHCenter);
  connect(OKBtn, &QPushButton::clicked, this, &QDialog::accept);

  if (QScreen* screen = QGuiApplication::primaryScreen())
    move(screen->availableGeometry().center() - rect().center());
}

void TInfoFrm::SetWorkFolder(const QString& folder, int language) {
  SetCaption(WorkFolderStrLb, kWorkFolderText, language);
  WorkFolderLb->setText(folder);
}

void TInfoFrm::SetLineNotice(const QString& text) {
  if (text.isEmpty() || !LineNoticeLb->isHidden()) return;
  LineNoticeLb->setText(text);
  LineNoticeLb->show();
  setFixedSize(width(), height() + LineNoticeLb->heightForWidth(width() - 32) + 10);
}

void TInfoFrm::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (!event->spontaneous()) FormShow();
}

void TInfoFrm::FormShow() {
  RelNumLb->setText(kRelease);
  if (applyLanguage_) applyLanguage_();
}

}  // namespace mirte
