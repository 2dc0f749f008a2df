#pragma once
// A main window for board-service tests: it records what the service asks of the window
// (cursor shapes, selection removal, beeps, status texts, timer restarts, print-job state,
// event pumps) in call order, and lets a test hook into the event pump.
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "board/board_window.h"

namespace mirte::testing {

class FakeBoardWindow : public IBoardWindow {
public:
  TShellFlags& Flags() override { return flags; }
  int Language() const override { return language; }

  void SetCursorShape(TCursorType shape) override {
    cursorShape = shape;
    calls.push_back(shape == TCursorType::ctNone        ? "cursor none"
                    : shape == TCursorType::ctUnderline ? "cursor underline"
                                                        : "cursor block");
  }
  void RemoveSelect() override {
    ++removeSelectCount;
    calls.push_back("remove select");
  }
  void Beep() override {
    ++beepCount;
    calls.push_back("beep");
  }
  std::string StatusText() const override { return statusText; }
  void SetStatusText(std::string_view text) override {
    statusText = text;
    statusHistory.emplace_back(text);
    calls.push_back("status " + std::string(text));
  }
  void RestartDeSelectTimer() override {
    ++deSelectRestarts;
    calls.push_back("restart de-select timer");
  }
  void SetPrintJobOpen(bool open) override {
    printJobOpen = open;
    calls.push_back(open ? "print job open" : "print job closed");
  }
  void WaitForPortNews() override { ++waitCount; }
  void ProcessPendingEvents() override {
    ++pumpCount;
    if (onPump) onPump();
  }

  TShellFlags flags;
  int language = 2;
  TCursorType cursorShape = TCursorType::ctBlock;
  int removeSelectCount = 0;
  int beepCount = 0;
  std::string statusText;
  std::vector<std::string> statusHistory;
  int deSelectRestarts = 0;
  bool printJobOpen = false;
  int waitCount = 0;
  int pumpCount = 0;
  // Runs inside every ProcessPendingEvents, as a menu command or a timer would.
  std::function<void()> onPump;
  // Every call in order, as short texts ("beep", "status WAIT !", ...).
  std::vector<std::string> calls;
};

}  // namespace mirte::testing
