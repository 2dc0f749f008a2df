#pragma once
// The user strings editor: ten rows of an edit box (at most 30 characters, only what
// Windows-1252 can hold) and an Enter check box. It edits its own copy of the strings;
// the settings change only on OK. Created for one showing and destroyed afterwards.
// Components carry their message index in the dynamic property "Tag" (0 or absent: not
// translated); captions are Italian until the language is applied.
#include <QDialog>
#include <QList>

#include <array>
#include <functional>
#include <string>

#include "common/settings.h"

class QAction;
class QCheckBox;
class QLineEdit;
class QPushButton;

namespace mirte {

class TStrFrm : public QDialog {
  Q_OBJECT

public:
  // `applyLanguage` re-captions every open window; the editor calls it when shown.
  TStrFrm(QWidget* owner, SettingsRec& settings, std::function<void()> applyLanguage);

  QLineEdit* StrWn(int n) const { return strWn_[n - 1]; }
  QCheckBox* CRCk(int n) const { return crCk_[n - 1]; }
  QPushButton* OKBtn = nullptr;
  QPushButton* CancelBtn = nullptr;

  // The editor's copy: Windows-1252 strings of at most 30 bytes and their Enter flags.
  std::array<std::string, 10> UserStr;
  std::array<bool, 10> UserStrEnter{};

protected:
  void showEvent(QShowEvent* event) override;

private:
  void FormShow();
  void StrWnChange();
  void CRCkClick();
  void OKBtnClick();
  void CancelBtnClick();

  SettingsRec& settings_;
  std::function<void()> applyLanguage_;
  std::array<QLineEdit*, 10> strWn_{};
  std::array<QCheckBox*, 10> crCk_{};
};

// "Strings Editor...": creates the editor, runs it and destroys it. On OK the strings are
// already in `settings.Rec`; then the menu items are re-captioned and the settings saved.
// True when confirmed.
bool EditStrCmd(QWidget* owner, TSettings& settings, const std::function<void()>& applyLanguage,
                const std::function<void()>& setStrCaption);

// Captions, enabled state and tags of every action named "TxStr..." in `actions`.
void SetStrCaption(const QList<QAction*>& actions, const SettingsRec& rec, int language);

// The string number of a clicked TxStr item, or 0 when it is none.
int TxStrClick(const QAction* item);

}  // namespace mirte
