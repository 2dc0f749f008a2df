#include "app/printer_canvas_qt.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFontMetrics>
#include <QLocale>
#include <QPageLayout>
#include <QPdfWriter>
#include <QPrintDialog>
#include <QPrinter>
#include <QPrinterInfo>
#include <QStringList>
#include <algorithm>
#include <cctype>
#include <fstream>
#include <string>
#include <utility>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/code_page.h"

namespace mirte {

// The hidden file of a PDF job, written through its descriptor. It keeps the first error of
// a write, the final sync or the close, so that the job's end knows whether every byte
// reached the disk. Bytes after an error are dropped: the file is lost by then, and a full
// disk need not be asked again for every line of the job.
class TJobFile final : public QIODevice {
public:
  explicit TJobFile(int fd) : fd_(fd) { open(QIODevice::WriteOnly | QIODevice::Unbuffered); }
  ~TJobFile() override {
    if (fd_ >= 0) ::close(fd_);
  }
  TJobFile(const TJobFile&) = delete;
  TJobFile& operator=(const TJobFile&) = delete;

  // Writes out what is held, waits until the disk has it and closes the file: 0 when all
  // of that succeeded, else the first error.
  int Finish() {
    WriteHeld();
    if (error_ == 0 && ::fsync(fd_) != 0 && errno != EINVAL) error_ = errno;
    if (::close(fd_) != 0 && error_ == 0 && errno != EINTR) error_ = errno;
    fd_ = -1;
    close();
    return error_;
  }
  int Error() const { return error_; }

protected:
  qint64 readData(char*, qint64) override { return -1; }
  qint64 writeData(const char* data, qint64 size) override {
    if (error_ != 0) return size;
    held_.append(data, size);
    // The PDF engine writes in many small pieces; the disk is asked in large ones.
    if (held_.size() >= kHeldBytes) WriteHeld();
    return size;
  }

private:
  static constexpr qsizetype kHeldBytes = 16 * 1024;

  void WriteHeld() {
    qsizetype done = 0;
    while (error_ == 0 && done < held_.size()) {
      const ssize_t n = ::write(fd_, held_.constData() + done, static_cast<std::size_t>(held_.size() - done));
      if (n > 0) done += n;
      else if (n < 0 && errno == EINTR) continue;
      else error_ = n < 0 ? errno : ENOSPC;
    }
    held_.clear();
  }

