#pragma once
// The board monitor: a window listing every command frame the board sends, with its file,
// its record, the PC path served and the answer, and a line of totals. It watches the
// board service only while it is shown; closed, it is hidden and the service runs as if
// it did not exist. Frames are taken in as they complete but reach the table at most
// 10 times a second, however fast they come. Pause stops new rows (the totals go on),
// Clear starts afresh, Copy puts the selected rows on the clipboard as tab-separated
// lines, Save writes the rows shown to a text file, and the filter hides every row whose
// text does not contain it (in either case). Save proposes monitor-<date>.txt and adds
// ".txt" to a name chosen without an extension. The window opens where it was last, inside
// its screen, and a cell too narrow for its text shows the whole text as its tooltip. The
// totals end with the port's line errors since it opened (or since Clear).
#include <QDate>
#include <QWidget>

#include <functional>
#include <optional>

#include "app/monitor_log.h"
#include "app/window_places.h"
#include "board/frame_observer.h"
#include "common/settings.h"

class QLabel;
class QLineEdit;
class QPushButton;
class QTableView;
class QTimer;

namespace mirte {

class TMonitorModel;

class TMonitorFrm : public QWidget, public IFrameObserver {
public:
  // Attaches the window to the board service (nullptr detaches it).
  using AttachFn = std::function<void(IFrameObserver*)>;
  // The file to save to, `proposed` offered first; nothing when the user cancels.
  using ChooseFileFn =
      std::function<std::optional<QString>(const QString& title, const QString& filter, const QString& proposed)>;

  // Four refreshes a second still read as live, and each refresh is time taken from the
  // board service, which shares the thread: at ten a second a streaming board lost 7% of
  // its records per second, at four about a third of that.
  static constexpr int kRepaintMs = 250;

  // The size it opens at the first time, before the window places file knows it.
  static constexpr QSize kPreferredSize{1000, 520};

  TMonitorFrm(const SettingsRec& settings, AttachFn attach, QWidget* owner,
              std::size_t maxRows = TMonitorLog::kMaxRows, QString placesFile = TWindowPlaces::DefaultFile());
  ~TMonitorFrm() override;

  void FrameDone(const TFrameFacts& facts) override;

  QTableView* RowsVw = nullptr;
  QLabel* TotalsLb = nullptr;
  QPushButton* PauseBtn = nullptr;
  QPushButton* ClearBtn = nullptr;
  QPushButton* CopyBtn = nullptr;
  QPushButton* SaveBtn = nullptr;
  QLabel* FilterLb = nullptr;
  QLineEdit* FilterEd = nullptr;
  QTimer* RepaintTmr = nullptr;
  // Unset: the standard save dialog.
  ChooseFileFn ChooseSaveFile;
  // The port's line error counts, read at each refresh for the totals; nothing while no
  // port is open. Unset: the totals show none.
  std::function<std::optional<TLineErrorCounts>()> ReadLineErrors;

  const TMonitorLog& Log() const { return log_; }
  // Rows in the table as shown, in the current language and after the filter.
  int ShownRows() const;
  QString ShownLine(int row) const;

  void PauseBtnClick();
  void ClearBtnClick();
  void CopyBtnClick();
  void SaveBtnClick();
  // monitor-<yyyy-mm-dd>.txt for that day.
  static QString ProposedFileName(const QDate& day);
  // Writes the heading and the rows shown, one tab-separated line each; false when the
  // file could not be written.
  bool SaveRows(const QString& path) const;
  // Brings the frames taken in since the last time into the table and the totals up to
  // date; the repaint timer calls it.
  void Publish();

protected:
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;
  void changeEvent(QEvent* event) override;

private:
  int Language() const { return settings_.Language; }
  void ShowTotals();

  const SettingsRec& settings_;
  AttachFn attach_;
  TMonitorLog log_;
  TMonitorModel* model_ = nullptr;
  TWindowPlaces places_;
};

}  // namespace mirte
