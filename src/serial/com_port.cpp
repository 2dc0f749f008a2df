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
  explicit TNotifyWindow(TCustomComPort& Port) : Port(Port) {}
  std::intptr_t HandleMessage(std::uint32_t Msg, std::uintptr_t WParam, std::intptr_t LParam) override {
    return Port.HandleNotifyMessage(Msg, WParam, LParam);
  }

private:
  TCustomComPort& Port;
};

TCustomComPort::TCustomComPort(IMainThreadQueue* Queue) : MainQueue(Queue) {}

TCustomComPort::~TCustomComPort() {
  Destroying = true;
  // The owner is being taken down around the port: its handlers and windows may already be
  // gone, so the closing port tells nobody.
  UserList.clear();
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
  if (Dispatcher && NotifyWindow) Dispatcher->DeregisterWndTriggerHandler(NotifyWindow.get());
  NotifyWindow.reset();
  Dispatcher.reset();
}

// ---------------------------------------------------------------------------------------
// Open and close

void TCustomComPort::SetOpen(bool Value) {
  if (Value) {
    if (FOpen) return;
    if (Loading) {
      OpenWhenLoaded = true;
      return;
    }
    OpenPort();
  } else {
    OpenWhenLoaded = false;
    OpenPending = false;
    ClosePort();
  }
}

void TCustomComPort::Loaded() {
  Loading = false;
  if (!OpenWhenLoaded) return;
  OpenWhenLoaded = false;
  try {
    SetOpen(true);
  } catch (...) {
    FOpen = false;
    if (ExceptionHandler) ExceptionHandler(std::current_exception());
  }
}

void TCustomComPort::ValidateComNumber() {
  if (FComNumber != 0) return;
  if (!FPromptForPort || !PortPrompt) CheckException(ecNoPortSelected);
  int chosen = PortPrompt();
  if (chosen <= 0 || chosen > 0xFFFF) CheckException(ecNoPortSelected);
  FComNumber = static_cast<std::uint16_t>(chosen);
}

void TCustomComPort::CreateDispatcher() {
  Dispatcher = std::make_unique<TSerialDispatcher>(this, MainQueue);
  Dispatcher->SetName("COM" + std::to_string(FComNumber));
}

int TCustomComPort::OpenDevice() {
  std::uint32_t lineControl = (FDTR ? 0x01 : 0) | (FRTS ? 0x02 : 0) | ((FHWFlowOptions & hwfUseDTR) ? 0x10 : 0) |
                              ((FHWFlowOptions & hwfUseRTS) ? 0x20 : 0);
  const std::string device = FDevicePath.empty() ? ComDevicePath(FComNumber).string() : FDevicePath;
  return Dispatcher->InitPort(device, FBaud, lineControl, FOutSize, FInSize, FStopBits,
                              FDataBits, static_cast<std::uint16_t>(FParity));
}

void TCustomComPort::OpenPort() {
  if (FPortState != StateClosed) {
    OpenPending = true;
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
    Force = true;
    SetTracing(FTracing);
    SetLogging(FLogging);
    SetHWFlowOptions(FHWFlowOptions);
    SetSWFlowOptions(FSWFlowOptions);
    SetXOnChar(FXOnChar);
    SetXOffChar(FXOffChar);
    Dispatcher->ChangeLengthTrigger(AvailThreshold);
    SetDTR(FDTR);
    SetRTS(FRTS);
    SetUseEventWord(FUseEventWord);
    SetRS485Mode(FRS485Mode);
    Force = false;
    FOpen = true;
    HandleNotifyWindow(true);
    Dispatcher->SetDeviceLostTarget(NotifyWindow);
    if (CopyTriggers && SavedTriggers) {
      CopyTriggers = false;
      Dispatcher->RestoreTriggers(*SavedTriggers);
    }
    PortOpened();
    NotifyPortOpened();
  } catch (...) {
    Force = false;
    FOpen = false;
    FPortState = StateClosed;
    if (Dispatcher && NotifyWindow) Dispatcher->DeregisterWndTriggerHandler(NotifyWindow.get());
    NotifyWindow.reset();
    Dispatcher.reset();
    throw;
  }
}

