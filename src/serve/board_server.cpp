#include "serve/board_server.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>

#include <QPrinter>

#include "app/printer_canvas_qt.h"
#include "common/msg_table.h"
#include "platform/com_devices.h"
#include "serial/plain_main_thread_queue.h"
#include "serial/port_diagnosis.h"

namespace mirte {

namespace {

// The COM number --device is served under, in a device folder of this run alone.
constexpr int kDeviceComNumber = 50;
// How long the server sleeps at most when nothing comes from the port (the port's news
// wakes it at once): typed keys and a stop signal are looked at this often. Short enough
// for a person or a script at the console, long enough to cost nothing at idle.
constexpr std::chrono::milliseconds kIdleTurn{20};
constexpr int kReconnectMs = 1000;
// As the window's refresh timer: often enough that a frame cut off ends soon after its
// second of silence, rarely enough that the line's counts cost nothing at idle.
constexpr std::chrono::milliseconds kLineWatchTurn{200};

std::string PortFaultLine(const TPortDiagnosis& why, int comNumber) {
  const std::string port = "COM" + std::to_string(comNumber) + (why.Device.empty() ? "" : " (" + why.Device + ")");
  switch (why.Fault) {
    case TPortFault::Missing:
      return port + ": the device does not exist";
    case TPortFault::NoPermission:
      return port + ": access denied; the device belongs to group " + why.Group + " (sudo usermod -a -G " +
             why.Group + " " + why.User + ")";
    case TPortFault::InUse: {
      std::string holders;
      for (const TDeviceUser& holder : why.Holders)
        holders += (holders.empty() ? "" : ", ") + holder.Name + " (pid " + std::to_string(holder.Pid) + ")";
      return port + ": in use" + (holders.empty() ? std::string() : " by " + holders);
    }
    case TPortFault::Other:
      return port + ": " + std::strerror(why.Error);
    case TPortFault::None:
      break;
  }
  return port + ": not available";
}

TSettingsLocation LocationOf(const std::string& settingsFile, const std::string& programFile) {
  if (settingsFile.empty()) return FindSettingsLocation(programFile);
  TSettingsLocation location;
  const std::filesystem::path file = std::filesystem::absolute(settingsFile);
  location.SettingsPath = file.string();
  location.SettingsFolder = file.parent_path().string() + "/";
  location.ProgramFolder = std::filesystem::path(programFile).parent_path().string() + "/";
  location.BesideProgram = false;
  return location;
}

void WriteAll(int fd, std::string& bytes) {
  while (!bytes.empty()) {
    const ssize_t written = ::write(fd, bytes.data(), bytes.size());
    if (written > 0) {
      bytes.erase(0, static_cast<std::size_t>(written));
      continue;
    }
    if (written < 0 && errno == EINTR) continue;
    // Nobody reads (a full terminal, a closed pipe): the board is not held up for that.
    bytes.clear();
  }
}

}  // namespace

TBoardServer::TBoardServer(TServeOptions serveOptions, const std::string& programFile)
    : options_(std::move(serveOptions)) {
  printer_ = std::make_unique<TQtPrinterCanvas>([this] {
    return std::filesystem::path(options_.PdfFolder.empty() ? session_->Settings.WorkFolderPath() : options_.PdfFolder);
  });
  printer_->PdfOnly = options_.Printer.empty();
  printer_->OnPdfWritten = [](const QString& path) {
    std::fprintf(stderr, "mirte-serve: print job written to %s\n", path.toLocal8Bit().constData());
  };
  printer_->OnPdfFailed = [](const QString& folder, std::error_code reason) {
    std::fprintf(stderr, "mirte-serve: print job not saved: cannot write in %s: %s\n", folder.toLocal8Bit().constData(),
                 reason.message().c_str());
  };
  printer_->OnPdfRedirected = [](const QString& path, const QString& folder, std::error_code reason) {
    std::fprintf(stderr, "mirte-serve: cannot write in %s: %s; print job written to %s\n",
                 folder.toLocal8Bit().constData(), reason.message().c_str(), path.toLocal8Bit().constData());
  };
  session_ = std::make_unique<TBoardSession>(LocationOf(options_.SettingsFile, programFile), programFile,
                                            std::make_unique<TPlainMainThreadQueue>(), *this, *this, printer_.get());
}

TBoardServer::~TBoardServer() {
  session_->Board().SetConsoleTap(nullptr);
  session_->SetFrameObserver(nullptr);
  session_.reset();
  if (consoleOutFlags_ >= 0) ::fcntl(consoleOut_, F_SETFL, consoleOutFlags_);
  if (!privateDevices_.empty()) {
    std::error_code ignored;
    std::filesystem::remove_all(privateDevices_, ignored);
  }
}

bool TBoardServer::Start(std::string& error) {
  if (!options_.SettingsFile.empty()) {
    std::ifstream probe(options_.SettingsFile, std::ios::binary);
    if (!probe) {
      error = "--settings: cannot read " + options_.SettingsFile + ": " + std::strerror(errno);
      return false;
    }
  }
  for (const std::string* folder : {&options_.Folder, &options_.PdfFolder}) {
    std::error_code ignored;
    if (!folder->empty() && !std::filesystem::is_directory(*folder, ignored)) {
      error = std::string(folder == &options_.Folder ? "--folder" : "--print-to-pdf") + ": " + *folder +
              " is not a folder";
      return false;
    }
  }
  if ((!options_.Device.empty() || !options_.Drives.empty()) && !MakePrivateDevices(error)) return false;
  session_->LoadSettings();
  SettingsRec& rec = session_->Settings.Rec;
  if (!options_.Folder.empty()) session_->Settings.SetWorkFolder(std::filesystem::absolute(options_.Folder).string());
  if (options_.Baud) rec.Baud = *options_.Baud;
  if (options_.ComNumber) rec.ComNumber = static_cast<std::uint8_t>(*options_.ComNumber);
  if (!options_.Device.empty()) rec.ComNumber = kDeviceComNumber;
  if (!options_.Printer.empty()) {
    auto chosen = std::make_unique<QPrinter>(QPrinter::HighResolution);
    chosen->setPrinterName(QString::fromStdString(options_.Printer));
    if (!chosen->isValid()) {
      error = "--printer: no printer named " + options_.Printer;
      return false;
    }
    printer_->SetChosenPrinter(std::move(chosen));
  }
  if (!ApplyPort(error)) return false;

  if (!options_.ConsolePty.empty()) {
    pty_ = std::make_unique<TConsolePty>();
    if (!pty_->Open(options_.ConsolePty, error)) return false;
    consoleIn_ = consoleOut_ = pty_->Fd();
  } else if (options_.ConsoleStdio) {
    consoleIn_ = STDIN_FILENO;
    consoleOut_ = STDOUT_FILENO;
    ::fcntl(consoleIn_, F_SETFL, ::fcntl(consoleIn_, F_GETFL) | O_NONBLOCK);
    // A reader of the console that stops reading must not stop the board's service with
    // it; what it does not take is dropped. The flags are the terminal's or pipe's own,
    // shared with whoever started this program, so they are put back at the end.
    consoleOutFlags_ = ::fcntl(consoleOut_, F_GETFL);
    if (consoleOutFlags_ >= 0) ::fcntl(consoleOut_, F_SETFL, consoleOutFlags_ | O_NONBLOCK);
  }
  if (consoleOut_ >= 0) session_->Board().SetConsoleTap(this);
  if (options_.Frames) session_->SetFrameObserver(this);
  session_->StartBoard();
  std::fprintf(stderr, "mirte-serve: serving COM%d (%s) at %d baud from %s\n", rec.ComNumber,
               ComDevicePath(rec.ComNumber).c_str(), static_cast<int>(rec.Baud),
               session_->Board().FileService().Drives().WorkingFolder().c_str());
  return true;
}

bool TBoardServer::MakePrivateDevices(std::string& error) {
  namespace fs = std::filesystem;
  for (const auto& [letter, folder] : options_.Drives) {
    std::error_code ignored;
    if (!fs::is_directory(folder, ignored)) {
      error = std::string("--drive: ") + letter + "=" + folder + ": " + folder + " is not a folder";
      return false;
    }
  }
  char pattern[] = "/tmp/mirte-serve-XXXXXX";
  if (::mkdtemp(pattern) == nullptr) {
    error = std::string("no private device folder: ") + std::strerror(errno);
    return false;
  }
  privateDevices_ = pattern;
  const fs::path devices = fs::path(privateDevices_) / "dosdevices";
  std::error_code fault;
  fs::create_directory(devices, fault);
  // The set-up's own links hold, as far as the options leave them; they are copied with
  // their targets made absolute, so they lead where they led from their own folder.
  const fs::path shared = session_->SettingsLocation().DosDevicesFolder();
  for (const auto& entry : fs::directory_iterator(shared, fault)) {
    // Whatever else lies in the shared folder is the program's own as much as the links
    // are, and the board is kept from what lies in the run's folder: it is linked in by
    // inode, so a hard link to it in some drive is refused too.
    if (!entry.is_symlink()) {
      if (!entry.is_regular_file(fault)) continue;
      fs::create_hard_link(entry.path(), devices / entry.path().filename(), fault);
      // Another file system (a /tmp of its own): the file's other names in a drive are then
      // served, which its owner should know.
      if (fault)
        std::fprintf(stderr, "mirte-serve: note: %s is not kept from the board under other names: %s\n",
                     entry.path().c_str(), fault.message().c_str());
      continue;
    }
    fs::path target = fs::read_symlink(entry.path(), fault);
    if (fault) continue;
    if (target.is_relative()) target = shared / target;
    fs::create_symlink(target, devices / entry.path().filename(), fault);
  }
  SetComDevicesFolder(devices);
  if (!options_.Device.empty() && LinkComDevice(kDeviceComNumber, fs::absolute(options_.Device))) {
    error = "--device: cannot name " + options_.Device;
    return false;
  }
  for (const auto& [letter, folder] : options_.Drives) {
    const fs::path link = devices / std::string{static_cast<char>(std::tolower(letter)), ':'};
    fs::remove(link, fault);
    fs::create_symlink(fs::absolute(folder), link, fault);
    if (fault) {
      error = std::string("--drive: cannot map ") + letter + ": " + fault.message();
      return false;
    }
  }
  return true;
}

bool TBoardServer::ApplyPort(std::string& error) {
  session_->SetTermImp();
  if (session_->Flags.ComNotAvailable) {
    error = PortFaultLine(session_->PortFault, session_->Settings.Rec.ComNumber);
    return false;
  }
  return true;
}

int TBoardServer::RunUntil(std::function<bool()> stop) {
  stopWanted_ = std::move(stop);
  auto nextRetry = std::chrono::steady_clock::now();
  auto nextWatch = nextRetry;
  while (!stopWanted_()) {
    session_->MainQueue().WaitForMessages(kIdleTurn);
    ProcessPendingEvents();
    if (const auto now = std::chrono::steady_clock::now(); now >= nextWatch) {
      session_->WatchLine(now);
      nextWatch = now + kLineWatchTurn;
    }
    if (portLost_ && std::chrono::steady_clock::now() >= nextRetry) {
      session_->RetryPort();
      nextRetry = std::chrono::steady_clock::now() + std::chrono::milliseconds(kReconnectMs);
    }
  }
  // As the window's Exit: the open job ends as a complete document, then the port closes.
  if (session_->Board().PrintJobOpen()) session_->Board().EndPrintJob(false);
  FlushConsoleOutput();
  session_->Terminate();
  return 0;
}

void TBoardServer::ProcessPendingEvents() {
  session_->MainQueue().ProcessMessages();
  PumpConsoleInput();
  FlushConsoleOutput();
  if (stopWanted_ && stopWanted_()) session_->Flags.CloseRequested = true;
}

void TBoardServer::PumpConsoleInput() {
  if (consoleIn_ < 0) return;
  char keys[256];
  for (;;) {
    const ssize_t got = ::read(consoleIn_, keys, sizeof keys);
    if (got > 0) {
      session_->SendToPort(std::string(keys, static_cast<std::size_t>(got)));
      continue;
    }
    if (got == 0 && consoleIn_ == STDIN_FILENO) consoleIn_ = -1;  // end of input: keys are over
    return;
  }
}

void TBoardServer::ConsoleOutput(std::uint8_t byte) { pendingOutput_.push_back(static_cast<char>(byte)); }

void TBoardServer::FlushConsoleOutput() {
  if (consoleOut_ >= 0) WriteAll(consoleOut_, pendingOutput_);
  pendingOutput_.clear();
}

void TBoardServer::FrameDone(const TFrameFacts& facts) {
  const std::uint64_t before = frames_.EndIndex();
  frames_.Add(facts);
  if (frames_.EndIndex() == before) return;
  const std::string line = MonitorLine(frames_.Row(frames_.EndIndex() - 1), kLanguageEnglish);
  std::fprintf(stderr, "%s\n", line.c_str());
}

void TBoardServer::DeviceLost() {
  portLost_ = true;
  std::fprintf(stderr, "mirte-serve: COM%d went away; waiting for it\n", session_->Recovery.ComNumber());
}

void TBoardServer::LineNotice(std::string_view text) {
  // The status texts start with a blank, as the status bar wants them.
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  std::fprintf(stderr, "mirte-serve: %.*s\n", int(text.size()), text.data());
}

void TBoardServer::DeviceBack() {
  portLost_ = false;
  std::fprintf(stderr, "mirte-serve: COM%d is back\n", session_->ComPort.ComNumber());
}

}  // namespace mirte
