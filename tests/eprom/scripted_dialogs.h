#pragma once
// Dialogs answered from a script: file choices, typed names and OK/Cancel answers are
// taken in order; every message shown and every file dialog asked for is recorded.
// A script that runs dry answers Cancel, so a test never waits for a user.
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "eprom/rom_disk_editor.h"

namespace mirte::testing {

class ScriptedDialogs : public IEpixDialogs {
public:
  struct Shown {
    std::string Text;
    TMsgIcon Icon;
  };

  std::deque<std::optional<std::string>> Files;
  // Answers of dialogs that take several files; while none are left, such a dialog is
  // answered from Files, one file at a time.
  std::deque<std::vector<std::string>> FileLists;
  std::deque<std::optional<std::string>> Names;  // nothing = Cancel
  std::deque<bool> Confirms;
  std::vector<TFileDialogSpec> FileDialogs;
  std::vector<std::string> NamePresets;
  std::vector<std::string> NamePrompts;
  std::vector<Shown> Messages;
  std::function<void()> WhileFileDialogOpen;

  std::optional<std::string> ChooseFile(const TFileDialogSpec& request, int) override {
    FileDialogs.push_back(request);
    if (WhileFileDialogOpen) WhileFileDialogOpen();
    if (Files.empty()) return std::nullopt;
    auto answer = Files.front();
    Files.pop_front();
    return answer;
  }
  std::vector<std::string> ChooseFiles(const TFileDialogSpec& request, int language) override {
    if (FileLists.empty()) return IEpixDialogs::ChooseFiles(request, language);
    FileDialogs.push_back(request);
    auto answer = FileLists.front();
    FileLists.pop_front();
    return answer;
  }
  bool AskText(const std::string&, const std::string& prompt, std::string& text) override {
    NamePresets.push_back(text);
    NamePrompts.push_back(prompt);
    if (Names.empty() || !Names.front()) {
      if (!Names.empty()) Names.pop_front();
      return false;
    }
    text = *Names.front();
    Names.pop_front();
    return true;
  }
  void ShowMessage(const std::string& text, TMsgIcon icon) override { Messages.push_back({text, icon}); }
  bool Confirm(const std::string& text) override {
    Messages.push_back({text, TMsgIcon::Warning});
    if (Confirms.empty()) return false;
    const bool answer = Confirms.front();
    Confirms.pop_front();
    return answer;
  }
};

}  // namespace mirte::testing
