#include "serial/com_port.h"

#include <algorithm>
#include <cmath>

#include "platform/com_devices.h"
#include "serial/serial_dispatcher.h"

namespace mirte {

std::string TSerBaseComponent::Version() const { return "1.01"; }

// The hidden receiver of trigger messages on the main thread: one per open port.
class TCustomComPort::TNotifyWindow : public IMessageTarget {
public:
  explicit TNotifyWindow(TCustomComPort& port) : port_(port) {}
  std::intptr_t HandleMessage(std::uint32_t msg, std::uintptr_t wParam, std::intptr_t lParam) override {
    return port_.HandleNotifyMessage(msg, wParam, lParam);
  }

private:
  TCustomComPort& port_;
};

TCustomComPort::TCustomComPort(IMainThreadQueue* queue) : mainQueue_(queue) {}

TCustomComPort::~TCustomComPort() {
  destroying_ = true;
  // The owner is being taken down around the port: its handlers and windows may already be
  // gone, so the closing port tells nobody.
  userList_.clear();
  FOnPortClose = nullptr;
  FOnPortOpen = nullptr;
  FOnTrigger = nullptr;
  FOnTriggerAvail = nullptr;
  FOnTriggerData = nullptr;
  FOnTriggerStatus = nullptr;
  FOnTriggerTimer = nullptr;
  FOnTriggerLineError = nullptr;
  FOnTriggerModemStatus = nullptr;
  FOnTriggerOutbuffFree = nullptr;
  FOnTriggerOutbuffUsed = nullptr;
  FOnTriggerOutSent = nullptr;
  FOnDeviceLost = nullptr;
  try {
    if (FPortState == StateOpen) ClosePort();
  } catch (...) {
  }
  // Messages still queued for the notification window are dropped from here on, so a
  // deferred close cannot run while the dispatcher is taken down below.
  if (dispatcher_ && notifyWindow_) dispatcher_->DeregisterWndTriggerHandler(notifyWindow_.get());
  notifyWindow_.reset();
  dispatcher_.reset();
}

// ---------------------------------------------------------------------------------------
// Open and close

void TCustomComPort::SetOpen(bool value) {
  if (value) {
    if (FOpen) return;
    if (loading_) {
      openWhenLoaded_ = true;
      return;
    }
    OpenPort();
  } else {
    openWhenLoaded_ = false;
    openPending_ = false;
    ClosePort();
  }
}

void TCustomComPort::Loaded() {
  loading_ = false;
  if (!openWhenLoaded_) return;
  openWhenLoaded_ = false;
  try {
    SetOpen(true);
  } catch (...) {
    FOpen = false;
    if (exceptionHandler_) exceptionHandler_(std::current_exception());
  }
}

void TCustomComPort::ValidateComNumber() {
  if (FComNumber != 0) return;
  if (!FPromptForPort || !portPrompt_) CheckException(ecNoPortSelected);
  int chosen = portPrompt_();
  if (chosen <= 0 || chosen > 0xFFFF) CheckException(ecNoPortSelected);
  FComNumber = static_cast<std::uint16_t>(chosen);
}

void TCustomComPort::CreateDispatcher() {
  dispatcher_ = std::make_unique<TSerialDispatcher>(this, mainQueue_);
  dispatcher_->SetName("COM" + std::to_string(FComNumber));
}

int TCustomComPort::OpenDevice() {
  std::uint32_t lineControl = (FDTR ? 0x01 : 0) | (FRTS ? 0x02 : 0) | ((FHWFlowOptions & hwfUseDTR) ? 0x10 : 0) |
                              ((FHWFlowOptions & hwfUseRTS) ? 0x20 : 0);
  const std::string device = FDevicePath.empty() ? ComDevicePath(FComNumber).string() : FDevicePath;
  return dispatcher_->InitPort(device, FBaud, lineControl, FOutSize, FInSize, FStopBits,
                              FDataBits, static_cast<std::uint16_t>(FParity));
}

void TCustomComPort::OpenPort() {
  if (FPortState != StateClosed) {
    openPending_ = true;
    return;
  }
  if (FTapiMode != tmOn) ValidateComNumber();
  CreateDispatcher();
  try {
    int result = OpenDevice();
    if (result == ecDeviceBusy)
      result = ecAlreadyOpen;
    else if (result == ecNoDevice)
      result = ecBadId;
    CheckException(result);
    FPortState = StateOpen;
    UpdateHandlerFlags();
    force_ = true;
    SetTracing(FTracing);
    SetLogging(FLogging);
    SetHWFlowOptions(FHWFlowOptions);
    SetSWFlowOptions(FSWFlowOptions);
    SetXOnChar(FXOnChar);
    SetXOffChar(FXOffChar);
    dispatcher_->ChangeLengthTrigger(AvailThreshold);
    SetDTR(FDTR);
    SetRTS(FRTS);
    SetUseEventWord(FUseEventWord);
    SetRS485Mode(FRS485Mode);
    force_ = false;
    FOpen = true;
    HandleNotifyWindow(true);
    dispatcher_->SetDeviceLostTarget(notifyWindow_);
    if (copyTriggers_ && savedTriggers_) {
      copyTriggers_ = false;
      dispatcher_->RestoreTriggers(*savedTriggers_);
    }
    PortOpened();
    NotifyPortOpened();
  } catch (...) {
    force_ = false;
    FOpen = false;
    FPortState = StateClosed;
    if (dispatcher_ && notifyWindow_) dispatcher_->DeregisterWndTriggerHandler(notifyWindow_.get());
    notifyWindow_.reset();
    dispatcher_.reset();
    throw;
  }
}

void TCustomComPort::ClosePort() {
  if (FPortState != StateOpen) return;
  SetTracing(tlDump);
  SetLogging(tlDump);
  FPortState = StateClosing;
  NotifyPortClosing();
  if (!savedTriggers_) savedTriggers_ = std::make_unique<TTriggerSave>();
  dispatcher_->SaveTriggers(*savedTriggers_);
  copyTriggers_ = true;
  dispatcher_->DonePort();
  if (dispatcher_->ClosePending()) {
    // Asked for from inside a trigger handler: the dispatcher worker still waits for this
    // handler, so the rest of the close runs from the notification window once the
    // workers have ended.
    if (mainQueue_ && notifyWindow_) {
      mainQueue_->PostMessage(notifyWindow_, PortClosingMsg, 0, static_cast<std::intptr_t>(dispatcher_->Handle()) << 16);
      mainQueue_->HandleOneMessage();
    } else {
      CompleteDeferredClose();
    }
  } else {
    HandleNotifyWindow(false);
    dispatcher_.reset();
    FPortState = StateClosed;
    FOpen = false;
  }
  NotifyPortClosed();
}

void TCustomComPort::CompleteDeferredClose() {
  if (!dispatcher_ || FPortState != StateClosing) return;
  // The workers end within moments of the handler's return; a short wait here spares the
  // main thread a round of re-posting for most closes.
  if (!dispatcher_->WaitWorkersEnded(std::chrono::milliseconds(5)) && mainQueue_ && notifyWindow_) {
    mainQueue_->PostMessage(notifyWindow_, PortClosingMsg, 0, static_cast<std::intptr_t>(dispatcher_->Handle()) << 16);
    return;
  }
  HandleNotifyWindow(false);
  dispatcher_.reset();
  FPortState = StateClosed;
  FOpen = false;
  if (openPending_) {
    openPending_ = false;
    OpenPort();
  }
}

void TCustomComPort::HandleNotifyWindow(bool create) {
  if (create) {
    notifyWindow_ = std::make_shared<TNotifyWindow>(*this);
    if (dispatcher_) dispatcher_->RegisterWndTriggerHandler(notifyWindow_);
  } else {
    if (dispatcher_ && notifyWindow_) dispatcher_->DeregisterWndTriggerHandler(notifyWindow_.get());
    notifyWindow_.reset();
  }
}

std::intptr_t TCustomComPort::HandleNotifyMessage(std::uint32_t msg, std::uintptr_t wParam, std::intptr_t lParam) {
  if (msg != AvailTriggerMsg && msg != DataTriggerMsg && msg != TimerTriggerMsg && msg != StatusTriggerMsg &&
      msg != PortClosingMsg && msg != kDeviceLostMsg)
    return 0;
  std::lock_guard registryGuard(TBaseDispatcher::RegistryLock());
  auto* dispatcher = TBaseDispatcher::FindDispatcher(static_cast<int>((lParam >> 16) & 0xFFFF));
  if (!dispatcher || !dispatcher->ComPort()) return 0;
  TCustomComPort& port = *dispatcher->ComPort();
  try {
    if (msg == kDeviceLostMsg) {
      if (port.FPortState == StateOpen && port.FOnDeviceLost) port.FOnDeviceLost(port);
      return 0;
    }
    auto trigger = static_cast<std::uint16_t>(wParam);
    auto data = msg == AvailTriggerMsg ? trigger : static_cast<std::uint16_t>(lParam & 0xFFFF);
    port.DoTrigger(static_cast<std::uint16_t>(msg), trigger, data);
    switch (msg) {
      case AvailTriggerMsg: port.DoTriggerAvail(trigger); break;
      case DataTriggerMsg: port.DoTriggerData(trigger); break;
      case TimerTriggerMsg: port.DoTriggerTimer(trigger); break;
      case StatusTriggerMsg:
        port.DoTriggerStatus(trigger);
        switch (trigger & 7) {
          case 1: port.DoTriggerModemStatus(); break;
          case 2: {
            std::uint16_t error = dispatcher->GetLineError();
            port.DoTriggerLineError(error, dispatcher->CheckLineBreak());
            break;
          }
          case 3: port.DoTriggerOutbuffFree(); break;
          case 4: port.DoTriggerOutbuffUsed(); break;
          case 5: port.DoTriggerOutSent(); break;
          default: break;
        }
        break;
      case PortClosingMsg: port.CompleteDeferredClose(); break;
      default: break;
    }
  } catch (...) {
    if (port.exceptionHandler_ && (!mainQueue_ || mainQueue_->IsMainThread())) port.exceptionHandler_(std::current_exception());
  }
  return 0;
}

// ---------------------------------------------------------------------------------------
// Notifications

void TCustomComPort::NotifyPortOpened() {
  auto users = userList_;
  for (const auto& user : users) {
    if (user.Window)
      user.Window->HandleMessage(PortOpenedMsg, 0, 0);
    else if (user.CallbackEx)
      user.CallbackEx(user.Context, *this, 0);
    else if (user.Callback)
      user.Callback(user.Context, *this, true);
  }
  if (FOnPortOpen) FOnPortOpen(*this);
}

void TCustomComPort::NotifyPortClosing() {
  auto users = userList_;
  for (const auto& user : users) {
    if (user.Window)
      user.Window->HandleMessage(PortClosingMsg, 0, 0);
    else if (user.CallbackEx)
      user.CallbackEx(user.Context, *this, 1);
  }
}

void TCustomComPort::NotifyPortClosed() {
  auto users = userList_;
  for (const auto& user : users) {
    if (user.Window)
      user.Window->HandleMessage(PortClosedMsg, 0, 0);
    else if (user.CallbackEx)
      user.CallbackEx(user.Context, *this, 2);
    else if (user.Callback)
      user.Callback(user.Context, *this, false);
  }
  if (FOnPortClose) FOnPortClose(*this);
}

void TCustomComPort::AddUserWindow(IMessageTarget* window) {
  if (window) userList_.push_back({window, nullptr, nullptr, nullptr});
}

void TCustomComPort::RemoveUserWindow(IMessageTarget* window) {
  if (destroying_) return;
  std::erase_if(userList_, [window](const TUserRecord& r) { return r.Window == window; });
}

void TCustomComPort::AddUserCallback(TPortCallback callback, void* context) {
  if (callback) userList_.push_back({nullptr, callback, nullptr, context});
}

void TCustomComPort::AddUserCallbackEx(TPortCallbackEx callback, void* context) {
  if (callback) userList_.push_back({nullptr, nullptr, callback, context});
}

void TCustomComPort::RemoveUserCallback(void* context) {
  if (destroying_) return;
  std::erase_if(userList_, [context](const TUserRecord& r) { return !r.Window && r.Context == context; });
}

// ---------------------------------------------------------------------------------------
// Operations

TBaseDispatcher& TCustomComPort::ValidDispatcher() {
  if (!dispatcher_ && FAutoOpen && !loading_) SetOpen(true);
  if (!dispatcher_) CheckException(ecCommNotOpen);
  return *dispatcher_;
}

TBaseDispatcher* TCustomComPort::CurrentDispatcher() {
  if (!dispatcher_ && !loading_ && FAutoOpen) SetOpen(true);
  return dispatcher_.get();
}

bool TCustomComPort::InputReady() {
  if (FPortState == StateClosing) return false;
  return ValidDispatcher().CharReady();
}

std::uint8_t TCustomComPort::ReadChar() {
  if (FPortState == StateClosing) return 0;
  std::uint8_t c = 0;
  CheckException(ValidDispatcher().GetChar(c));
  return c;
}

void TCustomComPort::WriteChar(std::uint8_t c) { WriteBlock(&c, 1); }

void TCustomComPort::WriteString(const std::string& s) {
  if (FPortState == StateClosing) return;
  auto& dispatcher = ValidDispatcher();
  if (s.empty()) return;
  CheckException(dispatcher.PutBlock(s.data(), static_cast<std::uint32_t>(s.size())));
}

int TCustomComPort::WriteBlock(const void* block, std::uint16_t len) {
  if (FPortState == StateClosing) return 0;
  auto& dispatcher = ValidDispatcher();
  if (len == 0) return 0;
  CheckException(dispatcher.PutBlock(block, len));
  return 0;
}

std::uint32_t TCustomComPort::OutputPending() {
  if (!dispatcher_ || FPortState != StateOpen) return 0;
  return dispatcher_->OutBuffUsed();
}

std::uint32_t TCustomComPort::InputInDriver() {
  if (!dispatcher_ || FPortState != StateOpen) return 0;
  return dispatcher_->InDriverCount();
}

std::chrono::steady_clock::time_point TCustomComPort::LastReceiveTime() {
  if (!dispatcher_ || FPortState != StateOpen) return {};
  return dispatcher_->LastReceiveTime();
}

void TCustomComPort::DiscardInput() {
  if (FPortState == StateClosing) return;
  CheckException(ValidDispatcher().FlushInBuffer());
}

void TCustomComPort::ServicePort() { DoServicePort(); }

void TCustomComPort::DoServicePort() {
  if (FPortState == StateClosing) return;
  CheckException(ValidDispatcher().ProcessCommunications());
}

// ---------------------------------------------------------------------------------------
// Properties

bool TCustomComPort::PortIsOpen() const { return dispatcher_ && FPortState == StateOpen; }

void TCustomComPort::SetDeviceLayer(TDeviceLayer value) {
  // Only the serial driver is available, and only a closed port may change its layer.
  if (value != dlWin32 || FPortState != StateClosed) return;
  if (value == FDeviceLayer) return;
  FDeviceLayer = value;
  DeviceLayerChanged();
}

void TCustomComPort::SetComNumber(std::uint16_t value) {
  if (value == FComNumber && !force_) return;
  FDevicePath.clear();
  if (PortIsOpen()) {
    ClosePort();
    FComNumber = value;
    SetTracing(FTracing);
    SetLogging(FLogging);
    SetOpen(true);
  } else {
    FComNumber = value;
  }
}

void TCustomComPort::ApplyLineParams() {
  if (PortIsOpen())
    CheckException(dispatcher_->SetLineParams(FBaud, static_cast<std::uint16_t>(FParity), FStopBits, FDataBits));
}

void TCustomComPort::SetBaud(std::int32_t value) {
  if (value == FBaud && !force_) return;
  FBaud = value;
  ApplyLineParams();
}

void TCustomComPort::SetParity(TParity value) {
  if (value == FParity && !force_) return;
  FParity = value;
  ApplyLineParams();
}

void TCustomComPort::SetDataBits(std::uint16_t value) {
  if (value == FDataBits && !force_) return;
  FDataBits = value;
  ApplyLineParams();
}

void TCustomComPort::SetStopBits(std::uint16_t value) {
  if (value == FStopBits && !force_) return;
  FStopBits = value;
  ApplyLineParams();
}

void TCustomComPort::SetInSize(std::uint16_t value) {
  if (value == FInSize && !force_) return;
  FInSize = value;
  if (PortIsOpen()) CheckException(dispatcher_->SetupQueueSizes(FInSize, FOutSize));
}

void TCustomComPort::SetOutSize(std::uint16_t value) {
  if (value == FOutSize && !force_) return;
  FOutSize = value;
  // The output ring keeps its size until the next open.
  if (PortIsOpen()) CheckException(dispatcher_->SetupQueueSizes(FInSize, FOutSize));
}

void TCustomComPort::SetDTR(bool value) {
  if (value == FDTR && !force_) return;
  if (PortIsOpen()) {
    // 1: the line is under hardware flow control and keeps its state.
    if (CheckException(dispatcher_->SetDTR(value)) == 0) FDTR = value;
  } else {
    FDTR = value;
  }
}

void TCustomComPort::SetRTS(bool value) {
  if (value == FRTS && !force_) return;
  if (PortIsOpen()) {
    if (CheckException(dispatcher_->SetRTS(value)) == 0) FRTS = value;
  } else {
    FRTS = value;
  }
}

namespace {

std::uint16_t PercentOf(std::uint16_t size, int percent) {
  return static_cast<std::uint16_t>(std::lround(size * percent / 100.0));
}

}  // namespace

void TCustomComPort::ApplyFlowOptions() {
  if (!PortIsOpen()) return;
  auto full = std::min(FBufferFull, FInSize);
  auto resume = std::min(FBufferResume, full);
  CheckException(dispatcher_->HWFlowOptions(full, resume, FHWFlowOptions));
  std::uint16_t swMask = FSWFlowOptions == swfReceive ? 2 : FSWFlowOptions == swfTransmit ? 1 : FSWFlowOptions == swfBoth ? 3 : 0;
  if (swMask != 0)
    CheckException(dispatcher_->SWFlowEnable(full, resume, swMask));
  else
    CheckException(dispatcher_->SWFlowDisable());
}

void TCustomComPort::SetHWFlowOptions(THWFlowOptionSet value) {
  value &= hwfUseDTR | hwfUseRTS | hwfRequireDSR | hwfRequireCTS;
  if (value == FHWFlowOptions && !force_) return;
  if (value & (hwfUseRTS | hwfRequireCTS)) FRS485Mode = false;
  FHWFlowOptions = value;
  if (value != 0) {
    if (FBufferFull == 0 || FBufferFull > FInSize) FBufferFull = PercentOf(FInSize, 90);
    if (FBufferResume == 0 || FBufferResume > FBufferFull) FBufferResume = PercentOf(FInSize, 10);
  }
  if (PortIsOpen()) {
    auto full = std::min(FBufferFull, FInSize);
    CheckException(dispatcher_->HWFlowOptions(full, std::min(FBufferResume, full), FHWFlowOptions));
  }
}

void TCustomComPort::SetSWFlowOptions(TSWFlowOptions value) {
  if (value == FSWFlowOptions && !force_) return;
  FSWFlowOptions = value;
  std::uint16_t mask = value == swfReceive ? 2 : value == swfTransmit ? 1 : value == swfBoth ? 3 : 0;
  if (mask != 0) {
    if (FBufferFull == 0 || FBufferFull > FInSize) FBufferFull = PercentOf(FInSize, 75);
    if (FBufferResume == 0 || FBufferResume > FBufferFull) FBufferResume = PercentOf(FInSize, 25);
  }
  if (PortIsOpen()) {
    auto full = std::min(FBufferFull, FInSize);
    if (mask != 0)
      CheckException(dispatcher_->SWFlowEnable(full, std::min(FBufferResume, full), mask));
    else
      CheckException(dispatcher_->SWFlowDisable());
  }
}

void TCustomComPort::SetXOnChar(char value) {
  if (value == FXOnChar && !force_) return;
  FXOnChar = value;
  if (PortIsOpen()) CheckException(dispatcher_->SWFlowChars(FXOnChar, FXOffChar));
}

void TCustomComPort::SetXOffChar(char value) {
  if (value == FXOffChar && !force_) return;
  FXOffChar = value;
  if (PortIsOpen()) CheckException(dispatcher_->SWFlowChars(FXOnChar, FXOffChar));
}

void TCustomComPort::SetBufferFull(std::uint16_t value) {
  FBufferFull = std::min(value, FInSize);
  if (FBufferResume > FBufferFull) FBufferResume = FBufferFull;
  ApplyFlowOptions();
}

void TCustomComPort::SetBufferResume(std::uint16_t value) {
  FBufferResume = FBufferFull != 0 ? std::min(value, FBufferFull) : std::min(value, FInSize);
  ApplyFlowOptions();
}

void TCustomComPort::SetTracing(TTraceLogState value) {
  // No trace file is ever written; dump, append and clear are actions on that file and
  // leave the state as it was.
  if (value == tlOff || value == tlOn || value == tlPause) FTracing = value;
}

void TCustomComPort::SetTraceSize(std::uint32_t value) { FTraceSize = std::min<std::uint32_t>(value, 4000000); }

void TCustomComPort::SetLogging(TTraceLogState value) {
  if (value == tlOff || value == tlOn || value == tlPause) FLogging = value;
}

void TCustomComPort::SetLogSize(std::uint32_t value) { FLogSize = std::min<std::uint32_t>(value, 16000000); }

void TCustomComPort::SetUseEventWord(bool value) {
  if (value == FUseEventWord && !force_) return;
  FUseEventWord = value;
}

void TCustomComPort::SetRS485Mode(bool value) {
  if (value == FRS485Mode && !force_) return;
  FRS485Mode = value;
  if (value) {
    FHWFlowOptions &= static_cast<THWFlowOptionSet>(~(hwfUseRTS | hwfRequireCTS));
    SetRTS(false);
  }
}

// ---------------------------------------------------------------------------------------
// Events

bool TCustomComPort::AnyTriggerEventAssigned() const {
  return FOnTrigger || FOnTriggerAvail || FOnTriggerData || FOnTriggerStatus || FOnTriggerTimer ||
         FOnTriggerLineError || FOnTriggerModemStatus || FOnTriggerOutbuffFree || FOnTriggerOutbuffUsed ||
         FOnTriggerOutSent;
}

void TCustomComPort::UpdateHandlerFlags() {
  if (dispatcher_ && FPortState == StateOpen) dispatcher_->UpdateHandlerFlags(AnyTriggerEventAssigned()
                                                                    ? TBaseDispatcher::THandlerUpdate::PortHandlerInstalled
                                                                    : TBaseDispatcher::THandlerUpdate::PortHandlerRemoved);
}

void TCustomComPort::SetOnTrigger(TTriggerMessageEvent value) {
  FOnTrigger = std::move(value);
  UpdateHandlerFlags();
}
void TCustomComPort::SetOnTriggerAvail(TTriggerAvailEvent value) {
  FOnTriggerAvail = std::move(value);
  UpdateHandlerFlags();
}
void TCustomComPort::SetOnTriggerData(TTriggerEvent value) {
  FOnTriggerData = std::move(value);
  UpdateHandlerFlags();
}
void TCustomComPort::SetOnTriggerStatus(TTriggerEvent value) {
  FOnTriggerStatus = std::move(value);
  UpdateHandlerFlags();
}
void TCustomComPort::SetOnTriggerTimer(TTriggerEvent value) {
  FOnTriggerTimer = std::move(value);
  UpdateHandlerFlags();
}
void TCustomComPort::SetOnTriggerLineError(TTriggerLineErrorEvent value) {
  FOnTriggerLineError = std::move(value);
  UpdateHandlerFlags();
}
void TCustomComPort::SetOnTriggerModemStatus(TNotifyEvent value) {
  FOnTriggerModemStatus = std::move(value);
  UpdateHandlerFlags();
}
void TCustomComPort::SetOnTriggerOutbuffFree(TNotifyEvent value) {
  FOnTriggerOutbuffFree = std::move(value);
  UpdateHandlerFlags();
}
void TCustomComPort::SetOnTriggerOutbuffUsed(TNotifyEvent value) {
  FOnTriggerOutbuffUsed = std::move(value);
  UpdateHandlerFlags();
}
void TCustomComPort::SetOnTriggerOutSent(TNotifyEvent value) {
  FOnTriggerOutSent = std::move(value);
  UpdateHandlerFlags();
}

void TCustomComPort::DoTrigger(std::uint16_t msg, std::uint16_t triggerHandle, std::uint16_t data) {
  if (FOnTrigger) FOnTrigger(*this, msg, triggerHandle, data);
}
void TCustomComPort::DoTriggerAvail(std::uint16_t count) {
  if (FOnTriggerAvail) FOnTriggerAvail(*this, count);
}
void TCustomComPort::DoTriggerData(std::uint16_t triggerHandle) {
  if (FOnTriggerData) FOnTriggerData(*this, triggerHandle);
}
void TCustomComPort::DoTriggerStatus(std::uint16_t triggerHandle) {
  if (FOnTriggerStatus) FOnTriggerStatus(*this, triggerHandle);
}
void TCustomComPort::DoTriggerTimer(std::uint16_t triggerHandle) {
  if (FOnTriggerTimer) FOnTriggerTimer(*this, triggerHandle);
}
void TCustomComPort::DoTriggerLineError(std::uint16_t error, bool lineBreak) {
  if (FOnTriggerLineError) FOnTriggerLineError(*this, error, lineBreak);
}
void TCustomComPort::DoTriggerModemStatus() {
  if (FOnTriggerModemStatus) FOnTriggerModemStatus(*this);
}
void TCustomComPort::DoTriggerOutbuffFree() {
  if (FOnTriggerOutbuffFree) FOnTriggerOutbuffFree(*this);
}
void TCustomComPort::DoTriggerOutbuffUsed() {
  if (FOnTriggerOutbuffUsed) FOnTriggerOutbuffUsed(*this);
}
void TCustomComPort::DoTriggerOutSent() {
  if (FOnTriggerOutSent) FOnTriggerOutSent(*this);
}

// ---------------------------------------------------------------------------------------
// Assign

void TCustomComPort::Assign(const TCustomComPort& source) {
  if (&source == this) return;
  userList_ = source.userList_;
  if (source.dispatcher_ && source.FPortState == StateOpen) {
    if (!savedTriggers_) savedTriggers_ = std::make_unique<TTriggerSave>();
    source.dispatcher_->SaveTriggers(*savedTriggers_);
    copyTriggers_ = true;
  }
  force_ = source.force_;
  FDeviceLayer = source.FDeviceLayer;
  FComNumber = source.FComNumber;
  FDevicePath.clear();
  FBaud = source.FBaud;
  FParity = source.FParity;
  FDataBits = source.FDataBits;
  FStopBits = source.FStopBits;
  FInSize = source.FInSize;
  FOutSize = source.FOutSize;
  FAutoOpen = source.FAutoOpen;
  FPromptForPort = source.FPromptForPort;
  FRS485Mode = source.FRS485Mode;
  FDTR = source.FDTR;
  FRTS = source.FRTS;
  FBufferFull = source.FBufferFull;
  FBufferResume = source.FBufferResume;
  FHWFlowOptions = source.FHWFlowOptions;
  FSWFlowOptions = source.FSWFlowOptions;
  FXOnChar = source.FXOnChar;
  FXOffChar = source.FXOffChar;
  FTracing = source.FTracing;
  FTraceSize = source.FTraceSize;
  FTraceName = source.FTraceName;
  FTraceHex = source.FTraceHex;
  FTraceAllHex = source.FTraceAllHex;
  FLogging = source.FLogging;
  FLogSize = source.FLogSize;
  FLogName = source.FLogName;
  FLogHex = source.FLogHex;
  FLogAllHex = source.FLogAllHex;
  AvailThreshold = source.AvailThreshold;
  FTapiMode = source.FTapiMode;
  SetOpen(false);
  SetOnTrigger(source.FOnTrigger);
  SetOnTriggerAvail(source.FOnTriggerAvail);
  SetOnTriggerData(source.FOnTriggerData);
  SetOnTriggerStatus(source.FOnTriggerStatus);
  SetOnTriggerTimer(source.FOnTriggerTimer);
  FOnPortOpen = source.FOnPortOpen;
  FOnPortClose = source.FOnPortClose;
}

}  // namespace mirte
