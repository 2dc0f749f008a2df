#include "app/user_strings_form.h"

#include <QAction>
#include <QCheckBox>
#include <QFontDatabase>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <QValidator>

#include <memory>

#include "app/apply_language.h"
#include "app/user_string_items.h"
#include "platform/code_page.h"

namespace mirte {
namespace {

constexpr int kTagEditorCaption = 35;
constexpr int kTagOK = 26;
constexpr int kTagCancel = 27;

// Refuses any edit that would leave a character Windows-1252 cannot hold: the strings
// travel to the board and into the settings file as single bytes.
class Cp1252Validator : public QValidator {
public:
  using QValidator::QValidator;
  State validate(QString& input, int&) const override {
    return FitsCp1252(input.toStdString()) ? Acceptable : Invalid;
  }
};

QString TwoDigitName(const char* prefix, int n, const char* suffix) {
  return QString::asprintf("%s%02d%s", prefix, n, suffix);
}

std::string Cut(std::string bytes) {
  if (bytes.size() > kUserStringMax) bytes.resize(kUserStringMax);
  return bytes;
}

}  // namespace

TStrFrm::TStrFrm(QWidget* owner, SettingsRec& settingsRec, std::function<void()> applyLanguageToWindows)
    : QDialog(owner, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint),
      settings_(settingsRec),
      applyLanguage_(std::move(applyLanguageToWindows)) {
  setObjectName("StrFrm");
  SetTag(this, kTagEditorCaption);
  setWindowTitle("Editor Stringhe Utente");
  setFixedSize(406, 385);

  auto* rows = new QGridLayout;
  rows->setColumnStretch(1, 1);
  const QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
  for (int n = 1; n <= kUserStringCount; ++n) {
    auto* label = new QLabel(QString("%1:").arg(n), this);
    label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    QFont bold = label->font();
    bold.setBold(true);
    label->setFont(bold);

    auto* edit = new QLineEdit(this);
    edit->setObjectName(TwoDigitName("Str", n, "Wn"));
    edit->setMaxLength(static_cast<int>(kUserStringMax));
    edit->setFont(fixed);
    edit->setValidator(new Cp1252Validator(edit));
    connect(edit, &QLineEdit::textChanged, this, &TStrFrm::StrWnChange);

    auto* check = new QCheckBox("<Invio>", this);
    check->setObjectName(TwoDigitName("CR", n, "Ck"));
    SetTag(check, kTagUserStrEnter);
    connect(check, &QCheckBox::clicked, this, &TStrFrm::CRCkClick);

    rows->addWidget(label, n - 1, 0);
    rows->addWidget(edit, n - 1, 1);
    rows->addWidget(check, n - 1, 2);
    strWn_[n - 1] = edit;
    crCk_[n - 1] = check;
  }

  OKBtn = new QPushButton("&OK", this);
  OKBtn->setObjectName("OKBtn");
  SetTag(OKBtn, kTagOK);
  OKBtn->setDefault(true);
  connect(OKBtn, &QPushButton::clicked, this, &TStrFrm::OKBtnClick);
  CancelBtn = new QPushButton("&Annulla", this);
  CancelBtn->setObjectName("CancelBtn");
  SetTag(CancelBtn, kTagCancel);
  connect(CancelBtn, &QPushButton::clicked, this, &TStrFrm::CancelBtnClick);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(OKBtn);
  buttons->addWidget(CancelBtn);
  buttons->addStretch();

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(rows);
  layout->addLayout(buttons);

  QWidget* previous = nullptr;
  for (int n = 1; n <= kUserStringCount; ++n) {
    for (QWidget* next : {static_cast<QWidget*>(strWn_[n - 1]), static_cast<QWidget*>(crCk_[n - 1])}) {
      if (previous) setTabOrder(previous, next);
      previous = next;
    }
  }
  setTabOrder(previous, OKBtn);
  setTabOrder(OKBtn, CancelBtn);
}

void TStrFrm::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (!event->spontaneous()) FormShow();
}

void TStrFrm::FormShow() {
  if (QScreen* screen = QGuiApplication::primaryScreen())
    move(screen->availableGeometry().center() - rect().center());
  for (int n = 1; n <= kUserStringCount; ++n) {
    UserStr[n - 1] = Cut(settings_.UserStr[n - 1].Str());
    UserStrEnter[n - 1] = settings_.UserStrEnter[n - 1] != 0;
  }
  for (int n = 1; n <= kUserStringCount; ++n) {
    strWn_[n - 1]->setText(QString::fromStdString(Cp1252ToUtf8(UserStr[n - 1])));
    crCk_[n - 1]->setChecked(UserStrEnter[n - 1]);
  }
  if (applyLanguage_) applyLanguage_();
  strWn_[0]->setFocus();
}

void TStrFrm::StrWnChange() {
  auto* edit = qobject_cast<QLineEdit*>(sender());
  if (!edit) return;
  int n = StrWnNumber(edit->objectName().toStdString());
  if (n == 0) return;
  UserStr[n - 1] = Cut(Utf8ToCp1252(edit->text().toStdString()));
}

void TStrFrm::CRCkClick() {
  auto* check = qobject_cast<QCheckBox*>(sender());
  if (!check) return;
  int n = CRCkNumber(check->objectName().toStdString());
  if (n == 0) return;
  UserStrEnter[n - 1] = check->isChecked();
}

void TStrFrm::OKBtnClick() {
  for (int n = 1; n <= kUserStringCount; ++n) {
    settings_.UserStr[n - 1].Assign(Cut(UserStr[n - 1]));
    settings_.UserStrEnter[n - 1] = UserStrEnter[n - 1] ? 1 : 0;
  }
  accept();
}

void TStrFrm::CancelBtnClick() { reject(); }

bool EditStrCmd(QWidget* owner, TSettings& settings, const std::function<void()>& applyLanguage,
                const std::function<void()>& setStrCaption) {
  auto editor = std::make_unique<TStrFrm>(owner, settings.Rec, applyLanguage);
  const bool confirmed = editor->exec() == QDialog::Accepted;
  editor.reset();
  if (!confirmed) return false;
  if (setStrCaption) setStrCaption();
  settings.SaveSettings();
  return true;
}

void SetStrCaption(const QList<QAction*>& actions, const SettingsRec& rec, int language) {
  for (QAction* action : actions) {
    const std::string name = action->objectName().toStdString();
    if (name.find("TxStr") == std::string::npos) continue;
    int n = TxStrNumber(name);
    if (n == 0) continue;
    TUserStrItem item = UserStrItem(rec, n, language);
    action->setText(QString::fromStdString(item.Caption));
    action->setEnabled(item.Enabled);
    SetTag(action, item.Tag);
  }
}

int TxStrClick(const QAction* item) {
  if (!item || !item->isEnabled()) return 0;
  return TxStrNumber(item->objectName().toStdString());
}

}  // namespace mirte
