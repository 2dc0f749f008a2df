#pragma once
// The main window: the terminal showing the board's console, a status bar of three panels
// (port, message line, lock keys), the main and popup menus with every command of the
// program, and the timers. It is a view over the board session, which owns the settings,
// the serial port and the board service: the terminal paints the session's screen, typed
// keys go to the board through the session, and the printer it supplies takes list output. Its creation runs the whole start-up (splash, settings,
// port, terminal); a configured port that is missing or busy leaves the program running
// with "COM not available" and nothing sent. Closing while a transfer pumps events is
// deferred: the transfer stops and the refresh timer ends the program on its next tick.
#include <QColor>
#include <QMainWindow>
#include <QString>

#include <array>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "app/lock_keys.h"
#include "app/qt_translations.h"
#include "common/settings.h"
#include "board/board_window.h"
#include "board/console_log.h"
#include "serial/com_port.h"
#include "serial/port_diagnosis.h"
#include "serial/port_recovery.h"
#include "session/board_session.h"

class QAction;
class QLabel;
class QMenu;
class QStatusBar;
class QTimer;

namespace mirte {

class TBoardService;
class TComPortOptions;
class TMonitorFrm;
class TDrivesFrm;
class TQtPrinterCanvas;
class TTerminal;
class TTTYEmulator;

// What the start-up and the commands take from outside; tests replace the parts that
// would block, wait or leave the program.
struct TTermFrmOptions {
  // The program file whose settings and dosdevices/ are used (where they lie is
  // FindSettingsLocation's rule); empty: this process.
  std::string ProgramFile;
  bool ShowSplash = true;
  std::chrono::milliseconds SplashWait{2500};
  // Modal choices; unset means the standard dialogs.
  std::function<std::optional<QColor>(const QColor& initial)> ChooseColor;
  std::function<std::optional<QString>(const QString& start, const QString& title)> ChooseFolder;
  // Ends the program at once; unset means leaving the event loop.
  std::function<void()> Terminate;
  // The file to save or log the console to; unset means the standard save dialog.
  std::function<std::optional<QString>(const QString& title, const QString& suggested)> ChooseFile;
};

class TTermFrm : public QMainWindow, public IBoardWindow, private ISessionEvents {
public:
  explicit TTermFrm(TTermFrmOptions options = {});
  ~TTermFrm() override;

  // The port options dialog and the EPIX window: created once, hidden, after the main
  // window's own start-up.
  void CreateToolWindows();

private:
  // Declared before the session, which draws on it, so that it goes after it: a job still
  // open when the window goes is finished by the printer's own end.
  std::unique_ptr<TQtPrinterCanvas> printer_;
  std::unique_ptr<TBoardSession> session_;

public:
  TBoardSession& Session() { return *session_; }

  // --- Components -----------------------------------------------------------------------
  // The session's port.
  TComPort& ComPort;
  TTerminal* TerminalWn = nullptr;
  QStatusBar* TermStBar = nullptr;
  std::array<QLabel*, 3> Panels{};
  QMenu* PopupMenu = nullptr;
  QTimer* RefreshTmr = nullptr;
  QTimer* DeSelTmr = nullptr;
  // When the selection goes: 100 ms after the board's latest output.
  std::chrono::steady_clock::time_point DeSelectDue;
  // Runs while the port's device is away: looks for it about once a second.
  QTimer* ReconnectTmr = nullptr;
  static constexpr int kReconnectMs = 1000;
  // The file name of a print job that went to a PDF, shown over the message panel.
  QLabel* PdfFileLb = nullptr;
  QTimer* PdfFileTmr = nullptr;
  static constexpr int kPdfFileShownMs = 5000;

  QAction *ClearTermCmd, *SetPrnCmd, *PrintSingPgCmd, *PrintCmd, *AbortPrintCmd, *ChDirCmd, *ExitCmd;
  QAction *CopiaCmd, *DeSelCmd;
  QAction *SelCOMCmd, *ItaLngCmd, *EngLngCmd, *SmallChrCmd, *MedChrCmd, *BigChrCmd, *VBigChrCmd;
  QAction *ColBackCmd, *ColTextCmd;
  QAction* DrivesCmd;
  QAction *EPIXCmd, *MonitorCmd, *EditStrCmd, *InfoCmd;
  QAction *CopiaPup, *DeSelPup, *ClearTermPup, *PrintPup, *AbortPrintPup;
  std::array<QAction*, 10> TxStrCmd{};
  std::array<QAction*, 10> TxStrPup{};
  // The console's paste, save and log commands; LogFlushTmr looks every second for a log that
  // stopped on its own (the session's tick writes it) and says why in the status bar.
  QAction *PasteCmd, *PastePup, *SaveTextCmd, *LogConsoleCmd;
  QTimer* LogFlushTmr = nullptr;
  TConsoleLog& ConsoleLog;

