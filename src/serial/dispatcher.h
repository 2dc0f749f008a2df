#pragma once
// The engine behind an open port: it owns the device, the 8192-byte receive ring and the
// output ring, decides when received data is announced (the data-available trigger),
// delivers announcements to the registered handlers and lets the main thread read what was
// announced. TBaseDispatcher holds everything that does not depend on the device;
// TSerialDispatcher supplies the device operations. Results are 0 or counts, failures
// negative codes, never exceptions. A dispatcher is opened once and never reopened.
//
// Locks: the registry lock (process-wide; dispatcher lookup by handle), the general lock
// (settings, modem status, handler and trigger lists, flags), the output lock (output ring,
// device status) and the receive lock (receive ring, read counts). The receive lock is
// taken before the output lock; the general lock is never held while a handler runs or
// while a worker is waited for.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "serial/event_signal.h"
#include "serial/line_settings.h"
#include "serial/main_thread_queue.h"
#include "serial/modem_line_worker.h"
#include "serial/modem_lines.h"
#include "serial/trigger_messages.h"

namespace mirte {

class TCustomComPort;
class TBaseDispatcher;

inline constexpr std::uint32_t ReceiveBufferSize = 8192;
inline constexpr std::chrono::milliseconds HandlerTimeLimit{3000};

// Device event bits, as the workers report them.
inline constexpr std::uint32_t kEvRxChar = 0x0001;
inline constexpr std::uint32_t kEvCts = 0x0008;
inline constexpr std::uint32_t kEvDsr = 0x0010;
inline constexpr std::uint32_t kEvRlsd = 0x0020;
inline constexpr std::uint32_t kEvBreak = 0x0040;
inline constexpr std::uint32_t kEvErr = 0x0080;
inline constexpr std::uint32_t kEvRing = 0x0100;
inline constexpr std::uint32_t DeviceEventMask = 0x01F9;

// Modem status bits (changes in the low four bits).
inline constexpr std::uint8_t DeltaCTSMask = 0x01, DeltaDSRMask = 0x02, DeltaRIMask = 0x04, DeltaDCDMask = 0x08;
inline constexpr std::uint8_t CTSMask = 0x10, DSRMask = 0x20, RIMask = 0x40, DCDMask = 0x80;

// Triggers the program never adds; their lists exist so that they can be saved, restored
// and examined in the worker's pass.
struct TTimerTrigger {
  std::uint16_t Handle = 0;
  std::int32_t Ticks = 0;
  bool Enabled = false;
};
struct TDataTrigger {
  std::uint16_t Handle = 0;
  std::string Match;
  std::uint16_t MatchPos = 0;
};
struct TStatusTrigger {
  std::uint16_t Handle = 0;
  std::uint16_t Kind = 0;
  bool Fired = false;
};

struct TLineErrorCounts {
  int Overrun = 0;  // bytes lost by the adapter or the driver's queue
  int Framing = 0;
  int Parity = 0;
  int Break = 0;
  bool operator==(const TLineErrorCounts&) const = default;
};

struct TTriggerSave {
  std::uint16_t LastAvailThreshold = 0;
  std::vector<TTimerTrigger> TimerTriggers;
  std::vector<TDataTrigger> DataTriggers;
  std::vector<TStatusTrigger> StatusTriggers;
};


class TDispatcherThread;

class TBaseDispatcher {
public:
  // Takes the first free handle of the process-wide registry. `Queue` carries window
  // handlers' messages to the main thread; a probe without an owner port may pass none.
  TBaseDispatcher(TCustomComPort* Owner, IMainThreadQueue* Queue);
  virtual ~TBaseDispatcher();
  TBaseDispatcher(const TBaseDispatcher&) = delete;
  TBaseDispatcher& operator=(const TBaseDispatcher&) = delete;

  // The live dispatcher with this handle, or null. Call under RegistryLock() and keep it
  // while the result is used.
  static TBaseDispatcher* FindDispatcher(int Handle);
  static std::recursive_mutex& RegistryLock();

