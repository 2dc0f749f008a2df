#include "eprom/make_bin_window.h"

#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

#include "common/msg_table.h"
#include "common/settings.h"
#include "eprom/tag_captions.h"

namespace mirte {

TMkBinFrm::TMkBinFrm(const TSettings& settings, const TRDRec& rec, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint), settings_(settings), rec_(rec) {
  setObjectName("MkBinFrm");
  SetCaptionTag(this, 77);
  setWindowTitle(EpromText(kLanguageItalian, 77));

  PrcBar = new QProgressBar(this);
  PrcBar->setObjectName("PrcBar");
  PrcBar->setRange(0, 100);
  PrcBar->setValue(0);

  MsgLb = new QLabel(this);
  MsgLb->setObjectName("MsgLb");
  MsgLb->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  QFont bold = QFontDatabase::systemFont(QFontDatabase::FixedFont);
  bold.setBold(true);
  MsgLb->setFont(bold);
  MsgLb->setAutoFillBackground(true);
  QPalette palette = MsgLb->palette();
  palette.setColor(QPalette::Window, Qt::white);
  palette.setColor(QPalette::WindowText, Qt::black);
  MsgLb->setPalette(palette);
  MsgLb->setMinimumSize(QFontMetrics(bold).horizontalAdvance(QLatin1Char('X')) * 52, QFontMetrics(bold).height() + 10);

  StartBtn = new QPushButton(EpromText(kLanguageItalian, 76), this);
  StartBtn->setObjectName("StartBtn");
  SetCaptionTag(StartBtn, 76);
  StartBtn->setDefault(true);
  CancelBtn = new QPushButton(EpromText(kLanguageItalian, 27), this);
  CancelBtn->setObjectName("CancelBtn");
  SetCaptionTag(CancelBtn, 27);
  OKBtn = new QPushButton(EpromText(kLanguageItalian, 26), this);
  OKBtn->setObjectName("OKBtn");
  SetCaptionTag(OKBtn, 26);
  OKBtn->setEnabled(false);
  OKBtn->setVisible(false);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(StartBtn);
  buttons->addWidget(CancelBtn);
  buttons->addWidget(OKBtn);
  buttons->addStretch();
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(PrcBar);
  layout->addWidget(MsgLb);
  layout->addLayout(buttons);
  layout->setSizeConstraint(QLayout::SetFixedSize);

  connect(StartBtn, &QPushButton::clicked, this, &TMkBinFrm::StartBtnClick);
  connect(CancelBtn, &QPushButton::clicked, this, &TMkBinFrm::CancelBtnClick);
  connect(OKBtn, &QPushButton::clicked, this, &TMkBinFrm::OKBtnClick);
}

void TMkBinFrm::showEvent(QShowEvent* event) {
  RecaptionWindow(this, settings_.Rec.Language);
  if (QScreen* screen = this->screen()) move(screen->availableGeometry().center() - rect().center());
  QDialog::showEvent(event);
}

void TMkBinFrm::StartBtnClick() {
  if (running_ || !StartBtn->isEnabled()) return;
  running_ = true;
  StartBtn->setEnabled(false);
  CancelBtn->setEnabled(false);
  {
    TBinWriter writer(rec_, settings_.Rec.Language, *this);
    writer.MakeBIN();
  }
  running_ = false;
  StartBtn->setVisible(false);
  CancelBtn->setVisible(false);
  StartBtn->setDefault(false);
  OKBtn->setEnabled(true);
  OKBtn->setVisible(true);
  OKBtn->setDefault(true);
  OKBtn->setFocus();
}

void TMkBinFrm::CancelBtnClick() {
  if (CancelBtn->isEnabled() && CancelBtn->isVisible()) done(QDialog::Rejected);
}

void TMkBinFrm::OKBtnClick() {
  if (OKBtn->isEnabled()) done(QDialog::Accepted);
}

// Escape (or a window manager's close) leaves only before a build has started and
// after it has ended.
void TMkBinFrm::reject() {
  if (running_) return;
  if (OKBtn->isEnabled()) OKBtnClick();
  else CancelBtnClick();
}

void TMkBinFrm::SetProgressMax(std::int32_t max) { PrcBar->setMaximum(max); }

void TMkBinFrm::SetProgress(std::int32_t position) {
  PrcBar->setValue(position);
  PrcBar->repaint();
}

void TMkBinFrm::ShowMessage(const std::string& text, bool failed) {
  QPalette palette = MsgLb->palette();
  palette.setColor(QPalette::WindowText, failed ? Qt::red : Qt::black);
  MsgLb->setPalette(palette);
  MsgLb->setText(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
  MsgLb->repaint();
}

}  // namespace mirte
