#pragma once
// The board service: every byte the board sends passes through ProcessBoardByte, in
// arrival order. Console bytes act on the terminal buffer (control codes, ESC sequences,
// cursor addressing offset by 32, characters); DLE DC1 starts a command frame, whose bytes
// go to the frame collector. Nothing a board sends can fail: unknown sequences are dropped
// and out-of-range addresses ignored, and ResetConsole returns to console mode from any
// state, abandoning whatever was half received. A complete frame is carried out at once,
// as a file command in the drive folders (TFileService) or as list output (TListOutput);
// its reply, raw bytes on the port, leaves no sooner than 5 ms after the frame's last
// byte, and frames without a reply (list output, select drive) do not wait at all. A port
// that fails during a reply ends the frame: the service is back in console mode.
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "common/settings.h"
#include "board/board_port.h"
#include "board/board_window.h"
#include "board/console_events.h"
#include "board/file_service.h"
#include "board/frame_observer.h"
#include "board/list_output.h"
#include "board/printer_canvas.h"
#include "terminal/terminal_buffer.h"

namespace mirte {

// What the board service serves besides the console. All belong to the main window and
// outlive the service. Without a port, replies go nowhere; without a printer, list output
// is dropped; without settings, PrintEachPage is off.
struct TBoardLinks {
  IBoardPort* Port = nullptr;
  IPrinterCanvas* Printer = nullptr;
  const SettingsRec* Settings = nullptr;
  // The program's own files, never served; their dosdevices folder holds the drive links.
  TProgramFiles ProgramFiles;
};

// Takes the console's bytes as the board sent them (control codes and escape sequences
// included), for a front end that passes the console on to a terminal of its own. The
// bytes of command frames, and the DLE that leads one in, never reach it.
class IConsoleTap {
public:
  virtual ~IConsoleTap() = default;
  virtual void ConsoleOutput(std::uint8_t byte) = 0;
};

class TBoardService {
public:
  // Values of `state`: which kind of byte is expected next.
  enum TState : std::uint8_t {
    Console = 0,          // console output: a control code or a character
    Escape = 1,           // the letter after ESC
    AttributeSelect = 2,  // the attribute-mode letter after ESC "0"
    CursorAddress = 3,    // row byte, then column byte, after ESC "Y"
    LeadIn = 4,           // DC1 after DLE
    CommandType = 5,      // the frame's type byte
    Parameters = 6,       // parameter bytes of a frame
    Data = 7,             // data bytes of a frame
    Executing = 8,        // a command is being carried out; bytes are dropped
  };

  // The attribute set that reset establishes for ordinary board text.
  static constexpr std::uint8_t kDefaultAttributes = TAttr::Bold;

  // Starts in console mode with the values ResetConsole sets, without touching the buffer
  // or the window: the main window calls ResetConsole once it is ready.
  TBoardService(TTerminalBuffer& buffer, IBoardWindow& window, TBoardLinks links = {});
  ~TBoardService();
  TBoardService(const TBoardService&) = delete;
  TBoardService& operator=(const TBoardService&) = delete;

  void ProcessBoardByte(std::uint8_t byte);
  void ResetConsole();
  // Back to console mode, dropping a half-received frame or escape sequence, as
  // ResetConsole does, but leaving the screen and the window alone: for a link that broke
  // off in the middle of a frame.
  void AbandonFrame();
  // A frame whose bytes stop for longer than this in the middle is dropped at its next
  // byte, which then starts afresh in console mode.
  static constexpr std::chrono::seconds kFrameSilenceLimit{1};
  // The same rule seen from a clock rather than a byte, for a front end's timer: a frame
  // silent past the limit at now is dropped at once, with the status bar saying so. True
  // when it dropped one. Bytes still waiting for this thread never count as silence.
  bool AbandonFrameIfSilent(std::chrono::steady_clock::time_point now);
  // Each console code, once interpreted, is also told to this listener while one is set
  // (nullptr: none); the console log reads the console through it.
  void SetConsoleEvents(IConsoleEvents* events);
  // The console's bytes also go to this tap while one is set (nullptr: none).
  void SetConsoleTap(IConsoleTap* tap) { consoleTap_ = tap; }

  // The port's data-available handler: every waiting byte is read, DTR flips once per
  // byte before the byte is acted on, then DataSeen is set and the de-select timer
  // restarted. Called again while it runs (from a reply wait's message handling), it
  // returns at once and leaves the bytes to the running loop.
  void ComPortTriggerAvail();

  // Empty open-file table, drive folders "A:" to "P:", no search, no print job, frame
  // buffers cleared; from now on the drives are served (before, every file command fails).
  void InitFileService();
  // DriveFolders, the drives and the working folder live here.
  TFileService& FileService() { return fileService_; }
  // The Print (abort false) and Abort Print (abort true) commands.
  void EndPrintJob(bool abort) { listOutput_.EndPrintJob(abort); }
  bool PrintJobOpen() const { return listOutput_.printJobOpen; }