  int Handle() const { return FHandle; }
  TCustomComPort* ComPort() const { return Owner; }
  void SetName(const std::string& Name) { FName = Name; }
  const std::string& Name() const { return FName; }

  // Opening and closing (main thread).
  int InitPort(const std::string& DevicePath, std::int32_t Baud, std::uint32_t LineControl, std::uint32_t OutSize,
               std::uint32_t InSize, std::uint16_t StopBits, std::uint16_t DataBits, std::uint16_t Parity);
  void DonePort();

  // Settings. SetLineParams keeps the present value of each argument that holds its Keep
  // value; stop bits of 0 count as 1, above 3 as 2, and a parity past pSpace is kept too.
  enum TKeepSetting : std::uint16_t { KeepBaud = 0, KeepStopBits = 3, KeepParity = 5, KeepDataBits = 9 };
  int SetLineParams(std::int32_t Baud, std::uint16_t Parity, std::uint16_t StopBits, std::uint16_t DataBits);
  int SetDTR(bool OnOff);
  int SetRTS(bool OnOff);
  int HWFlowOptions(std::uint16_t BufferFull, std::uint16_t BufferResume, std::uint16_t Options);
  int SWFlowEnable(std::uint16_t BufferFull, std::uint16_t BufferResume, std::uint16_t Options);
  int SWFlowDisable();
  int SWFlowChars(char OnChar, char OffChar);
  int SetupQueueSizes(std::uint32_t InSize, std::uint32_t OutSize) { return SetupQueues(InSize, OutSize); }
  const TLineSettings& LineSettings() const { return DCB; }
  bool DTRState() const;
  bool RTSState() const;
  std::uint8_t ModemStatus();

  // Reading (main thread).
  bool CharReady();
  int GetChar(std::uint8_t& C);
  int PeekChar(std::uint32_t N, std::uint8_t& C);
  int GetBlock(void* Block, std::uint32_t Len);
  std::uint32_t InBuffUsed();
  std::uint32_t InBuffFree();
  // When the newest received bytes were taken from the device (steady clock); the epoch
  // while nothing has been received. Every byte in the ring arrived no later than this.
  std::chrono::steady_clock::time_point LastReceiveTime();

  // Writing (main thread).
  int PutBlock(const void* Block, std::uint32_t Len);
  std::uint32_t OutBuffUsed();
  std::uint32_t OutBuffFree();
  int FlushOutBuffer();
  int FlushInBuffer();

  // Handlers and triggers. The only handlers are windows (the port's notification window
  // first): every delivery reaches the main thread through them.
  void RegisterWndTriggerHandler(std::weak_ptr<IMessageTarget> Window);
  void DeregisterWndTriggerHandler(IMessageTarget* Window);
  void ChangeLengthTrigger(std::uint16_t Length);
  enum class THandlerUpdate { Recount, PortHandlerInstalled, PortHandlerRemoved };
  void UpdateHandlerFlags(THandlerUpdate Update);
  void SaveTriggers(TTriggerSave& Save);
  void RestoreTriggers(const TTriggerSave& Save);
  std::uint16_t GetLineError();
  // The line errors the driver counted since the device was opened; all 0 where it keeps
  // no counts. A status bar shows the lost bytes once each time they grow.
  virtual TLineErrorCounts LineErrorCounts() { return {}; }
  // True when the adapter holds received bytes back (low latency refused, or its latency
  // timer above 1 ms): worth telling the user once, with the udev rule that fixes it.
  virtual bool AdapterHoldsBytesBack() { return false; }
  bool CheckLineBreak();

  // State the port looks at.
  bool Dispatching() const { return FDispatching.load(); }
  bool ClosePending() const { return CloseRequested.load(); }
  bool WorkersRunning() const { return FWorkersRunning.load(); }
  int ActiveThreads() const { return FActiveThreads.load(); }
  bool DeviceOpen() const { return ComHandle >= 0; }
  // Where the loss of the device is announced (DeviceLostMsg, posted once per dispatcher);
  // a device already gone when the target is set is announced at once.
  void SetDeviceLostTarget(std::weak_ptr<IMessageTarget> Target);
  bool DeviceLost() const { return DeviceGone.load(); }
  // Waits, without handling messages, at most `Limit` for every worker to end.
  bool WaitWorkersEnded(std::chrono::milliseconds Limit);

