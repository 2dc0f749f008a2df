#pragma once
// Starting the main window the way the program starts, from a test's own program folder:
// a settings file written there, and the window shown without its splash.
#include <QCoreApplication>

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "app/term_form.h"
#include "common/settings.h"
#include "support/temp_folder.h"

namespace mirte::testing {

// The default settings of a program in `folder`, with `folder` as the working folder.
inline SettingsRec FolderSettings(const TempFolder& folder) {
  TSettings defaults;
  defaults.ProgramFolder = folder.path().string() + "/";
  defaults.SetDefaultSettings();
  SettingsRec rec = defaults.Rec;
  rec.WorkFolder.Assign(folder.path().string());
  return rec;
}

// Writes `size` bytes of `rec` (zeros past its end) as the folder's settings file.
inline void WriteSettingsFile(const TempFolder& folder, const SettingsRec& rec, std::size_t size = sizeof(SettingsRec)) {
  std::vector<std::uint8_t> bytes(size, 0);
  std::memcpy(bytes.data(), &rec, std::min(size, sizeof rec));
  folder.write("mirte.SET", bytes);
}

// The main window of a program in `folder`, shown; no splash, and a Terminate that does
// nothing unless the options bring their own.
inline std::unique_ptr<TTermFrm> StartMainWindow(const TempFolder& folder, TTermFrmOptions options = {}) {
  if (options.ProgramFile.empty()) options.ProgramFile = (folder / "mirte").string();
  options.ShowSplash = false;
  if (!options.Terminate) options.Terminate = [] {};
  auto form = std::make_unique<TTermFrm>(options);
  form->show();
  QCoreApplication::processEvents();
  return form;
}

}  // namespace mirte::testing
