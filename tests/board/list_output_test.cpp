#include "board/list_output.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/msg_table.h"
#include "support/fake_board_window.h"

namespace mirte {
namespace {

// A page of 2000 x 3000 units where every character is 20 wide and a line 50 high.
class RecordingCanvas : public IPrinterCanvas {
public:
  struct Text {
    int x, y;
    std::string text;
    int page;
    bool operator==(const Text&) const = default;
  };

  void BeginDoc(const std::string& title) override {
    calls.push_back("begin " + title);
    page = 1;
  }
  void NewPage() override {
    calls.push_back("page");
    ++page;
  }
  void EndDoc() override { calls.push_back("end"); }
  void Abort() override { calls.push_back("abort"); }
  int PageWidth() const override { return 2000; }
  int PageHeight() const override { return 3000; }
  int TextHeight(std::string_view) const override { return 50; }
  int TextWidth(std::string_view text) const override { return 20 * static_cast<int>(text.size()); }
  void TextOut(int x, int y, std::string_view text) override { texts.push_back({x, y, std::string(text), page}); }

  std::vector<std::string> calls;
  std::vector<Text> texts;
  int page = 0;
};

class ListOutputTest : public ::testing::Test {
protected:
  ListOutputTest() { window.language = kLanguageItalian; }

  void Send(std::string_view bytes) {
    for (char c : bytes) output.ListOutput(static_cast<std::uint8_t>(c));
  }
  void LineFeeds(int count) { Send(std::string(static_cast<std::size_t>(count), '\n')); }

  testing::FakeBoardWindow window;
  RecordingCanvas canvas;
  SettingsRec settings{};
  TListOutput output{window, canvas, settings};
};

TEST_F(ListOutputTest, TheFirstCharacterOpensAJobAndLaysOutLines) {
  window.language = kLanguageEnglish;
  Send("A\r\nB");
  EXPECT_TRUE(output.printJobOpen);
  EXPECT_EQ(canvas.calls, std::vector<std::string>{"begin MIRTE Print"});
  EXPECT_EQ(window.StatusText(), "Document waits for printing");
  EXPECT_TRUE(window.printJobOpen);
  ASSERT_EQ(canvas.texts.size(), 2u);
  EXPECT_EQ(canvas.texts[0], (RecordingCanvas::Text{200, 250, "A", 1}));
  EXPECT_EQ(canvas.texts[1], (RecordingCanvas::Text{200, 300, "B", 1}));
  // Control bytes other than CR, LF and Ctrl-Z are drawn like characters.
  Send("\t\x0C");
  EXPECT_EQ(canvas.texts[2], (RecordingCanvas::Text{220, 300, "\t", 1}));
  EXPECT_EQ(canvas.texts[3], (RecordingCanvas::Text{240, 300, "\x0C", 1}));
}

TEST_F(ListOutputTest, LongLinesWrapAtThePageWidthLessTheMargin) {
  Send(std::string(100, 'x'));
  // 200 + 80 * 20 = 1800 is the right limit: the 81st character starts the next line.
  EXPECT_EQ(canvas.texts[79].x, 1780);
  EXPECT_EQ(canvas.texts[80], (RecordingCanvas::Text{200, 300, "x", 1}));
}

TEST_F(ListOutputTest, AFullPageStartsANewPageInTheSameJob) {
  Send("A");
  // From 250 in steps of 50 the pen reaches 2800, the bottom limit, after 51 line feeds.
  LineFeeds(51);
  EXPECT_EQ(output.PenY(), 2800);
  LineFeeds(1);
  EXPECT_EQ(canvas.calls, (std::vector<std::string>{"begin Stampa MIRTE", "page"}));
  EXPECT_EQ(output.PenY(), 250) << "the line feed that breaks the page does not move the pen";
  Send("B");
  EXPECT_EQ(canvas.texts.back(), (RecordingCanvas::Text{200, 250, "B", 2}));

  // A character at the bottom limit breaks the page before it is drawn.
  LineFeeds(51);
  Send("\rC");
  EXPECT_EQ(canvas.texts.back(), (RecordingCanvas::Text{200, 250, "C", 3}));
}

TEST_F(ListOutputTest, WithPrintEachPageEveryFullPageIsAJobOfItsOwn) {
  settings.PrintEachPage = 1;
  Send("A");
  LineFeeds(52);
  Send("B");
  EXPECT_EQ(canvas.calls, (std::vector<std::string>{"begin Stampa MIRTE", "end", "begin Stampa MIRTE"}));
  EXPECT_EQ(canvas.texts.back(), (RecordingCanvas::Text{200, 250, "B", 1}));
  EXPECT_TRUE(output.printJobOpen);
}

TEST_F(ListOutputTest, CtrlZEndsTheJobAndTheNextCharacterOpensAnother) {
  Send("\x1A");
  EXPECT_EQ(canvas.calls, (std::vector<std::string>{"begin Stampa MIRTE", "end"}));
  EXPECT_FALSE(output.printJobOpen);
  EXPECT_EQ(window.StatusText(), "");
  EXPECT_FALSE(window.printJobOpen);
  Send("Q");
  EXPECT_EQ(canvas.calls.size(), 3u);
  EXPECT_EQ(canvas.texts.back(), (RecordingCanvas::Text{200, 250, "Q", 1}));
}

TEST_F(ListOutputTest, PrintAndAbortEndOnlyAnOpenJob) {
  output.EndPrintJob(false);
  output.EndPrintJob(true);
  EXPECT_TRUE(canvas.calls.empty());
  Send("x");
  output.EndPrintJob(true);
  EXPECT_EQ(canvas.calls, (std::vector<std::string>{"begin Stampa MIRTE", "abort"}));
  EXPECT_FALSE(window.printJobOpen);
  Send("y");
  output.EndPrintJob(false);
  EXPECT_EQ(canvas.calls.back(), "end");
  EXPECT_EQ(window.StatusText(), "");
}

}  // namespace
}  // namespace mirte