  // The service step for callers that wait in a loop: yields the processor.
  virtual int ProcessCommunications();

protected:
  // Device operations.
  // Called only by the modem-line worker, never while serving bytes.
  virtual int SetModemLine(TModemLine Line, bool Raise) = 0;
  // The watched lines, or nothing for a device without modem lines. Called only by the
  // modem-line worker, at most ten times a second.
  virtual std::optional<TModemInputs> ReadModemInputs() { return std::nullopt; }
  virtual int PurgeQueue(bool Output) = 0;
  virtual int ReadDeviceStatus() = 0;  // fills BytesInDriver, LineErrors
  virtual int GetLineSettings(TLineSettings& Settings) = 0;
  virtual int ReadDevice(std::uint8_t* Buffer, std::uint32_t Len) = 0;
  virtual int SetLineSettings(const TLineSettings& Settings) = 0;
  // Blocks until the device has an event (returns its mask), the wake signal ends the wait
  // (returns 0), or `MaxWaitMs` passes (returns 0); never returns at once for a condition
  // that a pass cannot change (full ring, a device that has gone away).
  virtual std::uint32_t WaitDeviceEvent() = 0;
  virtual int SetupQueues(std::uint32_t InSize, std::uint32_t OutSize) = 0;
  virtual int OpenDevice(const std::string& DevicePath) = 0;
  virtual int CloseDevice() = 0;
  // Writes without blocking: bytes written, 0 when the device would block, negative on
  // failure (the block is then dropped).
  virtual int WriteDevice(const std::uint8_t* Buffer, std::uint32_t Len) = 0;
  // Waits until the device takes output or the flush/stop signal is set (returns false).
  virtual bool WaitWritable() = 0;

  virtual void StartWorkers();
  virtual void StopWorkers();
  void ReleaseBuffers();
  // Any worker that meets a vanished device (hang-up, EIO, ENXIO, ENODEV) says so here; the
  // first call announces the loss, later ones only keep the mark.
  void MarkDeviceGone();
  // Closes the port, waits for every worker and closes the device; run by the most
  // derived destructor, while the device operations still exist.
  void Shutdown();

  std::atomic<int> ComHandle{-1};
  std::uint32_t BytesInDriver = 0;  // under OutLock
  std::uint8_t LineErrors = 0;      // under OutLock
  std::uint8_t ModemStatusByte = 0; // under GeneralLock
  std::uint8_t PreviousModemBits = 0; // under GeneralLock
  std::atomic<bool> RingSeen{false};
  TLineSettings DCB;                // under GeneralLock
  std::atomic<bool> DeviceGone{false};

  TEventSignal ComWake;         // ends the device-event worker's wait
  TEventSignal GeneralEvent;    // device-event signal
  TEventSignal PassDone;
  TEventSignal ThreadAck;
  TEventSignal OutputEvent;     // output queued
  TEventSignal OutFlushEvent;   // flush/stop request

  std::atomic<bool> KillThreads{false};  // the stop flag

private:
  friend class TDispatcherThread;
  friend class TComThread;
  friend class TDispThread;
  friend class TOutThread;

  struct TWndHandler {
    std::weak_ptr<IMessageTarget> Target;
    IMessageTarget* Key = nullptr;
    bool Deleted = false;
  };

  // Worker-side steps.
  void ReceivePass();
  // Announces the unread bytes when some arrived since the last announcement or the last
  // delivery left some unread; true when the handlers took exactly what was announced.
  bool CheckReceiveTriggers();
  bool DispatchTrigger(std::uint32_t Msg, std::uint16_t Trigger, std::uint16_t Data);
  void WriteAllPending();
  void ThreadGone(TDispatcherThread* Thread);
  void SignalWorkersToStop();
  int CurrentWorkerIndex();
  bool WorkerRunning(int Index);
  bool OnMainThread() const;
  // Waits until Done() holds (checked under WorkerLock) or the limit passes (negative:
  // no limit); on the main thread it keeps handling messages meanwhile.
  bool WaitUntil(const std::function<bool()>& Done, std::chrono::milliseconds Limit);
  std::uint32_t PendingOutput() const;

protected:
  bool RingFull();
  std::recursive_mutex GeneralLock;
  std::recursive_mutex OutLock;
  std::recursive_mutex RecvLock;

private:

