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
inline constexpr std::chrono::milliseconds kHandlerTimeLimit{3000};

// Device event bits, as the workers report them.
inline constexpr std::uint32_t kEvRxChar = 0x0001;
inline constexpr std::uint32_t kEvCts = 0x0008;
inline constexpr std::uint32_t kEvDsr = 0x0010;
inline constexpr std::uint32_t kEvRlsd = 0x0020;
inline constexpr std::uint32_t kEvBreak = 0x0040;
inline constexpr std::uint32_t kEvErr = 0x0080;
inline constexpr std::uint32_t kEvRing = 0x0100;
inline constexpr std::uint32_t kDeviceEventMask = 0x01F9;

// Modem status bits (changes in the low four bits).
inline constexpr std::uint8_t kDeltaCtsMask = 0x01, kDeltaDsrMask = 0x02, kDeltaRiMask = 0x04, kDeltaDcdMask = 0x08;
inline constexpr std::uint8_t kCtsMask = 0x10, kDsrMask = 0x20, kRiMask = 0x40, kDcdMask = 0x80;

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
  TBaseDispatcher(TCustomComPort* owner, IMainThreadQueue* queue);
  virtual ~TBaseDispatcher();
  TBaseDispatcher(const TBaseDispatcher&) = delete;
  TBaseDispatcher& operator=(const TBaseDispatcher&) = delete;

  // The live dispatcher with this handle, or null. Call under RegistryLock() and keep it
  // while the result is used.
  static TBaseDispatcher* FindDispatcher(int handle);
  static std::recursive_mutex& RegistryLock();

  int Handle() const { return FHandle; }
  TCustomComPort* ComPort() const { return owner_; }
  void SetName(const std::string& name) { FName = name; }
  const std::string& Name() const { return FName; }

  // Opening and closing (main thread).
  int InitPort(const std::string& devicePath, std::int32_t baud, std::uint32_t lineControl, std::uint32_t outSize,
               std::uint32_t inSize, std::uint16_t stopBits, std::uint16_t dataBits, std::uint16_t parity);
  void DonePort();

  // Settings. SetLineParams keeps the present value of each argument that holds its Keep
  // value; stop bits of 0 count as 1, above 3 as 2, and a parity past pSpace is kept too.
  enum TKeepSetting : std::uint16_t { KeepBaud = 0, KeepStopBits = 3, KeepParity = 5, KeepDataBits = 9 };
  int SetLineParams(std::int32_t baud, std::uint16_t parity, std::uint16_t stopBits, std::uint16_t dataBits);
  int SetDTR(bool onOff);
  int SetRTS(bool onOff);
  int HWFlowOptions(std::uint16_t bufferFull, std::uint16_t bufferResume, std::uint16_t options);
  int SWFlowEnable(std::uint16_t bufferFull, std::uint16_t bufferResume, std::uint16_t options);
  int SWFlowDisable();
  int SWFlowChars(char onChar, char offChar);
  int SetupQueueSizes(std::uint32_t inSize, std::uint32_t outSize) { return SetupQueues(inSize, outSize); }
  const TLineSettings& LineSettings() const { return dcb_; }
  bool DTRState() const;
  bool RTSState() const;
  std::uint8_t ModemStatus();

  // Reading (main thread).
  bool CharReady();
  int GetChar(std::uint8_t& c);
  int PeekChar(std::uint32_t n, std::uint8_t& c);
  int GetBlock(void* block, std::uint32_t len);
  std::uint32_t InBuffUsed();
  std::uint32_t InBuffFree();
  // Received bytes the device holds that no pass has taken into the ring yet.
  std::uint32_t InDriverCount();
  // When the newest received bytes were taken from the device (steady clock); the epoch
  // while nothing has been received. Every byte in the ring arrived no later than this.
  std::chrono::steady_clock::time_point LastReceiveTime();

  // Writing (main thread).
  int PutBlock(const void* block, std::uint32_t len);
  std::uint32_t OutBuffUsed();
  std::uint32_t OutBuffFree();
  int FlushOutBuffer();
  int FlushInBuffer();

  // Handlers and triggers. The only handlers are windows (the port's notification window
  // first): every delivery reaches the main thread through them.
  void RegisterWndTriggerHandler(std::weak_ptr<IMessageTarget> window);
  void DeregisterWndTriggerHandler(IMessageTarget* window);
  void ChangeLengthTrigger(std::uint16_t length);
  enum class THandlerUpdate { Recount, PortHandlerInstalled, PortHandlerRemoved };
  void UpdateHandlerFlags(THandlerUpdate update);
  void SaveTriggers(TTriggerSave& save);
  void RestoreTriggers(const TTriggerSave& save);
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
  bool DeviceOpen() const { return comHandle_ >= 0; }
  // Where the loss of the device is announced (DeviceLostMsg, posted once per dispatcher);
  // a device already gone when the target is set is announced at once.
  void SetDeviceLostTarget(std::weak_ptr<IMessageTarget> target);
  bool DeviceLost() const { return deviceGone_.load(); }
  // Waits, without handling messages, at most `Limit` for every worker to end.
  bool WaitWorkersEnded(std::chrono::milliseconds limit);

  // The service step for callers that wait in a loop: yields the processor.
  virtual int ProcessCommunications();

