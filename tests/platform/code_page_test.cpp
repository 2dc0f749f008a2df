#include "platform/code_page.h"

#include <gtest/gtest.h>

namespace mirte {
namespace {

TEST(CodePage, Cp1252RoundTripsEveryDefinedByte) {
  for (int b = 0; b < 256; ++b) {
    char32_t cp = Cp1252ToUnicode(static_cast<std::uint8_t>(b));
    auto back = UnicodeToCp1252(cp);
    ASSERT_TRUE(back.has_value()) << b;
    EXPECT_EQ(*back, b);
  }
}

TEST(CodePage, Cp1252SpecialsAndRefusals) {
  EXPECT_EQ(Cp1252ToUnicode(0x80), U'\u20AC');
  EXPECT_EQ(Cp1252ToUnicode(0xAE), U'\u00AE');
  EXPECT_EQ(Cp1252ToUnicode(0xE0), U'\u00E0');
  EXPECT_EQ(UnicodeToCp1252(U'\u20AC'), 0x80);
  EXPECT_FALSE(UnicodeToCp1252(U'\u2500').has_value());
  EXPECT_FALSE(UnicodeToCp1252(U'\u0100').has_value());
}

TEST(CodePage, Utf8StringsConvertBothWays) {
  std::string italian = "Attivit\xC3\xA0 \xC2\xAE \xE2\x82\xAC";  // "Attività ® €"
  std::string bytes = Utf8ToCp1252(italian);
  EXPECT_EQ(bytes, std::string("Attivit\xE0 \xAE \x80"));
  EXPECT_EQ(Cp1252ToUtf8(bytes), italian);
  EXPECT_TRUE(FitsCp1252(italian));
  EXPECT_FALSE(FitsCp1252("box \xE2\x94\x80"));
  EXPECT_EQ(Utf8ToCp1252("box \xE2\x94\x80"), "box ?");
}

TEST(CodePage, MalformedUtf8NeverFails) {
  EXPECT_EQ(Utf8ToCp1252("a\xC3"), "a?");
  EXPECT_EQ(Utf8ToCp1252("\xFF\xFE"), "??");
  EXPECT_EQ(Utf8ToCp1252("\xE2\x82"), "??");
}

TEST(CodePage, Cp437ShowsOemGlyphs) {
  struct Case { std::uint8_t byte; char32_t glyph; } cases[] = {
      {0x00, U' '}, {0x01, U'\u263A'}, {0x1B, U'\u2190'}, {0x41, U'A'}, {0x7F, U'\u2302'},
      {0x82, U'\u00E9'}, {0xB3, U'\u2502'}, {0xC4, U'\u2500'}, {0xC9, U'\u2554'},
      {0xDB, U'\u2588'}, {0xFF, U'\u00A0'}};
  for (auto c : cases) EXPECT_EQ(Cp437ToUnicode(c.byte), c.glyph) << int(c.byte);
}

}  // namespace
}  // namespace mirte
