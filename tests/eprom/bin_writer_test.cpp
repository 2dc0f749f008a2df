#include "eprom/bin_writer.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "common/msg_table.h"
#include "support/temp_folder.h"

namespace mirte {
namespace {

using Bytes = std::vector<std::uint8_t>;

struct RecordingProgress : IBinProgress {
  std::int32_t Max = -1;
  std::vector<std::int32_t> Positions;
  std::vector<std::string> Messages;
  bool LastFailed = false;

  void SetProgressMax(std::int32_t max) override { Max = max; }
  void SetProgress(std::int32_t position) override { Positions.push_back(position); }
  void ShowMessage(const std::string& text, bool failed) override {
    Messages.push_back(text);
    LastFailed = failed;
  }
};

Bytes Pattern(std::size_t size, std::uint8_t seed) {
  Bytes bytes(size);
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(seed + i * 7);
  return bytes;
}

bool AllEqual(const Bytes& image, std::size_t from, std::size_t to, std::uint8_t value) {
  for (std::size_t i = from; i < to; ++i)
    if (image[i] != value) return false;
  return true;
}

bool SameAs(const Bytes& image, std::size_t at, const Bytes& expected) {
  return image.size() >= at + expected.size() && std::equal(expected.begin(), expected.end(), image.begin() + static_cast<long>(at));
}

class BinWriterTest : public ::testing::Test {
protected:
  testing::TempFolder folder;
  TRDRec rec;
  RecordingProgress progress;

  void SetUp() override { rec.BinFile = (folder / "OUT.BIN").string(); }

  void UseOSImage(const Bytes& bytes) { rec.SOLVFile = folder.write("OS.BIN", bytes).string(); }

  void AddFile(const std::string& name, const Bytes& bytes) {
    const auto path = folder.write("files/" + std::to_string(rec.FileCount) + ".SVX", bytes);
    rec.Files[rec.FileCount] = {path.string(), PadRomDiskName(name), RoundToRecords(static_cast<std::int64_t>(bytes.size()))};
    ++rec.FileCount;
  }

  TBinState Build(int language = kLanguageEnglish) {
    TBinWriter writer(rec, language, progress);
    writer.MakeBIN();
    EXPECT_FALSE(writer.BuffersHeld());
    EXPECT_EQ(writer.FinalMessage(), progress.Messages.back());
    EXPECT_EQ(progress.LastFailed, writer.State() != kBinOk);
    return writer.State();
  }

  Bytes Image() const { return testing::readFileBytes(rec.BinFile); }

