#pragma once
// The information window: the maker's identification, the product panel, the release and
// the working folder (where the board's drive C is, by default a folder of its own).
// Created for one modal showing and destroyed afterwards; it re-captions the open windows
// when shown, so it appears in the current language. Below the release it names the
// settings file, shortened in the middle when it is too long and whole in its tooltip.
#include <QDialog>

#include <functional>
#include <string>

class QLabel;
class QPushButton;

namespace mirte {

class TInfoFrm : public QDialog {
public:
  TInfoFrm(QWidget* owner, std::function<void()> applyLanguage, const std::string& settingsPath = {});

  // The folder shown as the working folder, and the language of its caption.
  void SetWorkFolder(const QString& folder, int language);
  // A word about the line (an adapter that holds bytes back, and its cure) below the
  // working folder; the window grows to hold it. Empty: none.
  void SetLineNotice(const QString& text);

  QLabel* RelStrLb = nullptr;
  QLabel* RelNumLb = nullptr;
  QLabel* SetFileStrLb = nullptr;
  QLabel* SetFileLb = nullptr;
  QLabel* WorkFolderStrLb = nullptr;
  QLabel* WorkFolderLb = nullptr;
  QLabel* LineNoticeLb = nullptr;
  QPushButton* OKBtn = nullptr;

protected:
  void showEvent(QShowEvent* event) override;

private:
  void FormShow();

  std::function<void()> applyLanguage_;
};

}  // namespace mirte