  // The wait between a frame's last byte and the first byte of its reply; the board needs
  // at least the 5 ms default to turn its line around. Only tests and the fuzzer shorten it.
  void SetReplyDelay(std::chrono::microseconds delay) { replyDelay_ = delay; }

  // The watcher told of every frame from now on; nullptr stops the reports. A frame that
  // is under way when the watcher goes is not reported.
  void SetFrameObserver(IFrameObserver* observer) { observer_ = observer; }

  std::uint8_t GetState() const { return state; }
  std::uint8_t GetAttributeMode() const { return attributeMode; }
  std::uint8_t GetPendingRow() const { return pendingRow; }

private:
  void ConsoleByte(std::uint8_t byte);
  void EscapeByte(std::uint8_t byte);
  void AttributeSelectByte(std::uint8_t byte);
  void CursorAddressByte(std::uint8_t byte);
  // States CommandType to Executing: the frame collector (command_frames.cpp).
  void ProcessCommandByte(std::uint8_t byte);
  void ExecuteCommand();
  // Carries out the complete frame, its reply collected by the senders below.
  void CarryOutCommand();
  std::chrono::steady_clock::time_point LastByteTime();
  // The reply senders append to the frame's reply; SendRecord marks it as one that is
  // waited for until it has left.
  void SendResult(std::uint8_t result);
  void SendParamBytes(std::size_t count);
  void SendRecord();
  void SendBytes(const std::uint8_t* data, std::size_t size);
  // Queues the collected reply as one block once replyDue has come, so that its parts
  // never straggle on the line; a record reply shows "WAIT !" and pumps events until it
  // has left. False when the port refused it.
  bool SendReply();
  void ShowMessage(int index);
  int StatusMessageShown() const;
  void RestoreStatusMessage();
  // The interpreter's state as reset leaves it.
  void ReturnToConsole();
  // The frame reports (frame_report.cpp): opened when the frame is complete, closed after
  // its reply; a type that is not served is reported at its type byte.
  void OpenFrameReport(std::chrono::steady_clock::time_point lastByte);
  void CloseFrameReport();
  void ReportUnservedFrame();
  // The record the open file at `path` stood at when the frame began; -1 when it had none.
  std::int64_t RecordBefore(const std::string& path) const;
  // Copies the reply that has just been queued into the open report.
  void ReportReply();

  TTerminalBuffer& buffer_;
  IBoardWindow& window_;
  IBoardPort* port_;
  // Never null: a listener that hears nothing stands in while none is set.
  std::unique_ptr<IConsoleEvents> noConsoleEvents_;
  IConsoleEvents* consoleEvents_;
  IConsoleTap* consoleTap_ = nullptr;
  // Stand-ins for a missing printer and settings, so list output always has both.
  std::unique_ptr<IPrinterCanvas> noPrinter_;
  SettingsRec noSettings_{};

  std::uint8_t state = Console;
  std::uint8_t attributeMode = 1;
  std::uint8_t pendingRow = 0;

  std::uint8_t commandType = 0;
  std::uint8_t paramCount = 0;
  std::uint8_t paramIndex = 0;
  std::uint8_t dataCount = 0;
  std::uint8_t dataIndex = 0;
  // Kept from frame to frame: commands write results back into it.
  std::uint8_t paramBuffer[kParamBufferSize] = {};
  std::uint8_t recordBuffer[kRecordSize] = {};
  // The message index of the status text when the frame began, -1 for a text of no message.
  int savedStatusMessage = -1;
  int shownMessage_ = -1;  // the message this service last put on the status line
  std::chrono::microseconds replyDelay_{5000};
  bool receiving_ = false;  // inside ComPortTriggerAvail
  // When the last frame byte was received, and whether nothing was waiting behind it.
  std::chrono::steady_clock::time_point frameByteReceived_;
  bool frameStarved_ = false;
  bool FrameCutOffBySilence();
  void AbandonSilentFrame();

  IFrameObserver* observer_ = nullptr;
  bool reportOpen_ = false;
  TFrameFacts report_;
  // The open files' positions when a sequential transfer began, in table order.
  std::vector<std::int32_t> positionsBefore_;
  // No reply byte of the current frame leaves before this.
  std::chrono::steady_clock::time_point replyDue_;
  // The current frame's reply: at most a result and a record.
  std::uint8_t reply_[1 + kRecordSize] = {};
  std::size_t replyLength_ = 0;
  bool replyCarriesRecord_ = false;

  TFileService fileService_;
  TListOutput listOutput_;
};

}  // namespace mirte
