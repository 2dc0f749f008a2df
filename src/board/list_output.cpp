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
    : window(boardWindow), canvas(printerCanvas), settings(settingsRec) {}

void TListOutput::ListOutput(std::uint8_t character) {
  if (!printJobOpen) StartPrintJob();
  PrintBoardChar(character);
}

int TListOutput::LineHeight() const {
  return canvas.TextHeight("A");
}

void TListOutput::PrintBoardChar(std::uint8_t ch) {
  switch (ch) {
    case kLineFeed:
      if (penY < canvas.PageHeight() - kMargin)
        penY += LineHeight();
      else
        NextPrintPage();
      return;
    case kCarriageReturn:
      penX = kLeftEdge;
      return;
    case kEndOfText:
      EndPrintJob(false);
      return;
    default:
      break;
  }
  if (penY >= canvas.PageHeight() - kMargin) NextPrintPage();
  if (penX >= canvas.PageWidth() - kMargin) {
    penX = kLeftEdge;
    penY += LineHeight();
  }
  std::string text(1, static_cast<char>(ch));
  canvas.TextOut(penX, penY, text);
  penX += canvas.TextWidth(text);
}

void TListOutput::StartPrintJob() {
  window.SetStatusText(MsgTable(window.Language(), kMsgWaitsForPrinting));
  window.SetPrintJobOpen(true);
  canvas.BeginDoc(std::string(MsgTable(window.Language(), kMsgPrintJobTitle)));
  penX = kLeftEdge;
  penY = kTopEdge;
  printJobOpen = true;
}

void TListOutput::EndPrintJob(bool abort) {
  if (!printJobOpen) return;
  if (abort)
    canvas.Abort();
  else
    canvas.EndDoc();
  printJobOpen = false;
  window.SetStatusText("");
  window.SetPrintJobOpen(false);
}

void TListOutput::NextPrintPage() {
  if (settings.PrintEachPage != 0) {
    EndPrintJob(false);
    StartPrintJob();
    return;
  }
  canvas.NewPage();
  penX = kLeftEdge;
  penY = kTopEdge;
}

}  // namespace mirte
