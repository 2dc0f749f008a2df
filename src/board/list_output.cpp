#include "board/list_output.h"

#include <string>

#include "common/msg_table.h"

namespace mirte {

namespace {

constexpr int kMsgWaitsForPrinting = 32;
constexpr int kMsgPrintJobTitle = 62;

constexpr std::uint8_t kLineFeed = 10;
constexpr std::uint8_t kCarriageReturn = 13;
constexpr std::uint8_t kEndOfText = 26;  // Ctrl-Z

}  // namespace

TListOutput::TListOutput(IBoardWindow& boardWindow, IPrinterCanvas& printerCanvas, const SettingsRec& settingsRec)
    : window_(boardWindow), canvas_(printerCanvas), settings_(settingsRec) {}

void TListOutput::ListOutput(std::uint8_t character) {
  if (!printJobOpen) StartPrintJob();
  PrintBoardChar(character);
}

int TListOutput::LineHeight() const {
  return canvas_.TextHeight("A");
}

void TListOutput::PrintBoardChar(std::uint8_t ch) {
  switch (ch) {
    case kLineFeed:
      if (penY_ < canvas_.PageHeight() - kMargin)
        penY_ += LineHeight();
      else
        NextPrintPage();
      return;
    case kCarriageReturn:
      penX_ = kLeftEdge;
      return;
    case kEndOfText:
      EndPrintJob(false);
      return;
    default:
      break;
  }
  if (penY_ >= canvas_.PageHeight() - kMargin) NextPrintPage();
  if (penX_ >= canvas_.PageWidth() - kMargin) {
    penX_ = kLeftEdge;
    penY_ += LineHeight();
  }
  std::string text(1, static_cast<char>(ch));
  canvas_.TextOut(penX_, penY_, text);
  penX_ += canvas_.TextWidth(text);
}

void TListOutput::StartPrintJob() {
  window_.SetStatusText(MsgTable(window_.Language(), kMsgWaitsForPrinting));
  window_.SetPrintJobOpen(true);
  canvas_.BeginDoc(std::string(MsgTable(window_.Language(), kMsgPrintJobTitle)));
  penX_ = kLeftEdge;
  penY_ = kTopEdge;
  printJobOpen = true;
}

void TListOutput::EndPrintJob(bool abort) {
  if (!printJobOpen) return;
  if (abort)
    canvas_.Abort();
  else
    canvas_.EndDoc();
  printJobOpen = false;
  window_.SetStatusText("");
  window_.SetPrintJobOpen(false);
}

void TListOutput::NextPrintPage() {
  if (settings_.PrintEachPage != 0) {
    EndPrintJob(false);
    StartPrintJob();
    return;
  }
  canvas_.NewPage();
  penX_ = kLeftEdge;
  penY_ = kTopEdge;
}

}  // namespace mirte
