// Time to write a full 27c040 image (524288 bytes) with 63 ROM-disk files, from the
// directory to the last byte of 0xFF fill. Goal: under 100 ms.
#include <benchmark/benchmark.h>

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "common/msg_table.h"
#include "eprom/bin_writer.h"

namespace {

struct SilentProgress : mirte::IBinProgress {
  void SetProgressMax(std::int32_t) override {}
  void SetProgress(std::int32_t) override {}
  void ShowMessage(const std::string&, bool) override {}
};

void WriteFile(const std::filesystem::path& path, std::size_t size) {
  std::vector<char> bytes(size);
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(i * 31);
  std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(size));
}

void FullLargestImage(benchmark::State& state) {
  std::string pattern = (std::filesystem::temp_directory_path() / "mirte-bench-XXXXXX").string();
  if (!mkdtemp(pattern.data())) {
    state.SkipWithError("no temporary folder");
    return;
  }
  const std::filesystem::path folder = pattern;
  mirte::TRDRec rec;
  rec.EPROMType = 3;
  rec.SOLVFile = (folder / "OS.BIN").string();
  rec.BinFile = (folder / "OUT.BIN").string();
  WriteFile(rec.SOLVFile, 16384);
  // 62 files of 7200 bytes (7296-byte slots) and a last one that nearly fills the disk.
  const std::int32_t capacity = rec.EPROM().Capacity();
  std::int32_t left = capacity;
  for (int i = 0; i < mirte::kMaxRomDiskFiles; ++i) {
    const std::size_t size = i + 1 < mirte::kMaxRomDiskFiles ? 7200 : static_cast<std::size_t>(left - 100);
    const auto path = folder / ("F" + std::to_string(i) + ".SVX");
    WriteFile(path, size);
    rec.Files[static_cast<std::size_t>(i)] = {path.string(), mirte::PadRomDiskName("F" + std::to_string(i) + ".SVX"),
                                              mirte::RoundToRecords(static_cast<std::int64_t>(size))};
    left -= rec.Files[static_cast<std::size_t>(i)].Size;
  }
  rec.FileCount = mirte::kMaxRomDiskFiles;

  SilentProgress progress;
  for (auto _ : state) {
    mirte::TBinWriter writer(rec, mirte::kLanguageEnglish, progress);
    writer.MakeBIN();
    if (writer.State() != mirte::kBinOk) state.SkipWithError("build failed");
  }
  state.SetBytesProcessed(state.iterations() * rec.EPROM().ImageSize);
  std::filesystem::remove_all(folder);
}
BENCHMARK(FullLargestImage)->Unit(benchmark::kMillisecond);

}  // namespace