  Bytes Directory(const Bytes& image) const {
    const auto at = static_cast<std::size_t>(rec.EPROM().OSArea);
    return Bytes(image.begin() + static_cast<long>(at), image.begin() + static_cast<long>(at + kRomDirSize));
  }
};

TEST_F(BinWriterTest, EmptyRomDiskGivesOSImageZeroDirectoryAndErasedRest) {
  const Bytes os = Pattern(16384, 3);
  UseOSImage(os);
  ASSERT_EQ(Build(), kBinOk);
  const Bytes image = Image();
  ASSERT_EQ(image.size(), 131072u);
  EXPECT_TRUE(SameAs(image, 0, os));
  EXPECT_TRUE(AllEqual(image, 0x4000, 0x4900, 0x00));
  EXPECT_TRUE(AllEqual(image, 0x4900, image.size(), 0xFF));
  EXPECT_EQ(progress.Max, 131072);
  EXPECT_EQ(progress.Positions.back(), 131072);
}

TEST_F(BinWriterTest, OneShortFileWithoutQ17) {
  rec.EPROMType = 0;
  UseOSImage(Pattern(1000, 1));
  const Bytes file = Pattern(200, 9);
  AddFile("TEST.COM", file);
  ASSERT_EQ(Build(), kBinOk);
  const Bytes image = Image();
  ASSERT_EQ(image.size(), 65536u);
  EXPECT_TRUE(AllEqual(image, 1000, 0x4000, 0xFF));

  const Bytes dir = Directory(image);
  const Bytes header{0x0E, 1, 0x48, 0x40, 0xFF, 0x00, 0x4A, 0x00};
  EXPECT_TRUE(SameAs(dir, 0, header));
  EXPECT_TRUE(AllEqual(dir, 8, 35, 0));
  EXPECT_EQ(dir[35], 0x55);
  const Bytes entry{0x0E, 'T', 'E', 'S', 'T', ' ', ' ', ' ', ' ', 'C', 'O', 'M', 0, 0, 0, 0, 0x00, 0x49, 0x00, 2, 0};
  EXPECT_TRUE(SameAs(dir, 36, entry));
  EXPECT_TRUE(AllEqual(dir, 36 + 21, kRomDirSize, 0));

  EXPECT_TRUE(SameAs(image, 0x4900, file));
  EXPECT_TRUE(AllEqual(image, 0x49C8, 0x4A00, 0x1A));
  EXPECT_TRUE(AllEqual(image, 0x4A00, 65536, 0xFF));
}

TEST_F(BinWriterTest, PageOffsetCarriesOddPageBitOnlyWithQ17) {
  rec.EPROMType = 2;
  UseOSImage(Pattern(16384, 5));
  const Bytes first = Pattern(0x8100 - 0x4900, 1);  // the second slot starts at 0x8100
  const Bytes second = Pattern(0x8000, 2);          // the third at 0x10100
  const Bytes third = Pattern(128, 3);
  AddFile("ONE", first);
  AddFile("TWO", second);
  AddFile("THREE", third);

  struct Case {
    bool q17;
    Bytes secondStart, thirdStart, end;
  };
  for (const Case& c : {Case{false, {0x00, 0x01, 0x01}, {0x00, 0x01, 0x02}, {0x80, 0x01, 0x02}},
                        Case{true, {0x00, 0x81, 0x01}, {0x00, 0x01, 0x02}, {0x80, 0x01, 0x02}}}) {
    SCOPED_TRACE(c.q17 ? "Q17 on" : "Q17 off");
    rec.Q17 = c.q17;
    ASSERT_EQ(Build(), kBinOk);
    const Bytes image = Image();
    ASSERT_EQ(image.size(), 262144u);
    const Bytes dir = Directory(image);
    EXPECT_TRUE(SameAs(dir, 36 + 16, {0x00, 0x49, 0x00, 0x70, 0x00}));  // 0x3800 bytes = 112 records
    EXPECT_TRUE(SameAs(dir, 72 + 16, c.secondStart));
    EXPECT_TRUE(SameAs(dir, 72 + 19, {0x00, 0x01}));  // 256 records
    EXPECT_TRUE(SameAs(dir, 108 + 16, c.thirdStart));
    EXPECT_TRUE(SameAs(dir, 5, c.end));
    EXPECT_TRUE(SameAs(dir, 2, {0x90, 0x40}));  // 0x4000 + 36 * 4
    EXPECT_TRUE(SameAs(image, 0x8100, second));
    EXPECT_TRUE(SameAs(image, 0x10100, third));
    EXPECT_TRUE(AllEqual(image, 0x10180, image.size(), 0xFF));
  }
}

TEST_F(BinWriterTest, EmptyFileTakesNoBytesAndWholeRecordsGetNoPadding) {
  rec.EPROMType = 0;
  UseOSImage(Pattern(100, 0));
  AddFile("EMPTY.TXT", {});
  const Bytes whole = Pattern(256, 4);
  AddFile("WHOLE.DAT", whole);
  ASSERT_EQ(Build(), kBinOk);
  const Bytes image = Image();
  const Bytes dir = Directory(image);
  EXPECT_TRUE(SameAs(dir, 36 + 16, {0x00, 0x49, 0x00, 0x00, 0x00}));
  EXPECT_TRUE(SameAs(dir, 72 + 16, {0x00, 0x49, 0x00, 0x02, 0x00}));
  EXPECT_TRUE(SameAs(image, 0x4900, whole));
  EXPECT_TRUE(AllEqual(image, 0x4A00, image.size(), 0xFF));
}

TEST_F(BinWriterTest, LargestTypeMovesDirectoryAndDataPastTheBiggerOSArea) {
  rec.EPROMType = 3;
  const Bytes os = Pattern(5000, 8);
  UseOSImage(os);
  const Bytes file = Pattern(40000, 6);  // one full copy block and a rest
  AddFile("BIG.SVX", file);
  ASSERT_EQ(Build(), kBinOk);
  const Bytes image = Image();
  ASSERT_EQ(image.size(), 524288u);
  EXPECT_TRUE(SameAs(image, 0, os));
  EXPECT_TRUE(AllEqual(image, 5000, 0x10000, 0xFF));
  const Bytes dir = Directory(image);
  EXPECT_EQ(dir[0], 0x0E);
  EXPECT_TRUE(SameAs(dir, 36 + 16, {0x00, 0x09, 0x02, 0x39, 0x01}));  // 0x10900: page 2, 313 records
  EXPECT_TRUE(SameAs(image, 0x10900, file));
  EXPECT_TRUE(AllEqual(image, 0x10900 + 40000, 0x10900 + 40064, 0x1A));
  EXPECT_TRUE(AllEqual(image, 0x10900 + 40064, image.size(), 0xFF));
}

TEST_F(BinWriterTest, DirectoryNamesSplitAtTheLastDot) {
  struct Case {
    std::string name, stored;
  };
  const std::vector<Case> cases{
      {"TEST.COM", "TEST    COM"}, {"ABCDEFGHIJKL", "ABCDEFGH   "}, {"A.B", "A       B  "},
      {"AB.C.C", "AB.C    C  "},   {"LONGNAME.X", "LONGNAMEX  "}, {"X.ABC", "X       ABC"},
  };
  for (const auto& c : cases) {
    rec.FileCount = 1;
    rec.Files[0] = {"", PadRomDiskName(c.name), 0};
    std::array<std::uint8_t, kRomDirSize> dir{};
    MakeRomDir(rec, dir);
    EXPECT_EQ(std::string(dir.begin() + 37, dir.begin() + 48), c.stored) << c.name;
  }
}

TEST_F(BinWriterTest, MessagesFollowTheSteps) {
  UseOSImage(Pattern(10, 0));
  AddFile("TEST.COM", Pattern(10, 0));
  ASSERT_EQ(Build(kLanguageItalian), kBinOk);
  const int it = kLanguageItalian;
  const std::vector<std::string> expected{
      std::string(MsgTable(it, 78)), std::string(MsgTable(it, 79)), std::string(MsgTable(it, 80)),
      std::string(MsgTable(it, 81)), " N:TEST.COM    " + std::string(MsgTable(it, 82)),
      std::string(MsgTable(it, 83)), std::string(MsgTable(it, 84))};
  EXPECT_EQ(progress.Messages, expected);
  EXPECT_FALSE(MsgTable(it, 84).empty());
}

TEST_F(BinWriterTest, MissingRomDiskFileEndsBuildWhereItStood) {
  UseOSImage(Pattern(16384, 0));
  AddFile("FIRST.COM", Pattern(300, 1));
  AddFile("GONE.COM", Pattern(300, 2));
  AddFile("LAST.COM", Pattern(300, 3));
  std::filesystem::remove(rec.Files[1].Path);
  ASSERT_EQ(Build(), kBinRomFileError);
  EXPECT_EQ(progress.Messages.back(), std::string(MsgTable(kLanguageEnglish, 59)) + "GONE.COM    ");
  EXPECT_EQ(Image().size(), 0x4900u + 384);
}

TEST_F(BinWriterTest, RomDiskFileThatChangedSlotSizeIsRefused) {
  UseOSImage(Pattern(16384, 0));
  AddFile("GROWN.COM", Pattern(300, 1));
  folder.write("files/0.SVX", Pattern(400, 1));  // 384 listed, 512 now
  ASSERT_EQ(Build(), kBinRomFileError);
  EXPECT_EQ(progress.Messages.back(), std::string(MsgTable(kLanguageEnglish, 59)) + "GROWN.COM   ");
  EXPECT_EQ(Image().size(), 0x4900u);

  folder.write("files/0.SVX", Pattern(380, 1));  // same slot, different length: still fits
  ASSERT_EQ(Build(), kBinOk);
  EXPECT_EQ(Image().size(), 131072u);
}

TEST_F(BinWriterTest, OSImageThatGrewOrVanishedIsAReadError) {
  for (const bool vanished : {false, true}) {
    SCOPED_TRACE(vanished ? "vanished" : "grew");
    UseOSImage(Pattern(kMaxOSImageSize + 1, 0));
    if (vanished) std::filesystem::remove(rec.SOLVFile);
    ASSERT_EQ(Build(), kBinOSImageError);
    EXPECT_EQ(progress.Messages.back(), MsgTable(kLanguageEnglish, 86));
    EXPECT_TRUE(Image().empty());
  }
}

TEST_F(BinWriterTest, OutputThatCannotBeCreatedWritesNothing) {
  UseOSImage(Pattern(100, 0));
  rec.BinFile = (folder / "missing" / "OUT.BIN").string();
  ASSERT_EQ(Build(), kBinCreateError);
  EXPECT_EQ(progress.Messages.back(), MsgTable(kLanguageEnglish, 85));
  EXPECT_FALSE(std::filesystem::exists(rec.BinFile));

  rec.BinFile = folder.path().string();  // a folder cannot be replaced by the image
  ASSERT_EQ(Build(), kBinCreateError);
  EXPECT_TRUE(std::filesystem::is_directory(rec.BinFile));
}

TEST_F(BinWriterTest, ExistingOutputIsReplacedNotAppended) {
  UseOSImage(Pattern(100, 0));
  folder.write("OUT.BIN", Pattern(200000, 0));
  ASSERT_EQ(Build(), kBinOk);
  EXPECT_EQ(Image().size(), 131072u);
}

}  // namespace
}  // namespace mirte