protected:
  // Device operations.
  // Called only by the modem-line worker, never while serving bytes.
  virtual int SetModemLine(TModemLine line, bool raise) = 0;
  // The watched lines, or nothing for a device without modem lines. Called only by the
  // modem-line worker, at most ten times a second.
  virtual std::optional<TModemInputs> ReadModemInputs() { return std::nullopt; }
  virtual int PurgeQueue(bool output) = 0;
  virtual int ReadDeviceStatus() = 0;  // fills BytesInDriver, LineErrors
  virtual int GetLineSettings(TLineSettings& settings) = 0;
  virtual int ReadDevice(std::uint8_t* buffer, std::uint32_t len) = 0;
  virtual int SetLineSettings(const TLineSettings& settings) = 0;
  // Blocks until the device has an event (returns its mask), the wake signal ends the wait
  // (returns 0), or `MaxWaitMs` passes (returns 0); never returns at once for a condition
  // that a pass cannot change (full ring, a device that has gone away).
  virtual std::uint32_t WaitDeviceEvent() = 0;
  virtual int SetupQueues(std::uint32_t inSize, std::uint32_t outSize) = 0;
  virtual int OpenDevice(const std::string& devicePath) = 0;
  virtual int CloseDevice() = 0;
  // Writes without blocking: bytes written, 0 when the device would block, negative on
  // failure (the block is then dropped).
  virtual int WriteDevice(const std::uint8_t* buffer, std::uint32_t len) = 0;
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

  std::atomic<int> comHandle_{-1};
  std::uint32_t bytesInDriver_ = 0;  // under OutLock
  std::uint8_t lineErrors_ = 0;      // under OutLock
  std::uint8_t modemStatusByte_ = 0; // under GeneralLock
  std::uint8_t previousModemBits_ = 0; // under GeneralLock
  std::atomic<bool> ringSeen_{false};
  TLineSettings dcb_;                // under GeneralLock
  std::atomic<bool> deviceGone_{false};

  TEventSignal comWake_;         // ends the device-event worker's wait
  TEventSignal generalEvent_;    // device-event signal
  TEventSignal passDone_;
  TEventSignal threadAck_;
  TEventSignal outputEvent_;     // output queued
  TEventSignal outFlushEvent_;   // flush/stop request

  std::atomic<bool> killThreads_{false};  // the stop flag

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
  bool DispatchTrigger(std::uint32_t msg, std::uint16_t trigger, std::uint16_t data);
  void WriteAllPending();
  void ThreadGone(TDispatcherThread* thread);
  void SignalWorkersToStop();
  int CurrentWorkerIndex();
  bool WorkerRunning(int index);
  bool OnMainThread() const;
  // Waits until Done() holds (checked under WorkerLock) or the limit passes (negative:
  // no limit); on the main thread it keeps handling messages meanwhile.
  bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit);
  std::uint32_t PendingOutput() const;

