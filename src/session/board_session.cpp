#include "session/board_session.h"

#include "platform/com_devices.h"
#include "serial/port_list.h"

namespace mirte {

TBoardSession::TBoardSession(const TSettingsLocation& location, std::string program,
                             std::unique_ptr<IMainThreadQueue> queue, IBoardWindow& view, ISessionEvents& sessionEvents,
                             IPrinterCanvas* printer)
    : mainQueue(std::move(queue)),
      settingsLocation(location),
      programFile(std::move(program)),
      events(sessionEvents) {
  // COM numbers name devices through the dosdevices/ that lies beside these settings.
  SetComDevicesFolder(settingsLocation.DosDevicesFolder());

  ComPort.SetMainThreadQueue(mainQueue.get());
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
  });

  board = std::make_unique<TBoardService>(screen, view, TBoardLinks{&portLink, printer, &Settings.Rec, {}});
}

TBoardSession::~TBoardSession() {
  // The port's workers deliver into the board service: stop them before anything goes.
  ComPort.SetOnTriggerAvail(nullptr);
  ComPort.SetOnDeviceLost(nullptr);
  ComPort.SetOnPortOpen(nullptr);
  board->SetConsoleLog(nullptr);
  ConsoleLog.Close();
  try {
    ComPort.SetOpen(false);
  } catch (const ESerialException&) {
  }
}

void TBoardSession::LoadSettings() {
  Flags = TShellFlags{};
  board->InitFileService();
  Settings.LoadSettings(settingsLocation);
  // Whatever folder a drive stands for, the board never reaches the program's own files.
  board->FileService().SetProgramFiles(
      TProgramFiles{programFile, Settings.SettingsPath, ComDevicesFolder().string()});
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
  board->ResetConsole();
  if (ComPort.Open()) {
    try {
      ComPort.SetDTR(!ComPort.DTR());
    } catch (const ESerialException&) {
    }
  }
}

void TBoardSession::SetWorkingFolder(const std::string& path) {
  std::string folder = path;
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  board->FileService().SetWorkingFolder(folder);
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
  board->SetConsoleLog(&ConsoleLog);
  return true;
}

void TBoardSession::StopConsoleLog() {
  board->SetConsoleLog(nullptr);
  ConsoleLog.Close();
}

void TBoardSession::ComPortTriggerAvail() { board->ComPortTriggerAvail(); }

void TBoardSession::ComPortDeviceLost() {
  if (!ComPort.Open()) return;
  Recovery.Lost();
  Flags.ComNotAvailable = true;
  board->AbandonFrame();
  events.DeviceLost();
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
  events.DeviceBack();
}

void TBoardSession::WaitForPortNews() {
  // Callers loop on this while a reply drains to the board. The wait ends as soon as the
  // port's output has left or a serial message comes, so the caller sees its condition at
  // once; the millisecond limit keeps the front end's own events served during a long
  // drain without spinning a core.
  mainQueue->WaitForMessages(std::chrono::milliseconds(1));
}

void TBoardSession::ClosePort() {
  try {
    ComPort.SetOpen(false);
  } catch (const ESerialException&) {
  }
}

void TBoardSession::Terminate() {
  StopConsoleLog();
  ClosePort();
}

}  // namespace mirte
