#include "common/settings_location.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include "common/settings.h"
#include "support/temp_folder.h"

namespace mirte {
namespace {

namespace fs = std::filesystem;

// The superuser writes into any folder, so a read-only program folder is only read-only
// to an ordinary account: as root, the question is asked by a child that has become one.
std::string AsOrdinaryUser(const std::function<std::string()>& ask) {
  if (::geteuid() != 0) return ask();
  int pipeEnds[2];
  if (::pipe(pipeEnds) != 0) return "pipe failed";
  const pid_t child = ::fork();
  if (child == 0) {
    ::close(pipeEnds[0]);
    if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(2);
    const std::string answer = ask();
    ssize_t ignored = ::write(pipeEnds[1], answer.data(), answer.size());
    (void)ignored;
    ::_exit(0);
  }
  ::close(pipeEnds[1]);
  std::string answer;
  char buffer[512];
  for (ssize_t n; (n = ::read(pipeEnds[0], buffer, sizeof buffer)) > 0;) answer.append(buffer, static_cast<std::size_t>(n));
  ::close(pipeEnds[0]);
  int status = 0;
  ::waitpid(child, &status, 0);
  return answer;
}

class SettingsLocationTest : public ::testing::Test {
protected:
  testing::TempFolder folder;
  fs::path programFolder = folder / "bin";
  std::string program = (programFolder / "mirte").string();
  std::string config = (folder / "config").string();
  std::string home = (folder / "home").string();

  void SetUp() override {
    fs::create_directories(programFolder);
    // Other accounts must be able to look into the folders (see AsOrdinaryUser).
    fs::permissions(folder.path(), fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
  }

  std::string Found(const TUserFolders& user) { return FindSettingsLocation(program, user).SettingsPath; }
  std::string Beside() const { return (programFolder / "mirte.SET").string(); }
};

TEST_F(SettingsLocationTest, AWritableProgramFolderIsUsedOnlyWhenItAlreadyHoldsTheProgramsFiles) {
  const TUserFolders user{config, home};
  const std::string perUser = config + "/mirte/mirte.SET";
  struct Case {
    const char* what;
    std::function<void()> prepare;
    std::string expected;
  };
  const Case cases[] = {
      {"nothing there", [] {}, perUser},
      {"a settings file", [&] { folder.write("bin/mirte.SET", std::string(604, '\0')); }, Beside()},
      {"a dosdevices folder", [&] { fs::create_directory(programFolder / "dosdevices"); }, Beside()},
      {"a link named like the settings file", [&] { fs::create_symlink(folder / "elsewhere", Beside()); }, perUser},
      {"a file named dosdevices", [&] { folder.write("bin/dosdevices", std::string("x")); }, perUser},
  };
  for (const Case& c : cases) {
    fs::remove_all(Beside());
    fs::remove_all(programFolder / "dosdevices");
    c.prepare();
    EXPECT_EQ(Found(user), c.expected) << c.what;
  }
}

TEST_F(SettingsLocationTest, AReadOnlyProgramFolderSendsTheSettingsToTheUsersConfigFolder) {
  folder.write("bin/mirte.SET", std::string(604, '\0'));
  fs::create_directory(programFolder / "dosdevices");
  fs::permissions(programFolder, fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_exec |
                                     fs::perms::others_read | fs::perms::others_exec);
  const TUserFolders user{config, home};
  EXPECT_EQ(AsOrdinaryUser([&] { return Found(user); }), config + "/mirte/mirte.SET");
  EXPECT_EQ(AsOrdinaryUser([&] { return FindSettingsLocation(program, user).DosDevicesFolder(); }),
            config + "/mirte/dosdevices");
}

TEST_F(SettingsLocationTest, ConfigHomeFallsBackToDotConfigAndTheProgramFolderIsTheLastResort) {
  struct Case {
    TUserFolders user;
    std::string expected;
  };
  const Case cases[] = {
      {{config, home}, config + "/mirte/mirte.SET"},
      {{config + "/", home}, config + "/mirte/mirte.SET"},
      {{"", home}, home + "/.config/mirte/mirte.SET"},
      {{"relative/config", home}, home + "/.config/mirte/mirte.SET"},
      {{"", ""}, Beside()},
      {{"", "relative/home"}, Beside()},
  };
  for (const Case& c : cases)
    EXPECT_EQ(Found(c.user), c.expected) << "XDG_CONFIG_HOME=" << c.user.ConfigHome << " HOME=" << c.user.Home;
  EXPECT_EQ(FindSettingsLocation(program, {config, home}).ProgramFolder, programFolder.string() + "/");
}

TEST_F(SettingsLocationTest, TheEnvironmentNamesTheConfigFolder) {
  const char* savedConfig = std::getenv("XDG_CONFIG_HOME");
  const char* savedHome = std::getenv("HOME");
  const std::optional<std::string> config0 = savedConfig ? std::optional<std::string>(savedConfig) : std::nullopt;
  const std::optional<std::string> home0 = savedHome ? std::optional<std::string>(savedHome) : std::nullopt;

  ::setenv("XDG_CONFIG_HOME", config.c_str(), 1);
  ::setenv("HOME", home.c_str(), 1);
  EXPECT_EQ(FindSettingsLocation(program).SettingsPath, config + "/mirte/mirte.SET");
  ::unsetenv("XDG_CONFIG_HOME");
  EXPECT_EQ(FindSettingsLocation(program).SettingsPath, home + "/.config/mirte/mirte.SET");
  ::unsetenv("HOME");
  EXPECT_FALSE(UserFoldersFromEnvironment().Home.empty()) << "the account's home stands in for HOME";

  config0 ? ::setenv("XDG_CONFIG_HOME", config0->c_str(), 1) : ::unsetenv("XDG_CONFIG_HOME");
  home0 ? ::setenv("HOME", home0->c_str(), 1) : ::unsetenv("HOME");
}

TEST_F(SettingsLocationTest, FirstStartCreatesAPrivateConfigFolderWithTheSettingsFile) {
  const TSettingsLocation location = FindSettingsLocation(program, {"", home});
  TSettings settings;
  settings.LoadSettings(location);

  EXPECT_EQ(settings.SettingsPath, home + "/.config/mirte/mirte.SET");
  EXPECT_EQ(fs::file_size(settings.SettingsPath), 604u);
  struct stat info {};
  ASSERT_EQ(::stat((home + "/.config/mirte").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0700u);
  EXPECT_FALSE(fs::exists(Beside())) << "nothing is written beside the program";
  EXPECT_EQ(settings.ProgramFolder, programFolder.string() + "/");
}

TEST_F(SettingsLocationTest, AProgramNamedOtherwiseKeepsItsOwnSettingsNameBesideIt) {
  const std::string other = (programFolder / "mirte-dev").string();
  folder.write("bin/mirte-dev.SET", std::string(604, '\0'));
  EXPECT_EQ(FindSettingsLocation(other, {config, home}).SettingsPath, (programFolder / "mirte-dev.SET").string());
  fs::remove(programFolder / "mirte-dev.SET");
  EXPECT_EQ(FindSettingsLocation(other, {config, home}).SettingsPath, config + "/mirte/mirte.SET");
}

}  // namespace
}  // namespace mirte
