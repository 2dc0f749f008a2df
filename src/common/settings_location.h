#pragma once
// Where the settings file and the dosdevices/ folder live. A program folder the user can
// write that already holds a settings file or a dosdevices/ folder (a build tree, a copy
// carried on a stick) keeps both beside the program. Any other program, such as one
// installed in /usr/bin, keeps them per user in $XDG_CONFIG_HOME/mirte/ (~/.config/mirte/
// when that is unset, empty or not absolute). With no home folder known at all, the
// program folder is used whatever its state: saving then may fail, which is ignored.
#include <string>

namespace mirte {

// What the per-user rule reads from the environment, passed in so tests choose it.
struct TUserFolders {
  std::string ConfigHome;  // $XDG_CONFIG_HOME as set; empty when unset
  std::string Home;        // $HOME, else the home folder of the user's account
};

struct TSettingsLocation {
  std::string ProgramFolder;   // the program's folder, with a trailing '/'
  std::string SettingsFolder;  // holds the settings file and dosdevices/, trailing '/'
  std::string SettingsPath;
  bool BesideProgram = false;

  std::string DosDevicesFolder() const { return SettingsFolder + "dosdevices"; }
};

TUserFolders UserFoldersFromEnvironment();

// The rule above for a program file (its absolute path).
TSettingsLocation FindSettingsLocation(const std::string& programFile, const TUserFolders& user);
TSettingsLocation FindSettingsLocation(const std::string& programFile);

// Beside the program whatever the folder holds: `<program name>.SET` and dosdevices/.
TSettingsLocation SettingsBesideProgram(const std::string& programFile);

// Creates the settings folder and those above it where missing; a per-user folder is made
// readable by its owner only. False when it is not a folder afterwards.
bool CreateSettingsFolder(const TSettingsLocation& location);

}  // namespace mirte
