#include "app/command_line.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace mirte {
namespace {

struct Answer {
  std::optional<int> code;
  std::string text;
};

Answer Answered(std::vector<const char*> args) {
  args.insert(args.begin(), "mirte");
  std::ostringstream out;
  auto code = AnswerCommandLine(static_cast<int>(args.size()), args.data(), out);
  return {code, out.str()};
}

TEST(CommandLineTest, HelpAndVersionPrintAShortTextAndEndWithZero) {
  const Answer version = Answered({"--version"});
  EXPECT_EQ(version.code, 0);
  EXPECT_EQ(version.text, "mirte 1.01.0\n");
  const Answer help = Answered({"--help", "ignored"});
  EXPECT_EQ(help.code, 0);
  EXPECT_EQ(help.text.rfind("Usage: mirte", 0), 0u);
  EXPECT_NE(help.text.find("--version"), std::string::npos);
  EXPECT_LT(help.text.size(), 800u);
}

TEST(CommandLineTest, AnyOtherArgumentStartsTheWindowAndPrintsNothing) {
  for (auto args : std::vector<std::vector<const char*>>{{}, {"-h"}, {"--Help"}, {"file.txt"}, {"--version=2"}, {""}}) {
    const Answer other = Answered(args);
    EXPECT_FALSE(other.code.has_value()) << (args.empty() ? "(none)" : args[0]);
    EXPECT_TRUE(other.text.empty());
  }
}

}  // namespace
}  // namespace mirte
