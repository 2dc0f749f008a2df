#pragma once
// The EPIX window's dialogs with Qt: file open and save with the message table's titles and
// filters, the name prompt, message boxes with icons. Every modal dialog goes through one
// TDialogRunner, whose Answer hook (set by tests) replaces exec() so that a test can read
// the configured dialog and answer it without showing anything.
#include <QDialog>
#include <functional>

#include "eprom/rom_disk_editor.h"

class QWidget;

namespace mirte {

struct TDialogRunner {
  // Given the ready dialog, returns its result code as exec() would.
  std::function<int(QDialog&)> Answer;

  int Run(QDialog& dialog) const { return Answer ? Answer(dialog) : dialog.exec(); }
};

class TQtEpixDialogs : public IEpixDialogs {
public:
  TQtEpixDialogs(QWidget* owner, const TDialogRunner& runner) : owner_(owner), runner_(runner) {}

  std::optional<std::string> ChooseFile(const TFileDialogSpec& request, int language) override;
  std::vector<std::string> ChooseFiles(const TFileDialogSpec& request, int language) override;
  // The name prompt is at least as wide as its title needs.
  bool AskText(const std::string& caption, const std::string& prompt, std::string& text) override;
  void ShowMessage(const std::string& text, TMsgIcon icon) override;
  bool Confirm(const std::string& text) override;

private:
  std::vector<std::string> RunFileDialog(const TFileDialogSpec& request, int language, bool several);

  QWidget* owner_;
  const TDialogRunner& runner_;
};

}  // namespace mirte