void TCustomComPort::ClosePort() {
  if (FPortState != StateOpen) return;
  SetTracing(tlDump);
  SetLogging(tlDump);
  FPortState = StateClosing;
  NotifyPortClosing();
  if (!SavedTriggers) SavedTriggers = std::make_unique<TTriggerSave>();
  Dispatcher->SaveTriggers(*SavedTriggers);
  CopyTriggers = true;
  Dispatcher->DonePort();
  if (Dispatcher->ClosePending()) {
    // Asked for from inside a trigger handler: the dispatcher worker still waits for this
    // handler, so the rest of the close runs from the notification window once the
    // workers have ended.
    if (MainQueue && NotifyWindow) {
      MainQueue->PostMessage(NotifyWindow, PortClosingMsg, 0, static_cast<std::intptr_t>(Dispatcher->Handle()) << 16);
      MainQueue->HandleOneMessage();
    } else {
      CompleteDeferredClose();
    }
  } else {
    HandleNotifyWindow(false);
    Dispatcher.reset();
    FPortState = StateClosed;
    FOpen = false;
  }
  NotifyPortClosed();
}

void TCustomComPort::CompleteDeferredClose() {
  if (!Dispatcher || FPortState != StateClosing) return;
  // The workers end within moments of the handler's return; a short wait here spares the
  // main thread a round of re-posting for most closes.
  if (!Dispatcher->WaitWorkersEnded(std::chrono::milliseconds(5)) && MainQueue && NotifyWindow) {
    MainQueue->PostMessage(NotifyWindow, PortClosingMsg, 0, static_cast<std::intptr_t>(Dispatcher->Handle()) << 16);
    return;
  }
  HandleNotifyWindow(false);
  Dispatcher.reset();
  FPortState = StateClosed;
  FOpen = false;
  if (OpenPending) {
    OpenPending = false;
    OpenPort();
  }
}

void TCustomComPort::HandleNotifyWindow(bool Create) {
  if (Create) {
    NotifyWindow = std::make_shared<TNotifyWindow>(*this);
    if (Dispatcher) Dispatcher->RegisterWndTriggerHandler(NotifyWindow);
  } else {
    if (Dispatcher && NotifyWindow) Dispatcher->DeregisterWndTriggerHandler(NotifyWindow.get());
    NotifyWindow.reset();
  }
}

