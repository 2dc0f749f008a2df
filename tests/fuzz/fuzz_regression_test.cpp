// Every input a fuzz target once failed on, under regressions/<target>/, goes through the
// same entry point the fuzzer calls. An input that still breaks an invariant aborts this
// program, after naming the file on stderr.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <ostream>
#include <algorithm>
#include <string>
#include <vector>

#define ENTRY(target) extern "C" int Replay_##target(const std::uint8_t* data, std::size_t size);
#include "replay_entries.h"
#undef ENTRY

namespace {

namespace fs = std::filesystem;

using TEntry = int (*)(const std::uint8_t*, std::size_t);

struct Target {
  const char* name;
  TEntry entry;
};

void PrintTo(const Target& target, std::ostream* out) { *out << target.name; }

const Target kTargets[] = {
#define ENTRY(target) {#target, Replay_##target},
#include "replay_entries.h"
#undef ENTRY
};

// Files in the order of their names, so that a failure is reproduced in the same order.
std::vector<fs::path> InputsOf(const char* target) {
  std::vector<fs::path> inputs;
  const fs::path folder = fs::path(MIRTE_REGRESSIONS) / target;
  if (!fs::is_directory(folder)) return inputs;
  for (const auto& entry : fs::directory_iterator(folder)) {
    if (entry.is_regular_file() && entry.path().filename().string()[0] != '.') inputs.push_back(entry.path());
  }
  std::sort(inputs.begin(), inputs.end());
  return inputs;
}

class FuzzRegressionTest : public ::testing::TestWithParam<Target> {};

TEST_P(FuzzRegressionTest, EveryKeptInputPassesThroughItsTarget) {
  for (const fs::path& input : InputsOf(GetParam().name)) {
    std::ifstream in(input, std::ios::binary);
    const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::fprintf(stderr, "replaying %s\n", input.c_str());
    EXPECT_EQ(GetParam().entry(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()), 0) << input;
  }
}

// The seeds too: a target that no longer takes its own seeds is broken in the normal build.
TEST_P(FuzzRegressionTest, EverySeedPassesThroughItsTarget) {
  const fs::path seeds = fs::path(MIRTE_REGRESSIONS) / "../../../fuzz/corpus" / GetParam().name;
  if (!fs::is_directory(seeds)) GTEST_SKIP() << "no seeds";
  for (const auto& entry : fs::directory_iterator(seeds)) {
    std::ifstream in(entry.path(), std::ios::binary);
    const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(GetParam().entry(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()), 0)
        << entry.path();
  }
}

INSTANTIATE_TEST_SUITE_P(Targets, FuzzRegressionTest, ::testing::ValuesIn(kTargets),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
