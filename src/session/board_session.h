#pragma once
// Everything that serves one board, whatever shows it: the settings, the serial port and
// the board service's link to it, the console's screen buffer, the board service, the
// recovery of a port whose device went away, the console log, list output on a printer
// canvas the front end supplies, and the frame watcher. A front end (the window, or the
// unattended server) supplies the board service's view of it (IBoardWindow) and hears of
// the port's changes through ISessionEvents; it drives the port's recovery by calling
// RetryPort about once a second while PortLost holds. Applying a working folder never
// changes the process's current folder. Main thread only, like the port.
#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "board/board_service.h"
#include "board/board_window.h"
#include "board/console_log.h"
#include "board/frame_observer.h"
#include "board/printer_canvas.h"
#include "common/settings.h"
#include "common/settings_location.h"
#include "serial/com_port.h"
#include "serial/dispatcher.h"
#include "serial/main_thread_queue.h"
#include "serial/port_diagnosis.h"
#include "serial/port_recovery.h"
#include "session/com_port_link.h"
#include "terminal/terminal_buffer.h"

namespace mirte {

// What the session tells its front end; each call comes on the main thread.
class ISessionEvents {
public:
  virtual ~ISessionEvents() = default;
  // The port's device went away; the front end starts calling RetryPort.
  virtual void DeviceLost() = 0;
  // RetryPort brought the port back.
  virtual void DeviceBack() = 0;
  // News about the line itself (bytes lost, an adapter that holds bytes back), already in
  // the status bar; a front end without one says it where its user looks.
  virtual void LineNotice(std::string_view /*text*/) {}
};

// What the session reads about the line under the port; the open port's own counts unless
// a test sets another source.
class ILineFacts {
public:
  virtual ~ILineFacts() = default;
  virtual TLineErrorCounts LineErrorCounts() = 0;
  virtual bool AdapterHoldsBytesBack() = 0;
};

class TBoardSession {
public:
  // programFile names the program whose settings file and dosdevices/ are used (where they
  // lie is FindSettingsLocation's rule). The queue carries the port's messages to the
  // calling thread; printer may be null (list output is then dropped).
  TBoardSession(const TSettingsLocation& location, std::string programFile,
                std::unique_ptr<IMainThreadQueue> queue, IBoardWindow& view, ISessionEvents& events,
                IPrinterCanvas* printer);
  ~TBoardSession();
  TBoardSession(const TBoardSession&) = delete;
  TBoardSession& operator=(const TBoardSession&) = delete;

private:
  // Carries the port's messages to this thread. Declared before the port so that it goes
  // after it: a port closed while a delivery was under way leaves its workers to end on
  // their own, and they still reach the queue as they do.
  std::unique_ptr<IMainThreadQueue> mainQueue_;

public:
  TSettings Settings;
  TShellFlags Flags;
  TComPort ComPort;
  TConsoleLog ConsoleLog;
  TPortRecovery Recovery{ComPort};
  // Why the port did not open; Fault None when nothing is known.
  TPortDiagnosis PortFault;

  IMainThreadQueue& MainQueue() { return *mainQueue_; }
  TTerminalBuffer& Screen() { return screen_; }
  TBoardService& Board() { return *board_; }
  TComPortLink& PortLink() { return portLink_; }
  const TSettingsLocation& SettingsLocation() const { return settingsLocation_; }
  const std::string& ProgramFile() const { return programFile_; }

  // The drives served from now on, the settings read, the program's own files kept from
  // the board. Flags start afresh.
  void LoadSettings();
  // Opens the port the settings name at their baud rate and applies their working folder;
  // a port that does not open leaves ComNotAvailable set and PortFault saying why.
  void SetTermImp();
  // The board's first sight of the PC: input from before is dropped, the console reset,
  // and DTR moved once. An adapter that holds received bytes back is told of here.
  void StartBoard();
  // The drives' working folder; trailing slashes are dropped, and a folder that cannot be
  // entered is still recorded for its drive.
  void SetWorkingFolder(const std::string& folder);
  // Keys and strings typed for the board; nothing goes while the port is not available.
  void SendToPort(const std::string& bytes);
  // The console log from now on is the file at path (false: it could not be opened), or
  // none.
  bool StartConsoleLog(const std::string& path);
  void StopConsoleLog();
  void SetFrameObserver(IFrameObserver* observer) { board_->SetFrameObserver(observer); }

  void ComPortTriggerAvail();
  void ComPortDeviceLost();
  bool PortLost() const { return Recovery.Active(); }
  // One attempt to bring a lost port back; true when it is open again.
  bool RetryPort();
  // A brief wait for news from the port, for loops that wait on it.
  void WaitForPortNews();
  void ClosePort();
  // For a front end's timer, a few times a second: a frame the board stopped sending in
  // the middle is dropped, bytes lost on the line since the last look are told once, and
  // the console log's waiting lines go to its file.
  void WatchLine(std::chrono::steady_clock::time_point now = std::chrono::steady_clock::now());
  // What to tell of the open port's adapter where there is room (an information window):
  // empty unless it was found holding received bytes back.
  const std::string& AdapterNotice() const { return adapterNotice_; }
  // The line's error counts since the port opened (or from the facts a test set); nothing
  // while no port is open.
  std::optional<TLineErrorCounts> CurrentLineErrors();
  // nullptr: the port's own counts again.
  void SetLineFacts(ILineFacts* facts) { lineFacts_ = facts; }
  // Ends serving: the console log is closed and the port too. Safe to call again.
  void Terminate();

private:
  void PortReopened();
  void LookAtAdapter();
  void Notice(const std::string& text);

  TSettingsLocation settingsLocation_;
  std::string programFile_;
  ISessionEvents& events_;
  IBoardWindow& view_;
  ILineFacts* lineFacts_ = nullptr;
  // Bytes lost since the port opened that the user has already been told of.
  long shownBytesLost_ = 0;
  std::string adapterNotice_;
  TTerminalBuffer screen_;
  TComPortLink portLink_{ComPort};
  std::unique_ptr<TBoardService> board_;
};

}  // namespace mirte
