#include "common/msg_table.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "platform/code_page.h"

namespace mirte {
namespace {

struct TExactText {
  int language;
  int index;
  std::string_view text;
};

// Texts whose bytes are easy to get wrong: accents, the registered sign, blanks at either
// end, the filters with their bars, and the last entry of each row.
TEST(MsgTableTest, HoldsTrickyTextsByteForByte) {
  const TExactText cases[] = {
      {1, 1, "MIRTE: Emulazione terminale per schede KTB\xC2\xAE con SOLVAX"},
      {2, 1, "MIRTE: Terminal emulation for KTB\xC2\xAE cards with SOLVAX"},
      {1, 5, "&Utilit\xC3\xA0"},
      {2, 4, "Sett&ings"},
      {1, 31, "Versione: "},
      {2, 31, "Release: "},
      {1, 57, "Gi\xC3\xA0 inserito come file SOLVAX"},
      {1, 59, " ERRORE DI LETTURA di N:"},
      {1, 60, "Il file SOLVAX \xC3\xA8 troppo grande"},
      {2, 63, " COM not available"},
      {1, 66, " Bytes disponibili "},
      {2, 67, " Insufficient space "},
      {1, 48, "File Binario (*.bin)|*.BIN|Tutti i file (*.*)|*.*"},
      {2, 48, "Binary file (*.bin)|*.BIN|All files (*.*)|*.*"},
      {1, 73, "File SOLVAX (*.svx)|*.SVX|Tutti i file (*.*)|*.*"},
      {2, 73, "SOLVAX file (*.svx)|*.SVX|All files (*.*)|*.*"},
      {2, 79, " SOLVAX file copying in progress, please wait...."},
      {1, 87, "Porta COM gi\xC3\xA0 utilizzata da un'altra applicazione"},
      {2, 87, "COM port already used by another application"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(MsgTable(c.language, c.index), c.text) << "language " << c.language << " index "
                                                      << c.index;
  }
}

TEST(MsgTableTest, EveryTextExistsAndFitsTheSingleByteCodePage) {
  for (int language : {kLanguageItalian, kLanguageEnglish}) {
    for (int index = 1; index <= kMessageCount; ++index) {
      const auto text = MsgTable(language, index);
      EXPECT_FALSE(text.empty()) << language << "/" << index;
      EXPECT_TRUE(FitsCp1252(text)) << language << "/" << index;
    }
  }
  EXPECT_EQ(Utf8ToCp1252(MsgTable(kLanguageItalian, 5)), "&Utilit\xE0");
}

TEST(MsgTableTest, AnswersEmptyOutsideTheTable) {
  EXPECT_TRUE(MsgTable(kLanguageEnglish, 0).empty());
  EXPECT_TRUE(MsgTable(kLanguageEnglish, kMessageCount + 1).empty());
  EXPECT_TRUE(MsgTable(0, 1).empty());
  EXPECT_TRUE(MsgTable(3, 1).empty());
}

TEST(MsgTableTest, FindsTheFirstIndexItalianRowFirst) {
  struct TFind {
    std::string_view text;
    int index;
  };
  const TFind cases[] = {
      {"Documento in attesa di stampa", 32},
      {"Document waits for printing", 32},
      {" COM not available", 63},
      {" COM non disponibile", 63},
      {"Clear T&erminal", 6},
      {"&Edit", 3},
      {"&OK", 26},
      // Wrong case, missing blanks and partial texts are not the message.
      {"&edit", -1},
      {"COM not available", -1},
      {"Document waits", -1},
      {"COM3: 115200", -1},
      {"", -1},
  };
  for (const auto& c : cases) EXPECT_EQ(FindMessageIndex(c.text), c.index) << c.text;
}

}  // namespace
}  // namespace mirte