  int fd_;
  int error_ = 0;
  QByteArray held_;
};

namespace {

// A 600 dpi page puts the board's fixed margins (200 units) at a third of an inch, close
// to what they are on an ordinary office printer.
constexpr int kPdfResolution = 600;

QString FromCp1252(std::string_view bytes) { return QString::fromStdString(Cp1252ToUtf8(bytes)); }

QString PathToQString(const std::filesystem::path& path) {
  return QFile::decodeName(QByteArray::fromStdString(path.native()));
}

// "<name>.pdf" for n == 1, else "<name> (n).pdf": the names a job's file may take, so
// that a job never overwrites a file, its own earlier ones included.
QString NumberedName(const QString& name, int n) {
  if (n <= 1) return name;
  const QFileInfo info(name);
  const QString suffix = info.suffix().isEmpty() ? QString() : "." + info.suffix();
  return QStringLiteral("%1 (%2)%3").arg(info.completeBaseName()).arg(n).arg(suffix);
}

// Moves from to to within the folder, failing with EEXIST rather than replacing whatever
// has that name. Where the file system cannot rename that way, a hard link does the same.
bool RenameNoReplace(int folderFd, const QByteArray& from, const QByteArray& to) {
  if (renameat2(folderFd, from.constData(), folderFd, to.constData(), RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS) return false;
  if (linkat(folderFd, from.constData(), folderFd, to.constData(), 0) != 0) return false;
  unlinkat(folderFd, from.constData(), 0);
  return true;
}

QPageLayout DefaultPdfLayout() {
  return QPageLayout(DefaultPaperSize(), QPageLayout::Portrait, QMarginsF(0, 0, 0, 0));
}

bool PrintsToFile(const QPrinter& printer) {
  return printer.outputFormat() == QPrinter::PdfFormat && !printer.outputFileName().isEmpty();
}

}  // namespace

QString PdfJobFileName(const QString& title, const QDateTime& start) {
  QString name = title + ' ' + start.toString(QStringLiteral("yyyy-MM-dd HH-mm-ss")) + ".pdf";
  // The title comes from the message table, but a file name must never turn into a path.
  name.replace('/', '_');
  name.replace(QChar(0), '_');
  return name;
}

QPageSize DefaultPaperSize() {
  static const std::pair<const char*, QPageSize::PageSizeId> kNamedSizes[] = {
      {"a4", QPageSize::A4},       {"letter", QPageSize::Letter}, {"legal", QPageSize::Legal},
      {"a3", QPageSize::A3},       {"a5", QPageSize::A5},         {"b5", QPageSize::B5},
      {"executive", QPageSize::Executive}};
  std::ifstream file("/etc/papersize");
  std::string line;
  while (std::getline(file, line)) {
    std::string name;
    for (char c : line) {
      if (std::isspace(static_cast<unsigned char>(c))) {
        if (!name.empty()) break;
        continue;
      }
      name += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    if (name.empty() || name[0] == '#') continue;
    for (const auto& [known, id] : kNamedSizes)
      if (name == known) return QPageSize(id);
    break;
  }
  return QPageSize(QLocale::system().measurementSystem() == QLocale::ImperialUSSystem
                       ? QPageSize::Letter
                       : QPageSize::A4);
}

TQtPrinterCanvas::TQtPrinterCanvas(std::function<std::filesystem::path()> workFolder)
    : workFolder_(std::move(workFolder)) {
  // Liberation Serif has the metrics of the font the layout was made for.
  font_.setFamilies({QStringLiteral("Times New Roman"), QStringLiteral("Liberation Serif")});
  font_.setStyleHint(QFont::Serif);
  font_.setPointSize(12);
}

TQtPrinterCanvas::~TQtPrinterCanvas() {
  // Whoever listens may already be gone.
  OnPdfWritten = nullptr;
  OnPdfFailed = nullptr;
  OnPdfRedirected = nullptr;
  if (JobOpen()) EndDoc();
}

void TQtPrinterCanvas::SetChosenPrinter(std::unique_ptr<QPrinter> printer) {
  chosenPrinter_ = std::move(printer);
  chosenFile_ = chosenPrinter_ && PrintsToFile(*chosenPrinter_) ? chosenPrinter_->outputFileName() : QString();
  chosenFileUsed_ = false;
}

void TQtPrinterCanvas::BeginDoc(const std::string& jobTitle) {
  if (JobOpen()) EndDoc();
  title_ = QString::fromStdString(jobTitle);
  startTime_ = Now();
  failedFolder_.clear();
  failure_ = 0;
  refusedFolder_.clear();
  refusal_ = 0;

  if (PdfOnly) {
    PreparePdf(false, DefaultPdfLayout());
    return;
  }
  if (chosenPrinter_ && !chosenFile_.isEmpty()) {
    PreparePdf(true, chosenPrinter_->pageLayout());
    return;
  }
  if (chosenPrinter_) {
    if (PrinterExists(*chosenPrinter_) && BeginOnPrinter(chosenPrinter_)) return;
  } else if (const QPrinterInfo info = Printers.DefaultPrinter(); !info.isNull()) {
    auto printer = std::make_shared<QPrinter>(info, QPrinter::HighResolution);
    if (PrinterExists(*printer) && BeginOnPrinter(printer)) return;
  }
  PreparePdf(false, DefaultPdfLayout());
}

void TQtPrinterCanvas::PreparePdf(bool toChosenFile, const QPageLayout& layout) {
  // The file is made by the job's first text, so a job that draws nothing leaves none.
  // Until then a writer without a file answers the layout's metrics.
  pdfWriter_ = std::make_unique<QPdfWriter>(QString());
  pdfWriter_->setResolution(kPdfResolution);
  pdfWriter_->setPageLayout(layout);
  pendingChosenFile_ = toChosenFile;
  pagesBeforeText_ = 0;
  target_ = TJobTarget::PdfFile;
}

void TQtPrinterCanvas::OpenPendingPdf() {
  const QPageLayout layout = pdfWriter_->pageLayout();
  const int pages = pagesBeforeText_;
  bool opened = false;
  if (pendingChosenFile_) {
    chosenFileUsed_ = true;
    opened = BeginOnPdfFile(chosenFile_, layout, kPdfResolution);
  }
  if (!opened) opened = BeginOnFallbackPdf(layout, kPdfResolution);
  if (!opened) {
    // Not even a file can be written: keep the job in memory, to try again at its end.
    pdfWriter_.reset();
    BeginOnPrinter(nullptr);
    spool_.assign(static_cast<std::size_t>(pages) + 1, {});
    return;
  }
  for (int page = 0; page < pages; ++page) pdfWriter_->newPage();
}

bool TQtPrinterCanvas::BeginOnPdfFile(const QString& path, const QPageLayout& layout, int resolution) {
  // The board's drive is the working folder: a job is written under a dot-name the board
  // is never shown, made fresh in that very folder (never through a link planted there),
  // and takes its real name only once complete.
  const QFileInfo info(path);
  const int folderFd = open(QFile::encodeName(info.absolutePath()).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folderFd < 0) {
    NoteFailure(info.absolutePath(), errno);
    return false;
  }
  const QString name = info.fileName();
  QString part;
  int fd = -1;
  for (int n = 1; fd < 0 && n <= 100; ++n) {
    part = n == 1 ? QStringLiteral(".%1.part").arg(name) : QStringLiteral(".%1.%2.part").arg(name).arg(n);
    fd = openat(folderFd, QFile::encodeName(part).constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                0644);
    if (fd < 0 && errno != EEXIST) break;
  }
  if (fd < 0) {
    NoteFailure(info.absolutePath(), errno);
    close(folderFd);
    return false;
  }
  auto file = std::make_unique<TJobFile>(fd);
  auto writer = std::make_unique<QPdfWriter>(file.get());
  writer->setResolution(resolution);
  writer->setPageLayout(layout);
  writer->setTitle(title_);
  writer->setCreator(QStringLiteral("MIRTE"));
  if (!painter_.begin(writer.get())) {
    NoteFailure(info.absolutePath(), file->Error() != 0 ? file->Error() : EIO);
    writer.reset();
    file.reset();
    unlinkat(folderFd, QFile::encodeName(part).constData(), 0);
    close(folderFd);
    return false;
  }
  // A folder tried before this one is what the job's report tells of, if any.
  if (failure_ != 0 && refusal_ == 0) {
    refusedFolder_ = failedFolder_;
    refusal_ = failure_;
  }
  failedFolder_.clear();
  failure_ = 0;
  painter_.setFont(font_);
  pdfWriter_ = std::move(writer);
  pdfFile_ = std::move(file);
  jobFolderFd_ = folderFd;
  jobFolder_ = info.absolutePath();
  partName_ = part;
  finalName_ = name;
  jobFile_ = QDir(jobFolder_).filePath(part);
  target_ = TJobTarget::PdfFile;
  return true;
}

QString TQtPrinterCanvas::FinishPdfFile() {
  pdfWriter_.reset();
  int error = pdfFile_ ? pdfFile_->Finish() : EIO;
  pdfFile_.reset();
  const QByteArray from = QFile::encodeName(partName_);
  if (error == 0) {
    for (int n = 1; n < 10000; ++n) {
      const QString name = NumberedName(finalName_, n);
      if (RenameNoReplace(jobFolderFd_, from, QFile::encodeName(name))) {
        partName_.clear();
        return QDir(jobFolder_).filePath(name);
      }
      if (errno != EEXIST) break;
    }
    error = errno;
  }
  NoteFailure(jobFolder_, error);
  DiscardPdfFile();
  return {};
}

void TQtPrinterCanvas::NoteFailure(const QString& folder, int error) {
  if (failure_ != 0) return;
  failedFolder_ = folder;
  failure_ = error != 0 ? error : EIO;
}

void TQtPrinterCanvas::ReportWritten(const QString& path) {
  const QString folder = std::exchange(refusedFolder_, QString());
  const int error = std::exchange(refusal_, 0);
  // A job kept in memory until its folder could take it went where it was meant to.
  if (error != 0 && QFileInfo(path).absolutePath() != QFileInfo(folder).absoluteFilePath() && OnPdfRedirected) {
    OnPdfRedirected(path, folder, std::error_code(error, std::generic_category()));
  } else if (OnPdfWritten) {
    OnPdfWritten(path);
  }
}

void TQtPrinterCanvas::ReportFailure() {
  const QString folder = std::exchange(failedFolder_, QString());
  const int error = std::exchange(failure_, 0);
  if (OnPdfFailed) OnPdfFailed(folder, std::error_code(error != 0 ? error : EIO, std::generic_category()));
}

void TQtPrinterCanvas::DiscardPdfFile() {
  pdfWriter_.reset();
  pdfFile_.reset();
  if (jobFolderFd_ >= 0 && !partName_.isEmpty()) unlinkat(jobFolderFd_, QFile::encodeName(partName_).constData(), 0);
  partName_.clear();
}

bool TQtPrinterCanvas::PrinterExists(const QPrinter& printer) const {
  return printer.outputFormat() == QPrinter::NativeFormat && !printer.printerName().isEmpty() &&
         !Printers.Printer(printer.printerName()).isNull() && printer.isValid();
}

bool TQtPrinterCanvas::BeginOnPrinter(const std::shared_ptr<QPrinter>& printer) {
  // Qt cannot take back what it has handed to a real printer, so the job is kept here
  // until it ends and only then painted: Abort must leave nothing printed.
  if (printer) printer->setDocName(title_);
  jobPrinter_ = printer;
  spool_.assign(1, {});
  target_ = TJobTarget::Printer;
  return true;
}

bool TQtPrinterCanvas::BeginOnFallbackPdf(const QPageLayout& layout, int resolution) {
  QStringList folders;
  if (workFolder_) {
    const std::filesystem::path folder = workFolder_();
    if (!folder.empty()) folders << PathToQString(folder);
  }
  folders << QDir::homePath() << QDir::tempPath();
  for (const QString& folder : folders) {
    const QFileInfo info(folder);
    if (!info.isDir() || !info.isWritable()) {
      NoteFailure(folder, !info.exists() ? ENOENT : !info.isDir() ? ENOTDIR : EACCES);
      continue;
    }
    if (BeginOnPdfFile(QDir(folder).filePath(PdfJobFileName(title_, startTime_)), layout, resolution)) return true;
  }
  return false;
}

void TQtPrinterCanvas::NewPage() {
  if (target_ == TJobTarget::PdfFile && !painter_.isActive()) {
    ++pagesBeforeText_;
  } else if (target_ == TJobTarget::PdfFile) {
    pdfWriter_->newPage();
  } else if (target_ == TJobTarget::Printer) {
    spool_.emplace_back();
  }
}

void TQtPrinterCanvas::TextOut(int x, int y, std::string_view text) {
  if (target_ == TJobTarget::PdfFile && !painter_.isActive()) OpenPendingPdf();
  if (target_ == TJobTarget::PdfFile) {
    painter_.drawText(QPoint(x, y + painter_.fontMetrics().ascent()), FromCp1252(text));
  } else if (target_ == TJobTarget::Printer) {
    spool_.back().push_back({x, y, FromCp1252(text)});
  }
}

void TQtPrinterCanvas::ReplaySpool() {
  painter_.setFont(font_);
  const int ascent = painter_.fontMetrics().ascent();
  for (std::size_t page = 0; page < spool_.size(); ++page) {
    if (page > 0) static_cast<QPagedPaintDevice*>(painter_.device())->newPage();
    for (const TSpooledText& text : spool_[page]) painter_.drawText(QPoint(text.X, text.Y + ascent), text.Text);
  }
}

void TQtPrinterCanvas::EndDoc() {
  if (target_ == TJobTarget::Printer) {
    EndSpooledJob();
    return;
  }
  if (target_ != TJobTarget::PdfFile) return;
  if (!painter_.isActive()) {
    CloseJob();
    return;
  }
  if (!painter_.end()) NoteFailure(jobFolder_, pdfFile_ && pdfFile_->Error() != 0 ? pdfFile_->Error() : EIO);
  const QString path = failure_ == 0 ? FinishPdfFile() : QString();
  CloseJob();
  if (path.isEmpty()) ReportFailure();
  else ReportWritten(path);
}

void TQtPrinterCanvas::EndSpooledJob() {
  if (std::all_of(spool_.begin(), spool_.end(), [](const auto& page) { return page.empty(); })) {
    // Nothing was drawn: no sheet goes to the printer.
    CloseJob();
    return;
  }
  if (jobPrinter_ && painter_.begin(jobPrinter_.get())) {
    ReplaySpool();
    painter_.end();
    CloseJob();
    return;
  }
  // The printer went away or refused the document: the page keeps the units it was laid
  // out in, written to a PDF file instead.
  const QPageLayout layout = jobPrinter_ ? jobPrinter_->pageLayout() : DefaultPdfLayout();
  const int resolution = jobPrinter_ ? jobPrinter_->resolution() : kPdfResolution;
  std::vector<std::vector<TSpooledText>> pages = std::move(spool_);
  CloseJob();
  if (!BeginOnFallbackPdf(layout, resolution)) {
    ReportFailure();
    return;
  }
  spool_ = std::move(pages);
  ReplaySpool();
  spool_.clear();
  EndDoc();
}

void TQtPrinterCanvas::Abort() {
  if (target_ == TJobTarget::PdfFile && painter_.isActive()) {
    painter_.end();
  }
  CloseJob();
}

void TQtPrinterCanvas::CloseJob() {
  // A file still under its hidden name is one the job did not complete.
  DiscardPdfFile();
  if (jobFolderFd_ >= 0) close(jobFolderFd_);
  jobFolderFd_ = -1;
  jobFolder_.clear();
  finalName_.clear();
  target_ = TJobTarget::None;
  jobPrinter_.reset();
  jobFile_.clear();
  pendingChosenFile_ = false;
  pagesBeforeText_ = 0;
  spool_.clear();
}

const QPaintDevice& TQtPrinterCanvas::MetricsDevice() const {
  if (target_ == TJobTarget::PdfFile) return *pdfWriter_;
  if (target_ == TJobTarget::Printer && jobPrinter_) return *jobPrinter_;
  if (!metricsPage_) {
    metricsPage_ = std::make_unique<QPdfWriter>(QString());
    metricsPage_->setResolution(kPdfResolution);
    metricsPage_->setPageLayout(DefaultPdfLayout());
  }
  return *metricsPage_;
}

int TQtPrinterCanvas::PageWidth() const { return MetricsDevice().width(); }

int TQtPrinterCanvas::PageHeight() const { return MetricsDevice().height(); }

int TQtPrinterCanvas::TextHeight(std::string_view) const {
  // The height of a line of the font, whatever the text, as the layout expects.
  return QFontMetrics(font_, &MetricsDevice()).height();
}

int TQtPrinterCanvas::TextWidth(std::string_view text) const {
  return QFontMetrics(font_, &MetricsDevice()).horizontalAdvance(FromCp1252(text));
}

bool PrnSetDlg(QWidget* parent, TQtPrinterCanvas& canvas) {
  // The dialog works on a copy of the current choice, so that cancelling changes nothing.
  auto printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
  if (const QPrinter* current = canvas.ChosenPrinter()) {
    if (current->outputFormat() == QPrinter::NativeFormat) printer->setPrinterName(current->printerName());
    if (!current->outputFileName().isEmpty()) printer->setOutputFileName(current->outputFileName());
    printer->setPageLayout(current->pageLayout());
  }
  QPrintDialog dialog(printer.get(), parent);
  dialog.setOptions(QAbstractPrintDialog::PrintToFile | QAbstractPrintDialog::PrintShowPageSize);
  if (dialog.exec() != QDialog::Accepted) return false;
  canvas.SetChosenPrinter(std::move(printer));
  return true;
}

}  // namespace mirte
