#pragma once
// The information window: the maker's identification, the product panel and the release.
// Created for one modal showing and destroyed afterwards; it re-captions the open windows
// when shown, so it appears in the current language.
#include <QDialog>

#include <functional>

class QLabel;
class QPushButton;

namespace mirte {

class TInfoFrm : public QDialog {
public:
  TInfoFrm(QWidget* owner, std::function<void()> applyLanguage);

  QLabel* RelStrLb = nullptr;
  QLabel* RelNumLb = nullptr;
  QPushButton* OKBtn = nullptr;

protected:
  void showEvent(QShowEvent* event) override;

private:
  void FormShow();

  std::function<void()> applyLanguage;
};

}  // namespace mirte