  TSettings& Settings;
  TBoardService& Board() { return session_->Board(); }
  TQtPrinterCanvas& Printer() { return *printer_; }
  TComPortOptions* ComPortOptions() const { return comPortOptions_; }
  // Where the settings file and dosdevices/ are for this run.
  const TSettingsLocation& SettingsLocation() const { return session_->SettingsLocation(); }
  QWidget* EPIXFrm() const { return epixFrm_; }
  // The board monitor, created when first opened.
  TMonitorFrm* MonitorFrm() const { return monitorFrm_; }
  // The Drives window, once the command has opened it (it is then kept, hidden when closed).
  TDrivesFrm* DrivesFrm() const { return drivesFrm_; }
  // Set when the program asked to end (Exit, Alt+F4, a deferred close).
  bool Terminated() const { return terminated_; }

  // --- Methods other parts call ---------------------------------------------------------
  void SetTermImp();
  void SetTermDim();
  void SetStrCaption();
  void UpdateComInfo();
  void ShowKeyState();
  // Captions of every open window, and Qt's own texts, in the settings' language.
  void ApplyLanguage();

  // --- Command handlers -----------------------------------------------------------------
  void ClearTermCmdClick();
  void CopiaCmdClick();
  void DeSelCmdClick();
  void SetPrnCmdClick();
  void PrintSingPgCmdClick();
  void PrintCmdClick();
  void AbortPrintCmdClick();
  void ChDirCmdClick();
  void ExitCmdClick();
  void SelCOMCmdClick();
  void DrivesCmdClick();
  void LanguageCmdClick(int language);
  void FontSizeCmdClick(int size);
  void ColBackCmdClick();
  void ColTextCmdClick();
  void EPIXCmdClick();
  void MonitorCmdClick();
  void EditStrCmdClick();
  void TxStrClick(QAction* item);
  void InfoCmdClick();
  void PasteCmdClick();
  void SaveTextCmdClick();
  void LogConsoleCmdClick();
  bool Pasting() const { return pasting_; }
  void TerminalWnClick();
  void TerminalWnKeyDown(int& key, Qt::KeyboardModifiers shift);
  void TerminalWnKeyPress(std::uint8_t& ch);
  void ComPortTriggerAvail();
  // The port's device went away: the port is closed quietly, the status bar says so and
  // the device is looked for until it is back, or until the user picks a port.
  void ComPortDeviceLost();
  bool PortLost() const { return session_->PortLost(); }

  // --- IBoardWindow ---------------------------------------------------------------------
  TShellFlags& Flags() override { return flags_; }
  int Language() const override { return Settings.Rec.Language; }
  void SetCursorShape(TCursorType shape) override;
  void RemoveSelect() override;
  void Beep() override;
  std::string StatusText() const override;
  void SetStatusText(std::string_view text) override;
  void RestartDeSelectTimer() override;
  void SetPrintJobOpen(bool open) override;
  void WaitForPortNews() override;
  void ProcessPendingEvents() override;

protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void changeEvent(QEvent* event) override;

private:
  void BuildTerminal();
  void BuildStatusBar();
  void BuildMenus();
  void BuildTimers();
  void BuildConsoleItems(QMenu* comandi, QAction* beforeExit, QMenu* edit, QAction* popupBeforeClear);
  std::optional<QString> ChooseFile(const QString& title, const QString& suggested);
  void FormCreate();
  void FormShow();
  void RefreshTmrTimer();
  void DeSelTmrTimer();
  void ReconnectTmrTimer();
  // --- ISessionEvents -------------------------------------------------------------------
  void DeviceLost() override;
  void DeviceBack() override;
  void Terminate();
  void SetCheckedFontItem();
  void SetWorkingFolder(const std::string& folder);
  void SendToPort(const std::string& bytes);
  void ShowPdfFile(const QString& path);
  // A short word to the user over the message panel, gone after a while.
  void ShowNotice(const QString& text);
  // The client size that holds 24 x 80 cells of the current font inside `frame`.
  QSize TermClientSize(QSize frame) const;
  void FocusTerminal();
  void OpenMenuByMnemonic(int key);
  std::optional<QColor> ChooseColor(const QColor& initial);

  TTermFrmOptions options_;
  TShellFlags& flags_;
  // Paints the session's screen; goes before the session's buffer.
  std::unique_ptr<TTTYEmulator> DummyTrm;
  TBoardService* board_;
  TLockKeyReader lockKeys_;
  TPortRecovery& recovery_;
  // Why the port did not open, for the status bar; Fault None when nothing is known.
  TPortDiagnosis& portFault_;
  TQtTranslations qtTranslations_;
  TComPortOptions* comPortOptions_ = nullptr;
  QWidget* epixFrm_ = nullptr;
  TMonitorFrm* monitorFrm_ = nullptr;
  TDrivesFrm* drivesFrm_ = nullptr;
  bool shown_ = false;
  bool terminated_ = false;
  bool pasting_ = false;
  bool pasteStopped_ = false;  // Esc during a paste
};

}  // namespace mirte
