#pragma once
// The serial port as the rest of the program sees it: configured by properties, opened and
// closed by SetOpen, read and written by a handful of operations, and reporting received
// data through OnTriggerAvail, which always runs on the main thread while the port's
// dispatcher worker waits for it. Every operation is called on the main thread. Behind an
// open port stands a dispatcher (the device, the buffers, three worker threads); every
// negative result of it becomes an ESerialException here. While a close is still running
// (StateClosing), reads return nothing and writes are ignored without error. Destroying an
// open port closes it without raising any event or notifying any user window, because the
// owner that would receive them is itself being destroyed.
#include <chrono>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "serial/line_settings.h"
#include "serial/main_thread_queue.h"
#include "serial/port_list.h"
#include "serial/ser_except.h"
#include "serial/trigger_messages.h"

namespace mirte {

class TBaseDispatcher;
struct TTriggerSave;
class TCustomComPort;

enum TDeviceLayer { dlWin32, dlWinsock };
enum TSWFlowOptions { swfNone, swfReceive, swfTransmit, swfBoth };
enum TTraceLogState { tlOff, tlOn, tlDump, tlAppend, tlClear, tlPause };
enum TTapiMode { tmNone, tmAuto, tmOn, tmOff };
enum TPortState { StateClosed, StateClosing, StateOpen };

// HWFlowOptions is a set of these bits.
using THWFlowOptionSet = std::uint8_t;
inline constexpr THWFlowOptionSet hwfUseDTR = 1;
inline constexpr THWFlowOptionSet hwfUseRTS = 2;
inline constexpr THWFlowOptionSet hwfRequireDSR = 4;
inline constexpr THWFlowOptionSet hwfRequireCTS = 8;

using TNotifyEvent = std::function<void(TCustomComPort& sender)>;
using TTriggerMessageEvent =
    std::function<void(TCustomComPort& cp, std::uint16_t msg, std::uint16_t triggerHandle, std::uint16_t data)>;
using TTriggerAvailEvent = std::function<void(TCustomComPort& cp, std::uint16_t count)>;
using TTriggerEvent = std::function<void(TCustomComPort& cp, std::uint16_t triggerHandle)>;
using TTriggerLineErrorEvent = std::function<void(TCustomComPort& cp, std::uint16_t error, bool lineBreak)>;

// Callback users of the port: state 0 opened, 1 closing, 2 closed; the older form gets
// only open (true) and close (false).
using TPortCallback = void (*)(void* context, TCustomComPort& cp, bool opening);
using TPortCallbackEx = void (*)(void* context, TCustomComPort& cp, int state);

// Receives exceptions that a trigger event handler raised, and those of an open carried out
// when loading ends; the program shows their message. Without one they are dropped.
using TExceptionHandler = std::function<void(std::exception_ptr error)>;

// Asks the user for a port when the port is opened without a number (the Select Port
// dialog); returns the chosen number, or 0 when the user cancelled.
using TPortPrompt = std::function<int()>;

class TSerBaseComponent {
public:
  virtual ~TSerBaseComponent() = default;
  std::string Version() const;
};

class TCustomComPort : public TSerBaseComponent {
public:
  // The queue carries trigger messages to the main thread and must outlive the port (an
  // owner declares it before the port). A port without one can hold settings (Assign);
  // opened, it delivers no trigger events.
  explicit TCustomComPort(IMainThreadQueue* queue = nullptr);
  ~TCustomComPort() override;
  TCustomComPort(const TCustomComPort&) = delete;
  TCustomComPort& operator=(const TCustomComPort&) = delete;

  void SetMainThreadQueue(IMainThreadQueue* queue) { mainQueue_ = queue; }
  IMainThreadQueue* MainThreadQueue() const { return mainQueue_; }
  void SetPortPrompt(TPortPrompt prompt) { portPrompt_ = std::move(prompt); }
  void SetExceptionHandler(TExceptionHandler handler) { exceptionHandler_ = std::move(handler); }

