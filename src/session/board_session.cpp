#include "session/board_session.h"

#include "common/line_texts.h"
#include "platform/com_devices.h"
#include "serial/port_list.h"

namespace mirte {
namespace {

std::string Filled(std::string_view pattern, std::string_view mark, const std::string& value) {
  std::string text(pattern);
  if (auto at = text.find(mark); at != std::string::npos) text.replace(at, mark.size(), value);
  return text;
}

}  // namespace

TBoardSession::TBoardSession(const TSettingsLocation& location, std::string program,
                             std::unique_ptr<IMainThreadQueue> queue, IBoardWindow& view, ISessionEvents& sessionEvents,
                             IPrinterCanvas* printer)
    : mainQueue_(std::move(queue)),
      settingsLocation_(location),
      programFile_(std::move(program)),
      events_(sessionEvents),
      view_(view) {
  // COM numbers name devices through the dosdevices/ that lies beside these settings.
  SetComDevicesFolder(settingsLocation_.DosDevicesFolder());

  ComPort.SetMainThreadQueue(mainQueue_.get());
  ComPort.SetPromptForPort(false);
  ComPort.SetAutoOpen(false);
  ComPort.SetTapiMode(tmOff);
  ComPort.SetComNumber(1);
  ComPort.SetBaud(115200);
  ComPort.SetDataBits(8);
  ComPort.SetParity(pNone);
  ComPort.SetStopBits(2);
  ComPort.SetHWFlowOptions(0);
  ComPort.SetSWFlowOptions(swfNone);
  ComPort.SetOnTriggerAvail([this](TCustomComPort&, std::uint16_t) { ComPortTriggerAvail(); });
  ComPort.SetOnDeviceLost([this](TCustomComPort&) { ComPortDeviceLost(); });
  ComPort.SetOnPortOpen([this](TCustomComPort&) {
    Recovery.Opened();
    PortFault = {};
    // The driver counts from the open, so a device back after a plug starts afresh too.
    shownBytesLost_ = 0;
  });

  board_ = std::make_unique<TBoardService>(screen_, view, TBoardLinks{&portLink_, printer, &Settings.Rec, {}});
}

TBoardSession::~TBoardSession() {
  // The port's workers deliver into the board service: stop them before anything goes.
  ComPort.SetOnTriggerAvail(nullptr);
  ComPort.SetOnDeviceLost(nullptr);
  ComPort.SetOnPortOpen(nullptr);
  board_->SetConsoleEvents(nullptr);
  ConsoleLog.Close();
  try {
    ComPort.SetOpen(false);
  } catch (const ESerialException&) {
  }
}

void TBoardSession::LoadSettings() {
  Flags = TShellFlags{};
  board_->InitFileService();
  Settings.LoadSettings(settingsLocation_);
  // Whatever folder a drive stands for, the board never reaches the program's own files.
  board_->FileService().SetProgramFiles(
      TProgramFiles{programFile_, Settings.SettingsPath, ComDevicesFolder().string()});
}

void TBoardSession::SetTermImp() {
  const SettingsRec& rec = Settings.Rec;
  ComPort.SetComNumber(rec.ComNumber);
  ComPort.SetBaud(rec.Baud);
  if (PortAvailable(rec.ComNumber)) {
    try {
      ComPort.SetOpen(true);
    } catch (const ESerialException&) {
      try {
        ComPort.SetOpen(false);
      } catch (const ESerialException&) {
      }
      Flags.ComNotAvailable = true;
    }
  } else {
    Flags.ComNotAvailable = true;
  }
  if (Flags.ComNotAvailable) PortFault = DiagnosePort(rec.ComNumber);
  SetWorkingFolder(Settings.WorkFolderPath());
}

void TBoardSession::StartBoard() {
  if (ComPort.Open()) {
    try {
      ComPort.DiscardInput();
    } catch (const ESerialException&) {
    }
  }
  board_->ResetConsole();
  if (ComPort.Open()) {
    try {
      ComPort.SetDTR(!ComPort.DTR());
    } catch (const ESerialException&) {
    }
  }
  // Only now: the console's reset above empties the status bar.
  LookAtAdapter();
}

void TBoardSession::SetWorkingFolder(const std::string& path) {
  std::string folder = path;
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  board_->FileService().SetWorkingFolder(folder);
}

void TBoardSession::SendToPort(const std::string& bytes) {
  if (Flags.ComNotAvailable || bytes.empty()) return;
  try {
    ComPort.WriteString(bytes);
  } catch (const ESerialException&) {
    // A device that went away takes keys silently, like a port that is not available.
  }
}

bool TBoardSession::StartConsoleLog(const std::string& path) {
  StopConsoleLog();
  if (!ConsoleLog.Open(path)) return false;
  board_->SetConsoleEvents(&ConsoleLog);
  return true;
}

void TBoardSession::StopConsoleLog() {
  board_->SetConsoleEvents(nullptr);
  ConsoleLog.Close();
}

void TBoardSession::ComPortTriggerAvail() { board_->ComPortTriggerAvail(); }

void TBoardSession::ComPortDeviceLost() {
  if (!ComPort.Open()) return;
  Recovery.Lost();
  Flags.ComNotAvailable = true;
  board_->AbandonFrame();
  events_.DeviceLost();
}

bool TBoardSession::RetryPort() {
  if (!Recovery.Active()) return false;
  if (!Recovery.Retry()) return false;
  PortReopened();
  return true;
}

void TBoardSession::PortReopened() {
  Flags.ComNotAvailable = false;
  // As at start-up: nothing from before the plug counts, and the board sees DTR move once.
  try {
    ComPort.DiscardInput();
    ComPort.SetDTR(!ComPort.DTR());
  } catch (const ESerialException&) {
  }
  LookAtAdapter();
  events_.DeviceBack();
}

void TBoardSession::WaitForPortNews() {
  // Callers loop on this while a reply drains to the board. The wait ends as soon as the
  // port's output has left or a serial message comes, so the caller sees its condition at
  // once; the millisecond limit keeps the front end's own events served during a long
  // drain without spinning a core.
  mainQueue_->WaitForMessages(std::chrono::milliseconds(1));
}

void TBoardSession::ClosePort() {
  try {
    ComPort.SetOpen(false);
  } catch (const ESerialException&) {
  }
}

void TBoardSession::LookAtAdapter() {
  TBaseDispatcher* dispatcher = ComPort.Open() ? ComPort.CurrentDispatcher() : nullptr;
  const bool holds = lineFacts_ ? lineFacts_->AdapterHoldsBytesBack() : dispatcher && dispatcher->AdapterHoldsBytesBack();
  const bool told = !adapterNotice_.empty();
  adapterNotice_ = holds ? Filled(kAdapterHoldsBytes.Pick(view_.Language()), "%1", std::to_string(ComPort.ComNumber())) : "";
  // Told once per adapter: the same device plugged back holds bytes as it did.
  if (holds && !told) Notice(adapterNotice_);
}

std::optional<TLineErrorCounts> TBoardSession::CurrentLineErrors() {
  if (lineFacts_) return lineFacts_->LineErrorCounts();
  if (!ComPort.Open() || Flags.ComNotAvailable) return std::nullopt;
  TBaseDispatcher* dispatcher = ComPort.CurrentDispatcher();
  if (!dispatcher) return std::nullopt;
  return dispatcher->LineErrorCounts();
}

void TBoardSession::WatchLine(std::chrono::steady_clock::time_point now) {
  board_->AbandonFrameIfSilent(now);
  // Here, not as the board's bytes come: a slow file delays a tick, never a reply.
  ConsoleLog.WriteBacklog();
  const auto counts = CurrentLineErrors();
  if (!counts) return;
  // Each counted error stands for a byte that never reached the board service, whatever
  // the line did to it; the user hears of the total, once for every time it grows.
  const long lost = long(counts->Overrun) + counts->Framing + counts->Parity + counts->Break;
  if (lost <= shownBytesLost_) return;
  shownBytesLost_ = lost;
  const std::string text = Filled(kLineBytesLost.Pick(view_.Language()), "%1", std::to_string(ComPort.ComNumber()));
  Notice(Filled(text, "%2", std::to_string(lost)));
}

void TBoardSession::Notice(const std::string& text) {
  // The status bar has room for a line; the rest (a udev rule) is for a window that has more.
  view_.SetStatusText(text.substr(0, text.find('\n')));
  events_.LineNotice(text);
}

void TBoardSession::Terminate() {
  StopConsoleLog();
  ClosePort();
}

}  // namespace mirte