protected:
  bool RingFull();
  std::recursive_mutex generalLock_;
  std::recursive_mutex outLock_;
  std::recursive_mutex recvLock_;

private:

  int SetModemLineState(bool dtr, bool onOff);
  void RefreshModemStatus();
  void StartLineWorker();
  // Lets the last wanted levels reach the device (briefly), then ends the worker; before
  // every close of the device, since the worker holds no lock that the close takes.
  void StopLineWorker();
  int ApplyLineSettings(TLineSettings settings);
  int CheckFlowThresholds(std::uint16_t bufferFull, std::uint16_t bufferResume) const;
  void AdvanceOutRead(std::uint32_t n, std::uint64_t generation);

  TCustomComPort* owner_;
  IMainThreadQueue* queue_;
  int FHandle = -1;
  std::string FName;
  bool shutDown_ = false;

  // Receive ring (RecvLock).
  std::vector<std::uint8_t> dBuffer_;
  std::uint32_t dHead_ = 0;  // write position
  std::uint32_t dTail_ = 0;  // read position
  bool dBufFull_ = false;
  std::uint16_t AvailThreshold = 0;  // GeneralLock
  // Whether there is something to announce is decided from running totals, never from
  // ring positions: a burst of exactly the ring's size brings the write position back to
  // where it was and would look like nothing.
  std::uint64_t receivedTotal_ = 0;   // bytes ever taken into the ring; RecvLock
  std::chrono::steady_clock::time_point lastReceived_;  // RecvLock
  std::uint64_t announcedTotal_ = 0;  // ReceivedTotal at the last announcement; worker only
  // A delivery ended with bytes unread (the handler ran out of time, never ran, or left
  // them): they are announced again at the next pass even if nothing more arrives.
  bool reannounceUnread_ = false;     // worker only
  bool availDispatching_ = false;
  std::uint32_t handlerReads_ = 0;
  std::uint32_t maxHandlerReads_ = 0;

  // Output ring (OutLock).
  std::vector<std::uint8_t> oBuffer_;
  std::uint32_t outBufferSize_ = 0;
  std::uint32_t oHead_ = 0;
  std::uint32_t oTail_ = 0;
  bool oBufFull_ = false;
  std::uint64_t outGeneration_ = 0;  // bumped by every discard of output

  std::uint32_t FInSize = 0;
  std::int32_t lastBaud_ = 115200;  // GeneralLock
  bool dtrStateValue_ = true, dtrAuto_ = false;
  bool rtsStateValue_ = true, rtsAuto_ = false;
  std::unique_ptr<TModemLineWorker> lineWorker_;  // set and cleared under GeneralLock

  // Handlers (GeneralLock).
  std::vector<TWndHandler> wndHandlers_;
  bool portHandlerInstalled_ = false;
  bool handlersNeeded_ = false;
  bool handlerListChanged_ = false;
  std::atomic<bool> FDispatching{false};
  std::atomic<bool> CloseRequested{false};
  std::atomic<std::uint32_t> lastDeviceEvent_{0};
  std::weak_ptr<IMessageTarget> deviceLostTarget_;  // GeneralLock
  std::atomic<bool> deviceLossAnnounced_{false};
  void AnnounceDeviceLoss();

  std::vector<TTimerTrigger> timerTriggers_;
  std::vector<TDataTrigger> dataTriggers_;
  std::vector<TStatusTrigger> statusTriggers_;

  // Workers: 0 device events, 1 dispatch, 2 output. WorkerLock guards the thread objects
  // and the ended marks, and pairs with WorkerEnded for waits.
  std::mutex workerLock_;
  std::condition_variable workerEnded_;
  std::unique_ptr<TDispatcherThread> workers_[3];
  std::thread workerThreads_[3];
  bool workerAlive_[3] = {false, false, false};
  std::atomic<int> FActiveThreads{0};
  std::atomic<bool> FWorkersRunning{false};
  std::atomic<bool> releaseClaimed_{false};
};

}  // namespace mirte