  // Properties. A setter does nothing when the value is unchanged.
  TDeviceLayer DeviceLayer() const { return FDeviceLayer; }
  void SetDeviceLayer(TDeviceLayer value);
  std::uint16_t ComNumber() const { return FComNumber; }
  void SetComNumber(std::uint16_t value);
  // The device the next opens use instead of the one ComNumber names (a by-id name found
  // again under a new node); empty: the number's own. A new number or Assign clears it.
  const std::string& DevicePath() const { return FDevicePath; }
  void SetDevicePath(const std::string& value) { FDevicePath = value; }
  std::int32_t Baud() const { return FBaud; }
  void SetBaud(std::int32_t value);
  bool PromptForPort() const { return FPromptForPort; }
  void SetPromptForPort(bool value) { FPromptForPort = value; }
  TParity Parity() const { return FParity; }
  void SetParity(TParity value);
  std::uint16_t DataBits() const { return FDataBits; }
  void SetDataBits(std::uint16_t value);
  std::uint16_t StopBits() const { return FStopBits; }
  void SetStopBits(std::uint16_t value);
  std::uint16_t InSize() const { return FInSize; }
  void SetInSize(std::uint16_t value);
  std::uint16_t OutSize() const { return FOutSize; }
  void SetOutSize(std::uint16_t value);
  bool AutoOpen() const { return FAutoOpen; }
  void SetAutoOpen(bool value) { FAutoOpen = value; }
  bool Open() const { return FOpen; }
  void SetOpen(bool value);
  bool DTR() const { return FDTR; }
  void SetDTR(bool value);
  bool RTS() const { return FRTS; }
  void SetRTS(bool value);
  THWFlowOptionSet HWFlowOptions() const { return FHWFlowOptions; }
  void SetHWFlowOptions(THWFlowOptionSet value);
  TSWFlowOptions SWFlowOptions() const { return FSWFlowOptions; }
  void SetSWFlowOptions(TSWFlowOptions value);
  char XOnChar() const { return FXOnChar; }
  void SetXOnChar(char value);
  char XOffChar() const { return FXOffChar; }
  void SetXOffChar(char value);
  std::uint16_t BufferFull() const { return FBufferFull; }
  void SetBufferFull(std::uint16_t value);
  std::uint16_t BufferResume() const { return FBufferResume; }
  void SetBufferResume(std::uint16_t value);
  TTraceLogState Tracing() const { return FTracing; }
  void SetTracing(TTraceLogState value);
  std::uint32_t TraceSize() const { return FTraceSize; }
  void SetTraceSize(std::uint32_t value);
  const std::string& TraceName() const { return FTraceName; }
  void SetTraceName(const std::string& value) { FTraceName = value.substr(0, 255); }
  bool TraceHex() const { return FTraceHex; }
  void SetTraceHex(bool value) { FTraceHex = value; }
  bool TraceAllHex() const { return FTraceAllHex; }
  void SetTraceAllHex(bool value) { FTraceAllHex = value; }
  TTraceLogState Logging() const { return FLogging; }
  void SetLogging(TTraceLogState value);
  std::uint32_t LogSize() const { return FLogSize; }
  void SetLogSize(std::uint32_t value);
  const std::string& LogName() const { return FLogName; }
  void SetLogName(const std::string& value) { FLogName = value.substr(0, 255); }
  bool LogHex() const { return FLogHex; }
  void SetLogHex(bool value) { FLogHex = value; }
  bool LogAllHex() const { return FLogAllHex; }
  void SetLogAllHex(bool value) { FLogAllHex = value; }
  bool UseMSRShadow() const { return FUseMSRShadow; }
  void SetUseMSRShadow(bool value) { FUseMSRShadow = value; }
  bool UseEventWord() const { return FUseEventWord; }
  void SetUseEventWord(bool value);
  std::uint16_t CommNotificationLevel() const { return FCommNotificationLevel; }
  void SetCommNotificationLevel(std::uint16_t value) { FCommNotificationLevel = value; }
  TTapiMode TapiMode() const { return FTapiMode; }
  void SetTapiMode(TTapiMode value) { FTapiMode = value; }
  bool RS485Mode() const { return FRS485Mode; }
  void SetRS485Mode(bool value);