std::intptr_t TCustomComPort::HandleNotifyMessage(std::uint32_t Msg, std::uintptr_t WParam, std::intptr_t LParam) {
  if (Msg != AvailTriggerMsg && Msg != DataTriggerMsg && Msg != TimerTriggerMsg && Msg != StatusTriggerMsg &&
      Msg != PortClosingMsg && Msg != DeviceLostMsg)
    return 0;
  std::lock_guard registryGuard(TBaseDispatcher::RegistryLock());
  auto* dispatcher = TBaseDispatcher::FindDispatcher(static_cast<int>((LParam >> 16) & 0xFFFF));
  if (!dispatcher || !dispatcher->ComPort()) return 0;
  TCustomComPort& port = *dispatcher->ComPort();
  try {
    if (Msg == DeviceLostMsg) {
      if (port.FPortState == StateOpen && port.FOnDeviceLost) port.FOnDeviceLost(port);
      return 0;
    }
    auto trigger = static_cast<std::uint16_t>(WParam);
    auto data = Msg == AvailTriggerMsg ? trigger : static_cast<std::uint16_t>(LParam & 0xFFFF);
    port.DoTrigger(static_cast<std::uint16_t>(Msg), trigger, data);
    switch (Msg) {
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
    if (port.ExceptionHandler && (!MainQueue || MainQueue->IsMainThread())) port.ExceptionHandler(std::current_exception());
  }
  return 0;
}

// ---------------------------------------------------------------------------------------
// Notifications

void TCustomComPort::NotifyPortOpened() {
  auto users = UserList;
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
  auto users = UserList;
  for (const auto& user : users) {
    if (user.Window)
      user.Window->HandleMessage(PortClosingMsg, 0, 0);
    else if (user.CallbackEx)
      user.CallbackEx(user.Context, *this, 1);
  }
}

void TCustomComPort::NotifyPortClosed() {
  auto users = UserList;
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

void TCustomComPort::AddUserWindow(IMessageTarget* Window) {
  if (Window) UserList.push_back({Window, nullptr, nullptr, nullptr});
}

void TCustomComPort::RemoveUserWindow(IMessageTarget* Window) {
  if (Destroying) return;
  std::erase_if(UserList, [Window](const TUserRecord& r) { return r.Window == Window; });
}

void TCustomComPort::AddUserCallback(TPortCallback Callback, void* Context) {
  if (Callback) UserList.push_back({nullptr, Callback, nullptr, Context});
}

void TCustomComPort::AddUserCallbackEx(TPortCallbackEx Callback, void* Context) {
  if (Callback) UserList.push_back({nullptr, nullptr, Callback, Context});
}

void TCustomComPort::RemoveUserCallback(void* Context) {
  if (Destroying) return;
  std::erase_if(UserList, [Context](const TUserRecord& r) { return !r.Window && r.Context == Context; });
}

// ---------------------------------------------------------------------------------------
// Operations

TBaseDispatcher& TCustomComPort::ValidDispatcher() {
  if (!Dispatcher && FAutoOpen && !Loading) SetOpen(true);
  if (!Dispatcher) CheckException(ecCommNotOpen);
  return *Dispatcher;
}

TBaseDispatcher* TCustomComPort::CurrentDispatcher() {
  if (!Dispatcher && !Loading && FAutoOpen) SetOpen(true);
  return Dispatcher.get();
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

void TCustomComPort::WriteChar(std::uint8_t C) { WriteBlock(&C, 1); }

void TCustomComPort::WriteString(const std::string& S) {
  if (FPortState == StateClosing) return;
  auto& dispatcher = ValidDispatcher();
  if (S.empty()) return;
  CheckException(dispatcher.PutBlock(S.data(), static_cast<std::uint32_t>(S.size())));
}

int TCustomComPort::WriteBlock(const void* Block, std::uint16_t Len) {
  if (FPortState == StateClosing) return 0;
  auto& dispatcher = ValidDispatcher();
  if (Len == 0) return 0;
  CheckException(dispatcher.PutBlock(Block, Len));
  return 0;
}

std::uint32_t TCustomComPort::OutputPending() {
  if (!Dispatcher || FPortState != StateOpen) return 0;
  return Dispatcher->OutBuffUsed();
}

std::chrono::steady_clock::time_point TCustomComPort::LastReceiveTime() {
  if (!Dispatcher || FPortState != StateOpen) return {};
  return Dispatcher->LastReceiveTime();
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

bool TCustomComPort::PortIsOpen() const { return Dispatcher && FPortState == StateOpen; }

void TCustomComPort::SetDeviceLayer(TDeviceLayer Value) {
  // Only the serial driver is available, and only a closed port may change its layer.
  if (Value != dlWin32 || FPortState != StateClosed) return;
  if (Value == FDeviceLayer) return;
  FDeviceLayer = Value;
  DeviceLayerChanged();
}

void TCustomComPort::SetComNumber(std::uint16_t Value) {
  if (Value == FComNumber && !Force) return;
  FDevicePath.clear();
  if (PortIsOpen()) {
    ClosePort();
    FComNumber = Value;
    SetTracing(FTracing);
    SetLogging(FLogging);
    SetOpen(true);
  } else {
    FComNumber = Value;
  }
}

void TCustomComPort::ApplyLineParams() {
  if (PortIsOpen())
    CheckException(Dispatcher->SetLineParams(FBaud, static_cast<std::uint16_t>(FParity), FStopBits, FDataBits));
}

void TCustomComPort::SetBaud(std::int32_t Value) {
  if (Value == FBaud && !Force) return;
  FBaud = Value;
  ApplyLineParams();
}

void TCustomComPort::SetParity(TParity Value) {
  if (Value == FParity && !Force) return;
  FParity = Value;
  ApplyLineParams();
}

void TCustomComPort::SetDataBits(std::uint16_t Value) {
  if (Value == FDataBits && !Force) return;
  FDataBits = Value;
  ApplyLineParams();
}

void TCustomComPort::SetStopBits(std::uint16_t Value) {
  if (Value == FStopBits && !Force) return;
  FStopBits = Value;
  ApplyLineParams();
}

void TCustomComPort::SetInSize(std::uint16_t Value) {
  if (Value == FInSize && !Force) return;
  FInSize = Value;
  if (PortIsOpen()) CheckException(Dispatcher->SetupQueueSizes(FInSize, FOutSize));
}

void TCustomComPort::SetOutSize(std::uint16_t Value) {
  if (Value == FOutSize && !Force) return;
  FOutSize = Value;
  // The output ring keeps its size until the next open.
  if (PortIsOpen()) CheckException(Dispatcher->SetupQueueSizes(FInSize, FOutSize));
}

void TCustomComPort::SetDTR(bool Value) {
  if (Value == FDTR && !Force) return;
  if (PortIsOpen()) {
    // 1: the line is under hardware flow control and keeps its state.
    if (CheckException(Dispatcher->SetDTR(Value)) == 0) FDTR = Value;
  } else {
    FDTR = Value;
  }
}

void TCustomComPort::SetRTS(bool Value) {
  if (Value == FRTS && !Force) return;
  if (PortIsOpen()) {
    if (CheckException(Dispatcher->SetRTS(Value)) == 0) FRTS = Value;
  } else {
    FRTS = Value;
  }
}

namespace {

std::uint16_t percentOf(std::uint16_t size, int percent) {
  return static_cast<std::uint16_t>(std::lround(size * percent / 100.0));
}

}  // namespace

void TCustomComPort::ApplyFlowOptions() {
  if (!PortIsOpen()) return;
  auto full = std::min(FBufferFull, FInSize);
  auto resume = std::min(FBufferResume, full);
  CheckException(Dispatcher->HWFlowOptions(full, resume, FHWFlowOptions));
  std::uint16_t swMask = FSWFlowOptions == swfReceive ? 2 : FSWFlowOptions == swfTransmit ? 1 : FSWFlowOptions == swfBoth ? 3 : 0;
  if (swMask != 0)
    CheckException(Dispatcher->SWFlowEnable(full, resume, swMask));
  else
    CheckException(Dispatcher->SWFlowDisable());
}

void TCustomComPort::SetHWFlowOptions(THWFlowOptionSet Value) {
  Value &= hwfUseDTR | hwfUseRTS | hwfRequireDSR | hwfRequireCTS;
  if (Value == FHWFlowOptions && !Force) return;
  if (Value & (hwfUseRTS | hwfRequireCTS)) FRS485Mode = false;
  FHWFlowOptions = Value;
  if (Value != 0) {
    if (FBufferFull == 0 || FBufferFull > FInSize) FBufferFull = percentOf(FInSize, 90);
    if (FBufferResume == 0 || FBufferResume > FBufferFull) FBufferResume = percentOf(FInSize, 10);
  }
  if (PortIsOpen()) {
    auto full = std::min(FBufferFull, FInSize);
    CheckException(Dispatcher->HWFlowOptions(full, std::min(FBufferResume, full), FHWFlowOptions));
  }
}

void TCustomComPort::SetSWFlowOptions(TSWFlowOptions Value) {
  if (Value == FSWFlowOptions && !Force) return;
  FSWFlowOptions = Value;
  std::uint16_t mask = Value == swfReceive ? 2 : Value == swfTransmit ? 1 : Value == swfBoth ? 3 : 0;
  if (mask != 0) {
    if (FBufferFull == 0 || FBufferFull > FInSize) FBufferFull = percentOf(FInSize, 75);
    if (FBufferResume == 0 || FBufferResume > FBufferFull) FBufferResume = percentOf(FInSize, 25);
  }
  if (PortIsOpen()) {
    auto full = std::min(FBufferFull, FInSize);
    if (mask != 0)
      CheckException(Dispatcher->SWFlowEnable(full, std::min(FBufferResume, full), mask));
    else
      CheckException(Dispatcher->SWFlowDisable());
  }
}

void TCustomComPort::SetXOnChar(char Value) {
  if (Value == FXOnChar && !Force) return;
  FXOnChar = Value;
  if (PortIsOpen()) CheckException(Dispatcher->SWFlowChars(FXOnChar, FXOffChar));
}

void TCustomComPort::SetXOffChar(char Value) {
  if (Value == FXOffChar && !Force) return;
  FXOffChar = Value;
  if (PortIsOpen()) CheckException(Dispatcher->SWFlowChars(FXOnChar, FXOffChar));
}

void TCustomComPort::SetBufferFull(std::uint16_t Value) {
  FBufferFull = std::min(Value, FInSize);
  if (FBufferResume > FBufferFull) FBufferResume = FBufferFull;
  ApplyFlowOptions();
}

void TCustomComPort::SetBufferResume(std::uint16_t Value) {
  FBufferResume = FBufferFull != 0 ? std::min(Value, FBufferFull) : std::min(Value, FInSize);
  ApplyFlowOptions();
}

void TCustomComPort::SetTracing(TTraceLogState Value) {
  // No trace file is ever written; dump, append and clear are actions on that file and
  // leave the state as it was.
  if (Value == tlOff || Value == tlOn || Value == tlPause) FTracing = Value;
}

void TCustomComPort::SetTraceSize(std::uint32_t Value) { FTraceSize = std::min<std::uint32_t>(Value, 4000000); }

void TCustomComPort::SetLogging(TTraceLogState Value) {
  if (Value == tlOff || Value == tlOn || Value == tlPause) FLogging = Value;
}

void TCustomComPort::SetLogSize(std::uint32_t Value) { FLogSize = std::min<std::uint32_t>(Value, 16000000); }

void TCustomComPort::SetUseEventWord(bool Value) {
  if (Value == FUseEventWord && !Force) return;
  FUseEventWord = Value;
}

void TCustomComPort::SetRS485Mode(bool Value) {
  if (Value == FRS485Mode && !Force) return;
  FRS485Mode = Value;
  if (Value) {
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
  if (Dispatcher && FPortState == StateOpen) Dispatcher->UpdateHandlerFlags(AnyTriggerEventAssigned()
                                                                    ? TBaseDispatcher::THandlerUpdate::PortHandlerInstalled
                                                                    : TBaseDispatcher::THandlerUpdate::PortHandlerRemoved);
}

void TCustomComPort::SetOnTrigger(TTriggerMessageEvent Value) {
  FOnTrigger = std::move(Value);
  UpdateHandlerFlags();
}
void TCustomComPort::SetOnTriggerAvail(TTriggerAvailEvent Value) {
  FOnTriggerAvail = std::move(Value);
  UpdateHandlerFlags();
}
void TCustomComPort::SetOnTriggerData(TTriggerEvent Value) {
  FOnTriggerData = std::move(Value);
  UpdateHandlerFlags();
}
void TCustomComPort::SetOnTriggerStatus(TTriggerEvent Value) {
  FOnTriggerStatus = std::move(Value);
  UpdateHandlerFlags();
}
void TCustomComPort::SetOnTriggerTimer(TTriggerEvent Value) {
  FOnTriggerTimer = std::move(Value);
  UpdateHandlerFlags();
}
void TCustomComPort::SetOnTriggerLineError(TTriggerLineErrorEvent Value) {
  FOnTriggerLineError = std::move(Value);
  UpdateHandlerFlags();
}
void TCustomComPort::SetOnTriggerModemStatus(TNotifyEvent Value) {
  FOnTriggerModemStatus = std::move(Value);
  UpdateHandlerFlags();
}
void TCustomComPort::SetOnTriggerOutbuffFree(TNotifyEvent Value) {
  FOnTriggerOutbuffFree = std::move(Value);
  UpdateHandlerFlags();
}
void TCustomComPort::SetOnTriggerOutbuffUsed(TNotifyEvent Value) {
  FOnTriggerOutbuffUsed = std::move(Value);
  UpdateHandlerFlags();
}
void TCustomComPort::SetOnTriggerOutSent(TNotifyEvent Value) {
  FOnTriggerOutSent = std::move(Value);
  UpdateHandlerFlags();
}

void TCustomComPort::DoTrigger(std::uint16_t Msg, std::uint16_t TriggerHandle, std::uint16_t Data) {
  if (FOnTrigger) FOnTrigger(*this, Msg, TriggerHandle, Data);
}
void TCustomComPort::DoTriggerAvail(std::uint16_t Count) {
  if (FOnTriggerAvail) FOnTriggerAvail(*this, Count);
}
void TCustomComPort::DoTriggerData(std::uint16_t TriggerHandle) {
  if (FOnTriggerData) FOnTriggerData(*this, TriggerHandle);
}
void TCustomComPort::DoTriggerStatus(std::uint16_t TriggerHandle) {
  if (FOnTriggerStatus) FOnTriggerStatus(*this, TriggerHandle);
}
void TCustomComPort::DoTriggerTimer(std::uint16_t TriggerHandle) {
  if (FOnTriggerTimer) FOnTriggerTimer(*this, TriggerHandle);
}
void TCustomComPort::DoTriggerLineError(std::uint16_t Error, bool LineBreak) {
  if (FOnTriggerLineError) FOnTriggerLineError(*this, Error, LineBreak);
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

void TCustomComPort::Assign(const TCustomComPort& Source) {
  if (&Source == this) return;
  UserList = Source.UserList;
  if (Source.Dispatcher && Source.FPortState == StateOpen) {
    if (!SavedTriggers) SavedTriggers = std::make_unique<TTriggerSave>();
    Source.Dispatcher->SaveTriggers(*SavedTriggers);
    CopyTriggers = true;
  }
  Force = Source.Force;
  FDeviceLayer = Source.FDeviceLayer;
  FComNumber = Source.FComNumber;
  FDevicePath.clear();
  FBaud = Source.FBaud;
  FParity = Source.FParity;
  FDataBits = Source.FDataBits;
  FStopBits = Source.FStopBits;
  FInSize = Source.FInSize;
  FOutSize = Source.FOutSize;
  FAutoOpen = Source.FAutoOpen;
  FPromptForPort = Source.FPromptForPort;
  FRS485Mode = Source.FRS485Mode;
  FDTR = Source.FDTR;
  FRTS = Source.FRTS;
  FBufferFull = Source.FBufferFull;
  FBufferResume = Source.FBufferResume;
  FHWFlowOptions = Source.FHWFlowOptions;
  FSWFlowOptions = Source.FSWFlowOptions;
  FXOnChar = Source.FXOnChar;
  FXOffChar = Source.FXOffChar;
  FTracing = Source.FTracing;
  FTraceSize = Source.FTraceSize;
  FTraceName = Source.FTraceName;
  FTraceHex = Source.FTraceHex;
  FTraceAllHex = Source.FTraceAllHex;
  FLogging = Source.FLogging;
  FLogSize = Source.FLogSize;
  FLogName = Source.FLogName;
  FLogHex = Source.FLogHex;
  FLogAllHex = Source.FLogAllHex;
  AvailThreshold = Source.AvailThreshold;
  FTapiMode = Source.FTapiMode;
  SetOpen(false);
  SetOnTrigger(Source.FOnTrigger);
  SetOnTriggerAvail(Source.FOnTriggerAvail);
  SetOnTriggerData(Source.FOnTriggerData);
  SetOnTriggerStatus(Source.FOnTriggerStatus);
  SetOnTriggerTimer(Source.FOnTriggerTimer);
  FOnPortOpen = Source.FOnPortOpen;
  FOnPortClose = Source.FOnPortClose;
}

}  // namespace mirte
