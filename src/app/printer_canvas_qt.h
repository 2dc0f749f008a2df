#pragma once
// The board's list output on this PC: the printer canvas the board service draws on, and
// the printer set-up dialog. A job goes to the printer chosen in the set-up dialog, or to
// the system's default printer. When that printer does not exist or cannot begin a
// document, the job is written instead as a PDF file in the working folder, named from
// the job title and its start time, laid out in the device units of a 600 dpi page of the
// system's default paper size; no board output is lost for want of a printer. Jobs on a
// real printer are kept in memory until they end, so Abort truly discards them; PDF
// files are made by a job's first text and written as the job goes under a hidden
// dot-name in the same folder, created afresh (a link planted there is never followed);
// only a completed job is renamed to its real name, once every byte of it is known to be
// on the disk. Abort removes the hidden file, and so does a job that could not be written
// (a full disk, a folder that takes no files): that job is reported, not left half made.
// A job that ends without any text drawn leaves no file and sends no page to a printer.
// Files are never overwritten.
#include <QDateTime>
#include <QFont>
#include <QPageSize>
#include <QPainter>
#include <QPrinterInfo>
#include <QString>
#include <filesystem>
#include <functional>
#include <memory>
#include <system_error>
#include <vector>

#include "board/printer_canvas.h"

class QPageLayout;
class QPdfWriter;
class QPrinter;
class QWidget;

namespace mirte {

class TJobFile;

// What the canvas asks the system about its printers: the default one, and the one of a
// name (null when there is none). The system's own answers unless replaced, so that a
// job's road can be chosen the same on a machine with printers and on one without.
struct TPrinterDirectory {
  std::function<QPrinterInfo()> DefaultPrinter = [] { return QPrinterInfo::defaultPrinter(); };
  std::function<QPrinterInfo(const QString& name)> Printer = [](const QString& name) {
    return QPrinterInfo::printerInfo(name);
  };

  // A system without a single printer.
  static TPrinterDirectory None() {
    return {[] { return QPrinterInfo(); }, [](const QString&) { return QPrinterInfo(); }};
  }
};

class TQtPrinterCanvas final : public IPrinterCanvas {
public:
  // workFolder is asked at the start of every job that needs a PDF file; an empty or
  // missing folder (or one that cannot be written) falls back to the home folder, then the
  // temporary one; a job that a working folder refused is reported through OnPdfRedirected.
  explicit TQtPrinterCanvas(std::function<std::filesystem::path()> workFolder);
  // A job still open at the end is finished, not lost.
  ~TQtPrinterCanvas() override;
  TQtPrinterCanvas(const TQtPrinterCanvas&) = delete;
  TQtPrinterCanvas& operator=(const TQtPrinterCanvas&) = delete;

  void BeginDoc(const std::string& title) override;
  void NewPage() override;
  void EndDoc() override;
  void Abort() override;
  int PageWidth() const override;
  int PageHeight() const override;
  int TextHeight(std::string_view text) const override;
  int TextWidth(std::string_view text) const override;
  void TextOut(int x, int y, std::string_view text) override;

  // The printer of the following jobs, as the set-up dialog left it (a real printer or,
  // with the PDF output format, a file). Null returns to the system's default printer.
  // A chosen file is written by the next job; later jobs get numbered names beside it.
  void SetChosenPrinter(std::unique_ptr<QPrinter> printer);
  QPrinter* ChosenPrinter() const { return chosenPrinter_.get(); }

  bool JobOpen() const { return target_ != TJobTarget::None; }
  // The hidden file the open PDF job is written to; empty for a job on a real printer and
  // before a PDF job's first text.
  QString JobFile() const { return jobFile_; }