  // Events. Assigning or clearing a trigger event while open tells the dispatcher at once
  // whether any trigger event is assigned.
  const TNotifyEvent& OnPortClose() const { return FOnPortClose; }
  void SetOnPortClose(TNotifyEvent value) { FOnPortClose = std::move(value); }
  const TNotifyEvent& OnPortOpen() const { return FOnPortOpen; }
  void SetOnPortOpen(TNotifyEvent value) { FOnPortOpen = std::move(value); }
  const TTriggerMessageEvent& OnTrigger() const { return FOnTrigger; }
  void SetOnTrigger(TTriggerMessageEvent value);
  const TTriggerAvailEvent& OnTriggerAvail() const { return FOnTriggerAvail; }
  void SetOnTriggerAvail(TTriggerAvailEvent value);
  const TTriggerEvent& OnTriggerData() const { return FOnTriggerData; }
  void SetOnTriggerData(TTriggerEvent value);
  const TTriggerEvent& OnTriggerStatus() const { return FOnTriggerStatus; }
  void SetOnTriggerStatus(TTriggerEvent value);
  const TTriggerEvent& OnTriggerTimer() const { return FOnTriggerTimer; }
  void SetOnTriggerTimer(TTriggerEvent value);
  const TTriggerLineErrorEvent& OnTriggerLineError() const { return FOnTriggerLineError; }
  void SetOnTriggerLineError(TTriggerLineErrorEvent value);
  const TNotifyEvent& OnTriggerModemStatus() const { return FOnTriggerModemStatus; }
  void SetOnTriggerModemStatus(TNotifyEvent value);
  const TNotifyEvent& OnTriggerOutbuffFree() const { return FOnTriggerOutbuffFree; }
  void SetOnTriggerOutbuffFree(TNotifyEvent value);
  const TNotifyEvent& OnTriggerOutbuffUsed() const { return FOnTriggerOutbuffUsed; }
  void SetOnTriggerOutbuffUsed(TNotifyEvent value);
  const TNotifyEvent& OnTriggerOutSent() const { return FOnTriggerOutSent; }
  void SetOnTriggerOutSent(TNotifyEvent value);

  // Raised on the main thread, once, when the device of the open port has gone away
  // (unplugged, hung up). The port stays open until its owner closes it; a port closed
  // before the news arrives hears nothing.
  const TNotifyEvent& OnDeviceLost() const { return FOnDeviceLost; }
  void SetOnDeviceLost(TNotifyEvent value) { FOnDeviceLost = std::move(value); }

  TPortState PortState() const { return FPortState; }

  // Operations.
  bool InputReady();
  // Received bytes the device holds that the port has not taken yet; 0 while not open.
  std::uint32_t InputInDriver();
  std::uint8_t ReadChar();
  void WriteChar(std::uint8_t c);
  void WriteString(const std::string& s);
  int WriteBlock(const void* block, std::uint16_t len);
  std::uint32_t OutputPending();
  // When the newest received bytes were taken from the device; the clock's epoch while the
  // port is not open or has received nothing.
  std::chrono::steady_clock::time_point LastReceiveTime();
  void DiscardInput();
  void ServicePort();
  void Assign(const TCustomComPort& source);
  TBaseDispatcher* CurrentDispatcher();
  void AddUserWindow(IMessageTarget* window);
  void RemoveUserWindow(IMessageTarget* window);
  void AddUserCallback(TPortCallback callback, void* context);
  void AddUserCallbackEx(TPortCallbackEx callback, void* context);
  void RemoveUserCallback(void* context);

  // While the owner is loading, SetOpen(true) is only remembered and no result code is
  // raised; Loaded ends the loading and carries out a remembered open.
  void BeginLoading() { loading_ = true; }
  void Loaded();

protected:
  // Steps of the open and close and the raising of the events, in the order the component
  // runs them; each can be replaced by a descendant.
  virtual void CreateDispatcher();
  virtual void DeviceLayerChanged() {}
  virtual int OpenDevice();
  virtual void HandleNotifyWindow(bool create);
  virtual void ValidateComNumber();
  virtual void PortOpened() {}
  virtual void DoTrigger(std::uint16_t msg, std::uint16_t triggerHandle, std::uint16_t data);
  virtual void DoTriggerAvail(std::uint16_t count);
  virtual void DoTriggerData(std::uint16_t triggerHandle);
  virtual void DoTriggerStatus(std::uint16_t triggerHandle);
  virtual void DoTriggerTimer(std::uint16_t triggerHandle);
  virtual void UpdateHandlerFlags();
  virtual void DoTriggerLineError(std::uint16_t error, bool lineBreak);
  virtual void DoTriggerModemStatus();
  virtual void DoTriggerOutbuffFree();
  virtual void DoTriggerOutbuffUsed();
  virtual void DoTriggerOutSent();
  virtual void DoWaitChar(char c) { (void)c; }
  virtual void ClosePort();
  virtual void DoServicePort();

