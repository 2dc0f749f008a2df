#include "serve/serve_options.h"

#include <gtest/gtest.h>

namespace mirte {
namespace {

TEST(ServeOptionsTest, ReadsEveryOptionInBothSpellings) {
  std::string error;
  auto options = ParseServeOptions({"--settings", "rig.SET", "--port=com7:", "--baud", "57600", "--folder=/srv/b",
                                    "--console-pty", "/run/c", "--frames", "--print-to-pdf", "/srv/pdf"},
                                   error);
  ASSERT_TRUE(options) << error;
  EXPECT_EQ(options->SettingsFile, "rig.SET");
  EXPECT_EQ(options->ComNumber, 7);
  EXPECT_EQ(options->Baud, 57600);
  EXPECT_EQ(options->Folder, "/srv/b");
  EXPECT_EQ(options->ConsolePty, "/run/c");
  EXPECT_TRUE(options->Frames);
  EXPECT_EQ(options->PdfFolder, "/srv/pdf");
  EXPECT_FALSE(options->ConsoleStdio);
}

TEST(ServeOptionsTest, LeavesOutWhatIsNotGivenSoTheSettingsFileDecides) {
  std::string error;
  auto options = ParseServeOptions({}, error);
  ASSERT_TRUE(options);
  EXPECT_FALSE(options->ComNumber);
  EXPECT_FALSE(options->Baud);
  EXPECT_TRUE(options->Folder.empty());
  EXPECT_TRUE(options->SettingsFile.empty());
}

TEST(ServeOptionsTest, RefusesMalformedOrConflictingOptionsWithAReason) {
  const struct {
    std::vector<std::string> args;
    const char* reason;
  } cases[] = {
      {{"--port", "COM51"}, "COM1 to COM50"},
      {{"--port", "LPT1"}, "COM1 to COM50"},
      {{"--baud", "115201"}, "not one of"},
      {{"--baud", ""}, "not one of"},
      {{"--drive", "Q=/x"}, "A to P"},
      {{"--drive", "A/x"}, "A to P"},
      {{"--frames=yes"}, "takes no value"},
      {{"--device"}, "needs a value"},
      {{"--folder", "/a", "--folder", "/b"}, "twice"},
      {{"--port", "COM1", "--device", "/dev/ttyUSB0"}, "exclude"},
      {{"--console-stdio", "--console-pty", "/run/c"}, "exclude"},
      {{"--print-to-pdf", "/p", "--printer", "lp"}, "exclude"},
      {{"-x"}, "unknown option"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args[0]);
    std::string error;
    EXPECT_FALSE(ParseServeOptions(c.args, error));
    EXPECT_NE(error.find(c.reason), std::string::npos) << error;
    EXPECT_EQ(error.find('\n'), std::string::npos);
  }
}

}  // namespace
}  // namespace mirte
