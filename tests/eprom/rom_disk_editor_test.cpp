#include "eprom/rom_disk_editor.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "common/msg_table.h"
#include "common/settings.h"
#include "eprom/scripted_dialogs.h"
#include "support/temp_folder.h"

namespace mirte {
namespace {

class RomDiskEditorTest : public ::testing::Test {
protected:
  testing::TempFolder folder;
  TSettings settings;
  testing::ScriptedDialogs dialogs;
  TRomDiskEditor editor{settings, dialogs};

  void SetUp() override {
    settings.Rec.Language = kLanguageEnglish;
    settings.Rec.WorkFolder.Assign(folder.path().string());
  }

  std::string File(const std::string& name, std::size_t size) {
    return folder.write(name, std::vector<std::uint8_t>(size, 0x41)).string();
  }
  std::string Text(int message) const { return std::string(MsgTable(kLanguageEnglish, message)); }

  // Lists a file under the given name; true when it was listed.
  bool Add(const std::string& path, const std::string& name) {
    dialogs.Files.push_back(path);
    dialogs.Names.push_back(name);
    int line = -2;
    const bool added = editor.AddFile(&line);
    EXPECT_EQ(line, added ? editor.RDRec.FileCount - 1 : -2);
    return added;
  }
  bool Add(std::size_t size) {
    const std::string name = "F" + std::to_string(editor.RDRec.FileCount) + ".SVX";
    return Add(File(name, size), name);
  }
  std::vector<std::string> Messages() const {
    std::vector<std::string> texts;
    for (const auto& m : dialogs.Messages) texts.push_back(m.Text);
    return texts;
  }
};

TEST_F(RomDiskEditorTest, SizesAreRoundedUpToWholeRecords) {
  for (const auto& [length, size] : std::vector<std::pair<std::size_t, std::int32_t>>{{0, 0}, {1, 128}, {128, 128}, {129, 256}}) {
    const std::string path = File("S" + std::to_string(length), length);
    EXPECT_EQ(editor.ChkRDFile(path, true, -1), size) << length;
    EXPECT_EQ(editor.ChkRDFile(path, false, -1), static_cast<std::int32_t>(length)) << length;
  }
  EXPECT_EQ(editor.ChkRDFile((folder / "none").string(), true, -1), -1);
  EXPECT_EQ(editor.ChkRDFile(folder.path().string(), false, -1), -1);
  EXPECT_TRUE(dialogs.Messages.empty());
}

TEST_F(RomDiskEditorTest, ExactlyFullDiskStillBuildsButTakesNothingMore) {
  editor.SetEPROMType(0);
  editor.RDRec.SOLVFile = File("OS.BIN", 100);
  editor.RDRec.BinFile = (folder / "OUT.BIN").string();
  ASSERT_TRUE(Add(46848 - 128));
  ASSERT_TRUE(Add(100));
  EXPECT_EQ(editor.CalcRDFree(), 0);
  EXPECT_TRUE(editor.ButtonStates(-1).Make);

  const TRDRec before = editor.RDRec;
  EXPECT_FALSE(Add(1));
  EXPECT_EQ(Messages(), std::vector<std::string>{Text(64)});
  EXPECT_EQ(dialogs.Messages[0].Icon, TMsgIcon::Error);
  EXPECT_TRUE(editor.RDRec == before);
}

TEST_F(RomDiskEditorTest, SmallerTypeKeepsFilesButDisablesMake) {
  editor.RDRec.SOLVFile = File("OS.BIN", 100);
  editor.RDRec.BinFile = (folder / "OUT.BIN").string();
  ASSERT_TRUE(Add(60000));
  editor.SetEPROMType(0);
  EXPECT_EQ(editor.BFree, -1);
  EXPECT_FALSE(editor.ButtonStates(0).Make);
  EXPECT_EQ(editor.RDRec.FileCount, 1);
  editor.SetEPROMType(1);
  EXPECT_EQ(editor.BFree, 112384 - 60032);
  EXPECT_TRUE(editor.ButtonStates(0).Make);
}

TEST_F(RomDiskEditorTest, ReplacingAFileGivesItsSpaceBack) {
  editor.SetEPROMType(0);
  ASSERT_TRUE(Add(46848 - 256));
  const std::string second = File("SECOND.SVX", 200);
  ASSERT_TRUE(Add(second, "SECOND.SVX"));
  ASSERT_EQ(editor.CalcRDFree(), 0);

  dialogs.Files.push_back(File("OTHER.SVX", 256));
  dialogs.Names.push_back("OTHER.SVX");
  ASSERT_TRUE(editor.ModifyFile(1));
  EXPECT_EQ(editor.RDRec.Files[1].Name, "OTHER.SVX   ");
  EXPECT_EQ(dialogs.FileDialogs.back().PresetPath, second);

  dialogs.Files.push_back(File("BIGGER.SVX", 257));
  EXPECT_FALSE(editor.ModifyFile(1));
  EXPECT_EQ(Messages(), std::vector<std::string>{Text(64)});
}

TEST_F(RomDiskEditorTest, SamePathTwiceIsRefusedButAnEntryMayKeepItsOwn) {
  const std::string path = File("TWICE.SVX", 10);
  ASSERT_TRUE(Add(path, "ONE"));
  const TRDRec before = editor.RDRec;
  EXPECT_FALSE(Add(path, "TWO"));
  EXPECT_EQ(Messages(), std::vector<std::string>{ShortPath(path, 55) + "\n\n" + Text(65)});
  EXPECT_TRUE(editor.RDRec == before);

  dialogs.Files.push_back(path);
  dialogs.Names.push_back("ONE");
  EXPECT_TRUE(editor.ModifyFile(0));
  EXPECT_EQ(dialogs.Messages.size(), 1u);
}

TEST_F(RomDiskEditorTest, NamesAreCheckedAndAskedAgainWithThePreviousText) {
  struct Case {
    std::string typed;
    int refusal;  // 0 = accepted
    std::string stored;
  };
  ASSERT_TRUE(Add(File("TAKEN.SVX", 10), "TEST.COM"));
  const std::vector<Case> cases{
      {"lower.svx", 0, "LOWER.SVX   "},  {"ABCDEFGHIJKL", 0, "ABCDEFGHIJKL"}, {"ABCDEFGHIJKLM", 70, ""},
      {"A.TEXT", 70, ""},                 {"", 70, ""},                        {"test.com", 71, ""},
      {"A.B.TXT", 0, "A.B.TXT     "},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.typed);
    dialogs.Messages.clear();
    dialogs.NamePresets.clear();
    dialogs.Files.push_back(File("N" + std::to_string(editor.RDRec.FileCount) + "X", 10));
    dialogs.Names = {c.typed, std::nullopt};
    int line = -1;
    EXPECT_EQ(editor.AddFile(&line), c.refusal == 0);
    if (c.refusal == 0) {
      EXPECT_EQ(editor.RDRec.Files[static_cast<std::size_t>(line)].Name, c.stored);
    } else {
      EXPECT_EQ(Messages(), std::vector<std::string>{Text(c.refusal)});
      ASSERT_EQ(dialogs.NamePresets.size(), 2u);
      EXPECT_EQ(dialogs.NamePresets[1], dialogs.NamePresets[0]);
    }
  }
}

TEST_F(RomDiskEditorTest, ProposedNameIsTheFilesAlias) {
  dialogs.Files.push_back(File("test.svx", 10));
  dialogs.Names.push_back(std::nullopt);
  dialogs.Files.push_back(File("a long file name.svx", 10));
  dialogs.Names.push_back(std::nullopt);
  editor.AddFile(nullptr);
  editor.AddFile(nullptr);
  EXPECT_EQ(dialogs.NamePresets, (std::vector<std::string>{"TEST.SVX", "ALONGF~1.SVX"}));
}

TEST_F(RomDiskEditorTest, SeveralFilesAreNamedOneAfterAnotherEachWithItsOwnProposal) {
  ASSERT_TRUE(Add(File("TAKEN.SVX", 10), "TAKEN.SVX"));
  EXPECT_EQ(dialogs.NamePrompts, std::vector<std::string>{Text(69)}) << "one file is asked for as always";
  dialogs.NamePresets.clear();
  dialogs.NamePrompts.clear();
  const std::string first = File("first.svx", 10);
  const std::string taken = File("TAKEN.SVX", 10);  // the same path again: refused, skipped
  const std::string big = File("big.svx", 200000);  // does not fit: refused, skipped
  const std::string second = File("a long second name.svx", 300);
  dialogs.FileLists.push_back({first, taken, big, second});
  dialogs.Names = {"ONE.SVX", "TWO.SVX"};
  int line = -2;
  EXPECT_TRUE(editor.AddFile(&line));

  EXPECT_EQ(dialogs.NamePresets, (std::vector<std::string>{"FIRST.SVX", "ALONGS~1.SVX"}));
  ASSERT_EQ(dialogs.NamePrompts.size(), 2u);
  EXPECT_EQ(dialogs.NamePrompts[0], ShortPath(first, 55) + "\n\n" + Text(69)) << "each prompt names its file";
  EXPECT_EQ(Messages(), (std::vector<std::string>{ShortPath(taken, 55) + "\n\n" + Text(65), Text(64)}));
  ASSERT_EQ(editor.RDRec.FileCount, 3);
  EXPECT_EQ(editor.RDRec.Files[1].Name, "ONE.SVX     ");
  EXPECT_EQ(editor.RDRec.Files[2].Name, "TWO.SVX     ");
  EXPECT_EQ(editor.RDRec.Files[2].Size, 384);
  EXPECT_EQ(line, 2) << "the last file added is selected";
}

TEST_F(RomDiskEditorTest, CancelOnANameKeepsTheFilesNamedSoFarAndDropsTheRest) {
  dialogs.FileLists.push_back({File("A.SVX", 10), File("B.SVX", 10), File("C.SVX", 10)});
  dialogs.Names = {"A.SVX", std::nullopt, "C.SVX"};
  EXPECT_TRUE(editor.AddFile(nullptr));
  EXPECT_EQ(editor.RDRec.FileCount, 1);
  EXPECT_EQ(dialogs.NamePresets.size(), 2u);

  dialogs.FileLists.push_back({File("D.SVX", 10), File("E.SVX", 10)});
  dialogs.Names = {std::nullopt};
  EXPECT_FALSE(editor.AddFile(nullptr)) << "nothing added";
  EXPECT_EQ(editor.RDRec.FileCount, 1);
}

TEST_F(RomDiskEditorTest, SeveralFilesStopAtTheSixtyThirdWithAMessage) {
  for (int i = 0; i < 61; ++i) ASSERT_TRUE(Add(0));
  dialogs.FileLists.push_back({File("X1", 0), File("X2", 0), File("X3", 0)});
  dialogs.Names = {"X1", "X2", "X3"};
  EXPECT_TRUE(editor.AddFile(nullptr));
  EXPECT_EQ(editor.RDRec.FileCount, 63);
  EXPECT_EQ(Messages(), std::vector<std::string>{"ROM-Disk full: at most 63 files"});
}

TEST_F(RomDiskEditorTest, ModifiedEntryMayKeepItsOwnName) {
  ASSERT_TRUE(Add(File("A.SVX", 10), "A.SVX"));
  ASSERT_TRUE(Add(File("B.SVX", 10), "B.SVX"));
  dialogs.Files.push_back(File("C.SVX", 10));
  dialogs.Names.push_back("B.SVX");
  EXPECT_TRUE(editor.ModifyFile(1));
  dialogs.Files.push_back(File("D.SVX", 10));
  dialogs.Names = {"A.SVX", std::nullopt};
  EXPECT_FALSE(editor.ModifyFile(1));
  EXPECT_EQ(Messages(), std::vector<std::string>{Text(71)});
  EXPECT_EQ(editor.RDRec.Files[1].Path, (folder / "C.SVX").string());
}

TEST_F(RomDiskEditorTest, SixtyThreeFilesIsTheLimit) {
  for (int i = 0; i < kMaxRomDiskFiles; ++i) ASSERT_TRUE(Add(10)) << i;
  EXPECT_FALSE(editor.ButtonStates(0).Add);
  dialogs.FileDialogs.clear();
  EXPECT_FALSE(Add(10));
  EXPECT_TRUE(dialogs.FileDialogs.empty());
}

TEST_F(RomDiskEditorTest, DeleteSelectsTheFileThatMovedUp) {
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(Add(10));
  const std::string third = editor.RDRec.Files[2].Path;
  int line = -2;
  ASSERT_TRUE(editor.DeleteFile(1, &line));
  EXPECT_EQ(line, 1);
  EXPECT_EQ(editor.RDRec.Files[1].Path, third);
  EXPECT_TRUE(editor.RDRec.Files[2] == TDirList{});

  ASSERT_TRUE(editor.DeleteFile(1, &line));
  EXPECT_EQ(line, 0);
  ASSERT_TRUE(editor.DeleteFile(0, &line));
  EXPECT_EQ(line, -1);
  const auto buttons = editor.ButtonStates(line);
  EXPECT_FALSE(buttons.Modify || buttons.Delete || buttons.DelAll);
  EXPECT_FALSE(editor.DeleteFile(0, &line));
  EXPECT_FALSE(editor.ModifyFile(-1));
}

TEST_F(RomDiskEditorTest, DeleteAllAsksAndKeepsEverythingButTheFiles) {
  ASSERT_TRUE(Add(10));
  editor.RDRec.SOLVFile = "os";
  editor.RDRec.BinFile = "out";
  editor.SetEPROMType(3);
  editor.SetQ17(true);
  dialogs.Confirms = {false, true};
  EXPECT_FALSE(editor.DeleteAll());
  EXPECT_EQ(editor.RDRec.FileCount, 1);
  EXPECT_TRUE(editor.DeleteAll());
  EXPECT_EQ(Messages(), (std::vector<std::string>{Text(75), Text(75)}));
  TRDRec expected;
  expected.EPROMType = 3;
  expected.Q17 = true;
  expected.SOLVFile = "os";
  expected.BinFile = "out";
  EXPECT_TRUE(editor.RDRec == expected);
}

TEST_F(RomDiskEditorTest, OSImageSizeLimitAndClashesWithTheOutput) {
  const std::string fits = File("FITS.BIN", 16384);
  const std::string tooBig = File("BIG.BIN", 16385);
  dialogs.Files = {tooBig, fits};
  EXPECT_FALSE(editor.ChooseSOLVFile());
  EXPECT_TRUE(editor.ChooseSOLVFile());
  EXPECT_EQ(editor.RDRec.SOLVFile, fits);
  EXPECT_EQ(Messages(), std::vector<std::string>{Text(60)});

  dialogs.Messages.clear();
  dialogs.Files = {fits};
  EXPECT_FALSE(editor.ChooseBinFile());
  ASSERT_EQ(dialogs.Messages.size(), 1u);
  EXPECT_EQ(dialogs.Messages[0].Text, ShortPath(fits, 55) + "\n\n" + Text(57));
  EXPECT_EQ(dialogs.Messages[0].Icon, TMsgIcon::Warning);

  const std::string out = (folder / "OUT.BIN").string();
  dialogs.Files = {out, out};
  EXPECT_TRUE(editor.ChooseBinFile());
  EXPECT_FALSE(editor.ChooseSOLVFile());
  EXPECT_EQ(dialogs.Messages.back().Text, ShortPath(out, 55) + "\n\n" + Text(58));
  EXPECT_EQ(editor.RDRec.SOLVFile, fits);

  // An image that cannot be opened now is taken; the build reports it.
  dialogs.Files = {(folder / "LATER.BIN").string()};
  EXPECT_TRUE(editor.ChooseSOLVFile());
}

TEST_F(RomDiskEditorTest, FileDialogsStartInTheWorkFolderOrAtTheChosenFile) {
  dialogs.Files = {std::nullopt};
  editor.ChooseSOLVFile();
  const std::string os = File("OS.BIN", 10);
  dialogs.Files = {os, std::nullopt, std::nullopt};
  editor.ChooseSOLVFile();
  editor.ChooseSOLVFile();
  editor.ChooseBinFile();
  ASSERT_EQ(dialogs.FileDialogs.size(), 4u);
  EXPECT_EQ(dialogs.FileDialogs[0].StartFolder, folder.path().string());
  EXPECT_EQ(dialogs.FileDialogs[0].PresetPath, "");
  EXPECT_EQ(dialogs.FileDialogs[2].PresetPath, os);
  EXPECT_EQ(dialogs.FileDialogs[2].TitleMessage, 47);
  EXPECT_EQ(dialogs.FileDialogs[2].DefaultSuffix, "BIN");
  EXPECT_FALSE(dialogs.FileDialogs[2].Save);
  EXPECT_EQ(dialogs.FileDialogs[3].TitleMessage, 56);
  EXPECT_TRUE(dialogs.FileDialogs[3].Save);
  EXPECT_EQ(dialogs.FileDialogs[3].StartFolder, folder.path().string());
}

TEST_F(RomDiskEditorTest, CurrentFolderIsRestoredAfterEveryDialog) {
  const auto before = std::filesystem::current_path();
  dialogs.WhileFileDialogOpen = [&] { std::filesystem::current_path(folder.path()); };
  dialogs.Files = {std::nullopt, File("X.SVX", 10)};
  editor.ChooseBinFile();
  EXPECT_EQ(std::filesystem::current_path(), before);
  editor.AddFile(nullptr);
  EXPECT_EQ(std::filesystem::current_path(), before);
}

TEST_F(RomDiskEditorTest, ListLinesAndCaption) {
  const std::string path = File(std::string(60, 'p') + ".SVX", 10);
  ASSERT_TRUE(Add(path, "ab.c"));
  EXPECT_EQ(editor.ListLine(1), "N:AB.C         = " + ShortPath(path, 52));
  EXPECT_EQ(ShortPath(path, 52).size(), 52u);
  EXPECT_EQ(editor.BoxCaption(), " ROM-Disk: 1 Files");
}

TEST(ShortPathTest, CutsTheMiddleAndDropsATrailingDot) {
  struct Case {
    std::string path;
    int n;
    std::string shown;
  };
  const std::vector<Case> cases{
      {"/a/b.txt", 55, "/a/b.txt"},
      {"/a/b.", 55, "/a/b"},
      {"/home/user/abcdefghij", 12, "/ho...efghij"},
      {"/dir/àèìòù/file", 10, "/di...file"},
  };
  for (const auto& c : cases) EXPECT_EQ(ShortPath(c.path, c.n), c.shown) << c.path;
}

TEST(FilterTest, DescriptionsShowTheirPatternsOnce) {
  EXPECT_EQ(SplitFilter("File Binario (*.bin)|*.BIN|Tutti i file (*.*)|*.*"),
            (std::vector<std::string>{"File Binario (*.bin)", "Tutti i file (*.*)"}));
  EXPECT_EQ(SplitFilter("Images|*.BIN|Broken"), (std::vector<std::string>{"Images (*.BIN)"}));
  for (int language : {kLanguageItalian, kLanguageEnglish})
    for (int message : {48, 73}) EXPECT_EQ(SplitFilter(FilterMessageText(language, message)).size(), 2u);
}

}  // namespace
}  // namespace mirte