  void NotifyPortOpened();
  void NotifyPortClosed();
  void NotifyPortClosing();
  void OpenPort();

private:
  class TNotifyWindow;
  friend class TNotifyWindow;
  struct TUserRecord {
    IMessageTarget* Window = nullptr;
    TPortCallback Callback = nullptr;
    TPortCallbackEx CallbackEx = nullptr;
    void* Context = nullptr;
  };

  // Opens the port if allowed and returns the dispatcher, or raises ECommNotOpen.
  TBaseDispatcher& ValidDispatcher();
  bool PortIsOpen() const;
  bool AnyTriggerEventAssigned() const;
  void ApplyFlowOptions();
  void ApplyLineParams();
  std::intptr_t HandleNotifyMessage(std::uint32_t msg, std::uintptr_t wParam, std::intptr_t lParam);
  void CompleteDeferredClose();

  IMainThreadQueue* mainQueue_ = nullptr;
  TPortPrompt portPrompt_;
  TExceptionHandler exceptionHandler_;

  TDeviceLayer FDeviceLayer = dlWin32;
  std::uint16_t FComNumber = 0;
  std::string FDevicePath;
  std::int32_t FBaud = 19200;
  bool FPromptForPort = true;
  TParity FParity = pNone;
  std::uint16_t FDataBits = 8;
  std::uint16_t FStopBits = 1;
  std::uint16_t FInSize = 4096;
  std::uint16_t FOutSize = 4096;
  bool FAutoOpen = true;
  bool FOpen = false;
  bool FDTR = true;
  bool FRTS = true;
  THWFlowOptionSet FHWFlowOptions = 0;
  TSWFlowOptions FSWFlowOptions = swfNone;
  char FXOnChar = 17;
  char FXOffChar = 19;
  std::uint16_t FBufferFull = 0;
  std::uint16_t FBufferResume = 0;
  TTraceLogState FTracing = tlOff;
  std::uint32_t FTraceSize = 10000;
  std::string FTraceName = "SERIAL.TRC";
  bool FTraceHex = true;
  bool FTraceAllHex = false;
  TTraceLogState FLogging = tlOff;
  std::uint32_t FLogSize = 10000;
  std::string FLogName = "SERIAL.LOG";
  bool FLogHex = true;
  bool FLogAllHex = false;
  bool FUseMSRShadow = true;
  bool FUseEventWord = true;
  std::uint16_t FCommNotificationLevel = 10;
  TTapiMode FTapiMode = tmAuto;
  bool FRS485Mode = false;
  std::uint16_t AvailThreshold = 1;

  TNotifyEvent FOnPortClose;
  TNotifyEvent FOnPortOpen;
  TTriggerMessageEvent FOnTrigger;
  TTriggerAvailEvent FOnTriggerAvail;
  TTriggerEvent FOnTriggerData;
  TTriggerEvent FOnTriggerStatus;
  TTriggerEvent FOnTriggerTimer;
  TTriggerLineErrorEvent FOnTriggerLineError;
  TNotifyEvent FOnTriggerModemStatus;
  TNotifyEvent FOnTriggerOutbuffFree;
  TNotifyEvent FOnTriggerOutbuffUsed;
  TNotifyEvent FOnTriggerOutSent;
  TNotifyEvent FOnDeviceLost;

  TPortState FPortState = StateClosed;
  std::unique_ptr<TBaseDispatcher> dispatcher_;
  std::shared_ptr<TNotifyWindow> notifyWindow_;
  std::vector<TUserRecord> userList_;
  std::unique_ptr<TTriggerSave> savedTriggers_;
  bool openPending_ = false;
  bool copyTriggers_ = false;
  bool force_ = false;
  bool loading_ = false;
  bool openWhenLoaded_ = false;
  bool destroying_ = false;
};

// Publishes the properties; no behaviour of its own.
class TComPort : public TCustomComPort {
public:
  using TCustomComPort::TCustomComPort;
};

}  // namespace mirte
