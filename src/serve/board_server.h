#pragma once
// mirte-serve's front end over a board session: the board service's view without a
// window (status texts are kept, a beep and the selection mean nothing), the console on
// standard input and output or on a pseudo-terminal, one line per command frame on
// standard error when asked, and print jobs as PDF files or on a named printer. Run serves
// until it is told to stop and then ends as the window does: a
// print job still open is finished, the console log and the port are closed.
#include <functional>
#include <memory>
#include <string>

#include "app/monitor_log.h"
#include "board/board_service.h"
#include "serve/console_pty.h"
#include "serve/serve_options.h"
#include "session/board_session.h"

namespace mirte {

class TQtPrinterCanvas;

class TBoardServer final : public IBoardWindow, public ISessionEvents, public IConsoleTap, public IFrameObserver {
public:
  // programFile is the window's program file, whose settings are found as the window finds
  // them when no settings file is named.
  TBoardServer(TServeOptions options, const std::string& programFile);
  ~TBoardServer() override;

  // Loads the settings, applies the options and opens the port and the console. False,
  // with a one-line reason in `error`, when something named cannot be used.
  bool Start(std::string& error);
  // Serves until stopWanted answers true (it is asked at least every few milliseconds, also
  // while a reply drains); returns the exit status.
  int RunUntil(std::function<bool()> stopWanted);

  TBoardSession& Session() { return *session_; }

  // --- IBoardWindow ---------------------------------------------------------------------
  TShellFlags& Flags() override { return session_->Flags; }
  int Language() const override { return session_->Settings.Rec.Language; }
  void SetCursorShape(TCursorType) override {}
  void RemoveSelect() override {}
  void Beep() override {}
  std::string StatusText() const override { return statusText_; }
  void SetStatusText(std::string_view text) override { statusText_ = text; }
  void RestartDeSelectTimer() override {}
  void SetPrintJobOpen(bool) override {}
  void WaitForPortNews() override { session_->WaitForPortNews(); }
  void ProcessPendingEvents() override;

private:
  // --- ISessionEvents -------------------------------------------------------------------
  void DeviceLost() override;
  void DeviceBack() override;
  void LineNotice(std::string_view text) override;
  // --- IConsoleTap, IFrameObserver ------------------------------------------------------
  void ConsoleOutput(std::uint8_t byte) override;
  void FrameDone(const TFrameFacts& facts) override;

  // A dosdevices folder of this run alone, for a device or drives named on the command
  // line: the shared set-up's links are copied into it and the options' links added, so
  // nothing the window uses is changed.
  bool MakePrivateDevices(std::string& error);
  bool ApplyPort(std::string& error);
  // Typed keys waiting on the console go to the board.
  void PumpConsoleInput();
  void FlushConsoleOutput();

  TServeOptions options_;
  std::unique_ptr<TQtPrinterCanvas> printer_;
  std::unique_ptr<TBoardSession> session_;
  std::unique_ptr<TConsolePty> pty_;
  int consoleIn_ = -1;
  int consoleOut_ = -1;
  int consoleOutFlags_ = -1;  // standard output's own flags, while this program changes them
  std::string pendingOutput_;
  std::string statusText_;
  std::string privateDevices_;  // holds the run's own dosdevices/, removed at the end
  TMonitorLog frames_{64};
  std::function<bool()> stopWanted_;
  bool portLost_ = false;
};

}  // namespace mirte
