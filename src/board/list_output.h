#pragma once
// The board's list device laid out on the PC's printer: plain lines of text from (200, 250)
// on every page, wrapped at page width - 200, a new page (or, with PrintEachPage, a new job)
// at page height - 200. The first character opens a job; Ctrl-Z, the Print command or a
// full page with PrintEachPage sends it to the printer, Abort Print discards it. Control
// bytes other than CR, LF and Ctrl-Z are drawn like any character.
#include <cstdint>

#include "common/settings.h"
#include "board/board_window.h"
#include "board/printer_canvas.h"

namespace mirte {

class TListOutput {
public:
  static constexpr int kLeftEdge = 200;
  static constexpr int kTopEdge = 250;
  static constexpr int kMargin = 200;  // kept free at the right and bottom of a page

  // All three belong to the main window and outlive this object; PrintEachPage is read from
  // the settings at every full page, so a change of the setting applies at once.
  TListOutput(IBoardWindow& window, IPrinterCanvas& canvas, const SettingsRec& settings);

  // One character of a type-5 frame: opens a job when none is open, then lays it out.
  void ListOutput(std::uint8_t character);
  void PrintBoardChar(std::uint8_t ch);
  void StartPrintJob();
  // Does nothing while no job is open.
  void EndPrintJob(bool abort);
  void NextPrintPage();

  bool printJobOpen = false;
  int PenX() const { return penX_; }
  int PenY() const { return penY_; }

private:
  int LineHeight() const;

  IBoardWindow& window_;
  IPrinterCanvas& canvas_;
  const SettingsRec& settings_;
  int penX_ = kLeftEdge;
  int penY_ = kTopEdge;
};

}  // namespace mirte
