#include "eprom/qt_dialogs.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QInputDialog>
#include <QMessageBox>

#include <algorithm>

#include "eprom/tag_captions.h"

namespace mirte {

namespace {

QString FromUtf8(const std::string& text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }

const QString kBoxTitle = QStringLiteral("MIRTE");

}  // namespace

std::optional<std::string> TQtEpixDialogs::ChooseFile(const TFileDialogSpec& request, int language) {
  auto chosen = RunFileDialog(request, language, false);
  if (chosen.empty()) return std::nullopt;
  return chosen.front();
}

std::vector<std::string> TQtEpixDialogs::ChooseFiles(const TFileDialogSpec& request, int language) {
  return RunFileDialog(request, language, !request.Save);
}

std::vector<std::string> TQtEpixDialogs::RunFileDialog(const TFileDialogSpec& request, int language, bool several) {
  QFileDialog dialog(owner_, EpromText(language, request.TitleMessage));
  QStringList filters;
  for (const auto& filter : SplitFilter(FilterMessageText(language, request.FilterMessage))) filters << FromUtf8(filter);
  dialog.setNameFilters(filters);
  if (!filters.isEmpty()) dialog.selectNameFilter(filters.first());
  dialog.setDefaultSuffix(FromUtf8(request.DefaultSuffix));
  dialog.setAcceptMode(request.Save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
  dialog.setFileMode(request.Save ? QFileDialog::AnyFile : several ? QFileDialog::ExistingFiles : QFileDialog::ExistingFile);
  if (!request.PresetPath.empty()) {
    const QFileInfo preset(FromUtf8(request.PresetPath));
    dialog.setDirectory(preset.absolutePath());
    dialog.selectFile(preset.fileName());
  } else if (!request.StartFolder.empty()) {
    dialog.setDirectory(FromUtf8(request.StartFolder));
  }
  if (runner_.Run(dialog) != QDialog::Accepted) return {};
  std::vector<std::string> paths;
  for (const QString& path : dialog.selectedFiles())
    if (!path.isEmpty()) paths.push_back(path.toStdString());
  if (!several && paths.size() > 1) paths.resize(1);
  return paths;
}

bool TQtEpixDialogs::AskText(const std::string& caption, const std::string& prompt, std::string& text) {
  QInputDialog dialog(owner_);
  dialog.setInputMode(QInputDialog::TextInput);
  dialog.setWindowTitle(FromUtf8(caption));
  dialog.setLabelText(FromUtf8(prompt));
  dialog.setTextValue(FromUtf8(text));
  // The window manager draws the title in a bolder, often larger font than the dialog's,
  // with its buttons beside it; a dialog sized to its field alone cuts the title short.
  QFont titleFont = dialog.font();
  titleFont.setBold(true);
  const int titleWidth = QFontMetrics(titleFont).horizontalAdvance(dialog.windowTitle()) * 5 / 4 + 120;
  dialog.setMinimumWidth(std::max(dialog.minimumSizeHint().width(), titleWidth));
  if (runner_.Run(dialog) != QDialog::Accepted) return false;
  text = dialog.textValue().toStdString();
  return true;
}

void TQtEpixDialogs::ShowMessage(const std::string& text, TMsgIcon icon) {
  QMessageBox box(icon == TMsgIcon::Error ? QMessageBox::Critical : QMessageBox::Warning, kBoxTitle, FromUtf8(text),
                  QMessageBox::Ok, owner_);
  runner_.Run(box);
}

bool TQtEpixDialogs::Confirm(const std::string& text) {
  QMessageBox box(QMessageBox::Question, kBoxTitle, FromUtf8(text), QMessageBox::Ok | QMessageBox::Cancel, owner_);
  box.setDefaultButton(QMessageBox::Ok);
  return runner_.Run(box) == QMessageBox::Ok;
}

}  // namespace mirte