  int SetModemLineState(bool Dtr, bool OnOff);
  void RefreshModemStatus();
  void StartLineWorker();
  // Lets the last wanted levels reach the device (briefly), then ends the worker; before
  // every close of the device, since the worker holds no lock that the close takes.
  void StopLineWorker();
  int ApplyLineSettings(TLineSettings Settings);
  int CheckFlowThresholds(std::uint16_t BufferFull, std::uint16_t BufferResume) const;
  void AdvanceOutRead(std::uint32_t N, std::uint64_t Generation);

  TCustomComPort* Owner;
  IMainThreadQueue* Queue;
  int FHandle = -1;
  std::string FName;
  bool ShutDown = false;

  // Receive ring (RecvLock).
  std::vector<std::uint8_t> DBuffer;
  std::uint32_t DHead = 0;  // write position
  std::uint32_t DTail = 0;  // read position
  bool DBufFull = false;
  std::uint16_t AvailThreshold = 0;  // GeneralLock
  // Whether there is something to announce is decided from running totals, never from
  // ring positions: a burst of exactly the ring's size brings the write position back to
  // where it was and would look like nothing.
  std::uint64_t ReceivedTotal = 0;   // bytes ever taken into the ring; RecvLock
  std::chrono::steady_clock::time_point LastReceived;  // RecvLock
  std::uint64_t AnnouncedTotal = 0;  // ReceivedTotal at the last announcement; worker only
  // A delivery ended with bytes unread (the handler ran out of time, never ran, or left
  // them): they are announced again at the next pass even if nothing more arrives.
  bool ReannounceUnread = false;     // worker only
  bool AvailDispatching = false;
  std::uint32_t HandlerReads = 0;
  std::uint32_t MaxHandlerReads = 0;

  // Output ring (OutLock).
  std::vector<std::uint8_t> OBuffer;
  std::uint32_t OutBufferSize = 0;
  std::uint32_t OHead = 0;
  std::uint32_t OTail = 0;
  bool OBufFull = false;
  std::uint64_t OutGeneration = 0;  // bumped by every discard of output

  std::uint32_t FInSize = 0;
  std::int32_t LastBaud = 115200;  // GeneralLock
  bool DTRStateValue = true, DTRAuto = false;
  bool RTSStateValue = true, RTSAuto = false;
  std::unique_ptr<TModemLineWorker> LineWorker;  // set and cleared under GeneralLock

  // Handlers (GeneralLock).
  std::vector<TWndHandler> WndHandlers;
  bool PortHandlerInstalled = false;
  bool HandlersNeeded = false;
  bool HandlerListChanged = false;
  std::atomic<bool> FDispatching{false};
  std::atomic<bool> CloseRequested{false};
  std::atomic<std::uint32_t> LastDeviceEvent{0};
  std::weak_ptr<IMessageTarget> DeviceLostTarget;  // GeneralLock
  std::atomic<bool> DeviceLossAnnounced{false};
  void AnnounceDeviceLoss();

  std::vector<TTimerTrigger> TimerTriggers;
  std::vector<TDataTrigger> DataTriggers;
  std::vector<TStatusTrigger> StatusTriggers;

  // Workers: 0 device events, 1 dispatch, 2 output. WorkerLock guards the thread objects
  // and the ended marks, and pairs with WorkerEnded for waits.
  std::mutex WorkerLock;
  std::condition_variable WorkerEnded;
  std::unique_ptr<TDispatcherThread> Workers[3];
  std::thread WorkerThreads[3];
  bool WorkerAlive[3] = {false, false, false};
  std::atomic<int> FActiveThreads{0};
  std::atomic<bool> FWorkersRunning{false};
  std::atomic<bool> ReleaseClaimed{false};
};

}  // namespace mirte