  // Every job becomes a PDF file, whatever printers exist: for programs serving a board
  // unattended, whose output is collected as files.
  bool PdfOnly = false;
  // Called after a job has been completed as a PDF file, with the file's full path.
  std::function<void(const QString& path)> OnPdfWritten;
  // Called when a job ends without its file: the folder it was to be written in (the
  // first one tried) and why it could not be. Nothing of that job is left on the disk.
  std::function<void(const QString& folder, std::error_code reason)> OnPdfFailed;
  // Called instead of OnPdfWritten for a job that could not be written in the folder meant
  // for it (the chosen file's, or the working folder) and was written as path elsewhere.
  std::function<void(const QString& path, const QString& folder, std::error_code reason)> OnPdfRedirected;
  // Where the printers of the following jobs are looked up.
  TPrinterDirectory Printers;
  // The clock that names PDF files; tests replace it.
  std::function<QDateTime()> Now = [] { return QDateTime::currentDateTime(); };

private:
  enum class TJobTarget { None, PdfFile, Printer };
  struct TSpooledText {
    int X;
    int Y;
    QString Text;
  };

  // A PDF job whose file is made by OpenPendingPdf at its first text: the chosen file
  // (numbered after its first job) or, failing that, a new file in the working folder.
  void PreparePdf(bool toChosenFile, const QPageLayout& layout);
  void OpenPendingPdf();
  bool BeginOnPdfFile(const QString& path, const QPageLayout& layout, int resolution);
  // Renames the written hidden file to the first free one of its names and returns its
  // full path; empty, with the hidden file removed, when that cannot be done.
  QString FinishPdfFile();
  // Keeps the first reason a job's file could not be made or written, for its report.
  void NoteFailure(const QString& folder, int error);
  void ReportFailure();
  void ReportWritten(const QString& path);
  void DiscardPdfFile();
  // A printer that exists on this system and that Qt can drive. A printer chosen earlier
  // may have been removed since.
  bool PrinterExists(const QPrinter& printer) const;
  bool BeginOnPrinter(const std::shared_ptr<QPrinter>& printer);
  bool BeginOnFallbackPdf(const QPageLayout& layout, int resolution);
  void EndSpooledJob();
  void ReplaySpool();
  void CloseJob();
  // The device whose units the layout uses: the open job's, else a default PDF page.
  const QPaintDevice& MetricsDevice() const;

  std::function<std::filesystem::path()> workFolder_;
  // Shared with the job that uses it, so a new choice cannot pull it from under the job.
  std::shared_ptr<QPrinter> chosenPrinter_;
  QString chosenFile_;  // the file chosen with chosenPrinter, if it prints to a file
  bool chosenFileUsed_ = false;

  TJobTarget target_ = TJobTarget::None;
  QString title_;
  QDateTime startTime_;
  QFont font_;
  QPainter painter_;
  std::shared_ptr<QPrinter> jobPrinter_;  // the real printer of a spooled job
  std::unique_ptr<TJobFile> pdfFile_;       // the hidden file pdfWriter writes; outlives it
  std::unique_ptr<QPdfWriter> pdfWriter_;  // the file of a PdfFile job
  int jobFolderFd_ = -1;                    // the folder of pdfFile, named through this only
  QString jobFolder_;
  QString partName_;     // pdfFile's hidden name in jobFolder; empty once renamed or removed
  QString finalName_;    // the name a completed job takes, numbered when taken
  QString jobFile_;
  bool pendingChosenFile_ = false;  // the PDF job not yet drawn on goes to the chosen file
  int pagesBeforeText_ = 0;         // pages a PDF job turned before its file was made
  QString failedFolder_;            // where the job's file could not be made or written
  int failure_ = 0;                 // why, an errno value; 0 while nothing failed
  QString refusedFolder_;           // a folder that refused the job before another took it
  int refusal_ = 0;                 // why it refused
  std::vector<std::vector<TSpooledText>> spool_;
  mutable std::unique_ptr<QPdfWriter> metricsPage_;  // never begun: only answers metrics
};

// Shows the platform's printer set-up dialog over parent, preset with the current choice.
// When the user confirms, the printer or PDF file chosen there is the one the next job
// uses; cancelling changes nothing. Returns whether the user confirmed.
bool PrnSetDlg(QWidget* parent, TQtPrinterCanvas& canvas);

// "<title> 2026-12-07 14-03-55.pdf": the name of a job's PDF file.
QString PdfJobFileName(const QString& title, const QDateTime& start);

// The paper size the system prints on by default: /etc/papersize where it names one,
// else Letter in the United States' measurement system and A4 elsewhere.
QPageSize DefaultPaperSize();

}  // namespace mirte
