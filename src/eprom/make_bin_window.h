#pragma once
// The modal progress window that writes the EPROM image: Start runs the whole build on the
// user-interface thread (it cannot be interrupted; the bar and message line repaint as it
// goes), then only OK is left, with the result in black or red. Cancel closes it unbuilt.
#include <QDialog>

#include "eprom/bin_writer.h"

class QLabel;
class QProgressBar;
class QPushButton;

namespace mirte {

class TSettings;

class TMkBinFrm : public QDialog, private IBinProgress {
  Q_OBJECT
public:
  TMkBinFrm(const TSettings& settings, const TRDRec& rec, QWidget* parent = nullptr);

  QProgressBar* PrcBar;
  QLabel* MsgLb;
  QPushButton* StartBtn;
  QPushButton* CancelBtn;
  QPushButton* OKBtn;

  void StartBtnClick();
  void CancelBtnClick();
  void OKBtnClick();
  void reject() override;

protected:
  void showEvent(QShowEvent* event) override;

private:
  void SetProgressMax(std::int32_t max) override;
  void SetProgress(std::int32_t position) override;
  void ShowMessage(const std::string& text, bool failed) override;

  const TSettings& settings_;
  const TRDRec& rec_;
  bool running_ = false;
};

}  // namespace mirte
