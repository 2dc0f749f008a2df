#include "serial/dispatcher.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <utility>

#include "serial/dispatcher_threads.h"
#include "serial/ser_except.h"

namespace mirte {

namespace {

// The process-wide list of dispatchers; a dispatcher's slot index is its handle.
struct DispatcherRegistry {
  std::recursive_mutex lock;
  std::vector<TBaseDispatcher*> slots;
};

DispatcherRegistry& registry() {
  static DispatcherRegistry instance;
  return instance;
}

std::uint32_t unreadIn(std::uint32_t head, std::uint32_t tail, bool full) {
  if (full) return ReceiveBufferSize;
  return (head + ReceiveBufferSize - tail) % ReceiveBufferSize;
}

}  // namespace

std::recursive_mutex& TBaseDispatcher::RegistryLock() { return registry().lock; }

TBaseDispatcher* TBaseDispatcher::FindDispatcher(int Handle) {
  auto& reg = registry();
  std::lock_guard guard(reg.lock);
  if (Handle < 0 || static_cast<std::size_t>(Handle) >= reg.slots.size()) return nullptr;
  return reg.slots[static_cast<std::size_t>(Handle)];
}

TBaseDispatcher::TBaseDispatcher(TCustomComPort* Owner, IMainThreadQueue* Queue) : Owner(Owner), Queue(Queue) {
  auto& reg = registry();
  std::lock_guard guard(reg.lock);
  auto free = std::find(reg.slots.begin(), reg.slots.end(), nullptr);
  if (free != reg.slots.end()) {
    *free = this;
    FHandle = static_cast<int>(free - reg.slots.begin());
  } else {
    reg.slots.push_back(this);
    FHandle = static_cast<int>(reg.slots.size() - 1);
  }
}

TBaseDispatcher::~TBaseDispatcher() {
  Shutdown();
  auto& reg = registry();
  std::lock_guard guard(reg.lock);
  if (FHandle >= 0 && static_cast<std::size_t>(FHandle) < reg.slots.size()) reg.slots[static_cast<std::size_t>(FHandle)] = nullptr;
  while (!reg.slots.empty() && reg.slots.back() == nullptr) reg.slots.pop_back();
}

void TBaseDispatcher::Shutdown() {
  if (ShutDown) return;
  ShutDown = true;
  if (DeviceOpen() && !CloseRequested.load()) DonePort();
  // The workers may still be finishing a close they run themselves (a close asked for
  // during a dispatch); wait for them, serving the main thread's messages meanwhile.
  WaitUntil([this] { return FActiveThreads.load() == 0; }, std::chrono::milliseconds(-1));
  for (auto& thread : WorkerThreads)
    if (thread.joinable()) thread.join();
  ReleaseBuffers();
  StopLineWorker();
  if (DeviceOpen()) CloseDevice();
}

bool TBaseDispatcher::WaitWorkersEnded(std::chrono::milliseconds Limit) {
  std::unique_lock guard(WorkerLock);
  return WorkerEnded.wait_for(guard, Limit, [this] { return FActiveThreads.load() == 0; });
}

bool TBaseDispatcher::OnMainThread() const { return Queue && Queue->IsMainThread(); }

bool TBaseDispatcher::WaitUntil(const std::function<bool()>& Done, std::chrono::milliseconds Limit) {
  auto deadline = std::chrono::steady_clock::now() + Limit;
  bool pump = OnMainThread();
  std::unique_lock guard(WorkerLock);
  for (;;) {
    if (Done()) return true;
    auto now = std::chrono::steady_clock::now();
    if (Limit.count() >= 0 && now >= deadline) return false;
    auto step = std::chrono::milliseconds(pump ? 2 : 50);
    auto until = Limit.count() >= 0 ? std::min(deadline, now + step) : now + step;
    WorkerEnded.wait_until(guard, until);
    if (pump && !Done()) {
      guard.unlock();
      Queue->ProcessMessages();
      guard.lock();
    }
  }
}

// ---------------------------------------------------------------------------------------
// Open and close

int TBaseDispatcher::InitPort(const std::string& DevicePath, std::int32_t Baud, std::uint32_t LineControl,
                              std::uint32_t OutSize, std::uint32_t InSize, std::uint16_t StopBits,
                              std::uint16_t DataBits, std::uint16_t Parity) {
  KillThreads = false;
  CloseRequested = false;
  if (!ComWake.Valid() || !GeneralEvent.Valid() || !PassDone.Valid() || !ThreadAck.Valid() || !OutputEvent.Valid() ||
      !OutFlushEvent.Valid())
    return ecOutOfMemory;
  int result = OpenDevice(DevicePath);
  if (result < 0) return result;
  StartLineWorker();
  result = SetupQueues(InSize, OutSize);
  if (result < 0) {
    DonePort();
    return result;
  }
  if (OutSize == 0) OutSize = 1;
  {
    std::scoped_lock guard(RecvLock, OutLock);
    DBuffer.assign(ReceiveBufferSize, 0);
    DHead = DTail = 0;
    DBufFull = false;
    ReceivedTotal = AnnouncedTotal = 0;
    ReannounceUnread = false;
    OBuffer.assign(OutSize, 0);
    OutBufferSize = OutSize;
    OHead = OTail = 0;
    OBufFull = false;
    LineErrors = 0;
    HandlerReads = MaxHandlerReads = 0;
    AvailDispatching = false;
  }
  {
    std::lock_guard guard(GeneralLock);
    FInSize = InSize;
    GetLineSettings(DCB);
  }
  if (LineControl & 0x10)
    DTRAuto = true;
  else
    SetDTR(LineControl & 0x01);
  if (LineControl & 0x20)
    RTSAuto = true;
  else
    SetRTS(LineControl & 0x02);
  {
    std::lock_guard guard(GeneralLock);
    AvailThreshold = 0;
    TimerTriggers.clear();
    DataTriggers.clear();
    StatusTriggers.clear();
    LastBaud = 115200;
  }
  result = SetLineParams(Baud, Parity, StopBits, DataBits);
  if (result != 0) {
    DonePort();
    return result;
  }
  {
    std::lock_guard guard(OutLock);
    ReadDeviceStatus();
    LineErrors = 0;
  }
  StartWorkers();
  return 0;
}

void TBaseDispatcher::DonePort() {
  if (DeviceOpen() && !KillThreads.load()) {
    FlushOutBuffer();
    FlushInBuffer();
    SignalWorkersToStop();
  }
  {
    std::lock_guard guard(GeneralLock);
    if (FDispatching.load()) {
      // A handler asked for the close: the dispatcher worker finishes its delivery, then
      // stops the other workers and releases the buffers itself.
      CloseRequested = true;
      return;
    }
  }
  ReleaseBuffers();
}

void TBaseDispatcher::SignalWorkersToStop() {
  std::lock_guard guard(GeneralLock);
  if (!FWorkersRunning.load()) return;
  KillThreads = true;
  ComWake.Set();
  PassDone.Set();
  GeneralEvent.Set();
  ThreadAck.Reset();
}

void TBaseDispatcher::MarkDeviceGone() {
  if (DeviceGone.exchange(true)) return;
  AnnounceDeviceLoss();
}

void TBaseDispatcher::SetDeviceLostTarget(std::weak_ptr<IMessageTarget> Target) {
  {
    std::lock_guard guard(GeneralLock);
    DeviceLostTarget = std::move(Target);
  }
  if (DeviceGone.load()) AnnounceDeviceLoss();
}

void TBaseDispatcher::AnnounceDeviceLoss() {
  // Posted, never sent: the worker that noticed must not wait on the main thread, which
  // may itself be waiting for output that can no longer leave.
  std::weak_ptr<IMessageTarget> target;
  {
    std::lock_guard guard(GeneralLock);
    target = DeviceLostTarget;
  }
  if (!Queue || target.expired()) return;
  if (DeviceLossAnnounced.exchange(true)) return;
  Queue->PostMessage(target, DeviceLostMsg, 0, static_cast<std::intptr_t>(FHandle) << 16);
}

void TBaseDispatcher::ReleaseBuffers() {
  if (ReleaseClaimed.exchange(true)) return;
  StopWorkers();
  StopLineWorker();
  if (DeviceOpen()) CloseDevice();
  std::scoped_lock guard(RecvLock, OutLock);
  DBuffer.clear();
  DBuffer.shrink_to_fit();
  OBuffer.clear();
  OBuffer.shrink_to_fit();
  DHead = DTail = OHead = OTail = 0;
  DBufFull = OBufFull = false;
}

// ---------------------------------------------------------------------------------------
// Workers

void TBaseDispatcher::StartWorkers() {
  std::lock_guard guard(GeneralLock);
  if (FWorkersRunning.load()) throw std::logic_error("Dispatcher already started");
  FWorkersRunning = true;
  KillThreads = false;
  for (int i = 0; i < 3; ++i) {
    std::unique_ptr<TDispatcherThread> worker;
    if (i == 0)
      worker = std::make_unique<TComThread>(*this);
    else if (i == 1)
      worker = std::make_unique<TDispThread>(*this);
    else
      worker = std::make_unique<TOutThread>(*this);
    {
      std::lock_guard workers(WorkerLock);
      Workers[i] = std::move(worker);
      WorkerAlive[i] = true;
      ++FActiveThreads;
      try {
        TDispatcherThread* body = Workers[i].get();
        WorkerThreads[i] = std::thread([body] { body->Run(); });
      } catch (...) {
        WorkerAlive[i] = false;
        if (--FActiveThreads == 0) FWorkersRunning = false;
        continue;
      }
    }
    ThreadAck.Wait(std::chrono::milliseconds(3000));
  }
}

int TBaseDispatcher::CurrentWorkerIndex() {
  auto self = std::this_thread::get_id();
  std::lock_guard guard(WorkerLock);
  for (int i = 0; i < 3; ++i)
    if (WorkerThreads[i].get_id() == self) return i;
  return -1;
}

bool TBaseDispatcher::WorkerRunning(int Index) {
  std::lock_guard guard(WorkerLock);
  return WorkerAlive[Index];
}

void TBaseDispatcher::StopWorkers() {
  {
    std::lock_guard guard(GeneralLock);
    if (!FWorkersRunning.load()) return;
    KillThreads = true;
  }
  int self = CurrentWorkerIndex();
  auto ended = [this](int i) { return [this, i] { return !WorkerAlive[i]; }; };
  if (self != 2 && WorkerRunning(2)) {
    OutFlushEvent.Set();
    WaitUntil(ended(2), std::chrono::milliseconds(-1));
  }
  if (self != 0 && WorkerRunning(0)) {
    ComWake.Set();
    PassDone.Set();
    ThreadAck.Reset();
    WaitUntil(ended(0), std::chrono::milliseconds(-1));
  }
  if (self != 1 && WorkerRunning(1)) {
    GeneralEvent.Set();
    // 36 ticks, a nudge, 36 more. A worker still busy after that finishes on its own;
    // destruction waits for it, so nothing is freed under it.
    if (!WaitUntil(ended(1), std::chrono::milliseconds(36 * 55))) {
      GeneralEvent.Set();
      WaitUntil(ended(1), std::chrono::milliseconds(36 * 55));
    }
  }
}

void TBaseDispatcher::ThreadGone(TDispatcherThread* Thread) {
  int index = Thread->Index();
  // After a close asked for during a dispatch nobody else will stop the other workers; a
  // plain stop is finished by the thread that asked for it.
  if (index == 1 && CloseRequested.load()) ReleaseBuffers();
  std::lock_guard guard(WorkerLock);
  WorkerAlive[index] = false;
  if (--FActiveThreads == 0) FWorkersRunning = false;
  WorkerEnded.notify_all();
}

bool TBaseDispatcher::RingFull() {
  std::lock_guard guard(RecvLock);
  return DBufFull || DBuffer.empty();
}

// ---------------------------------------------------------------------------------------
// Receive side

void TBaseDispatcher::ReceivePass() {
  std::lock_guard guard(RecvLock);
  if (DBuffer.empty() || DBufFull) return;
  std::uint32_t waiting;
  {
    std::lock_guard out(OutLock);
    ReadDeviceStatus();
    waiting = BytesInDriver;
  }
  if (waiting == 0) return;
  std::uint32_t freeRoom = DHead == DTail ? ReceiveBufferSize : (DTail + ReceiveBufferSize - DHead) % ReceiveBufferSize;
  std::uint32_t contiguous = DTail > DHead ? DTail - DHead : ReceiveBufferSize - DHead;
  std::uint32_t wanted = std::min(freeRoom, waiting);
  int got = ReadDevice(&DBuffer[DHead], contiguous);
  if (got < 0) got = 0;
  std::uint32_t total = static_cast<std::uint32_t>(got);
  DHead = (DHead + total) % ReceiveBufferSize;
  if (wanted > contiguous && total == contiguous) {
    int more = ReadDevice(&DBuffer[DHead], wanted - contiguous);
    if (more > 0) {
      DHead = (DHead + static_cast<std::uint32_t>(more)) % ReceiveBufferSize;
      total += static_cast<std::uint32_t>(more);
    }
  }
  if (total > 0) {
    DBufFull = DHead == DTail;
    // Taken after the read: no byte it brought can have arrived later.
    LastReceived = std::chrono::steady_clock::now();
  }
  ReceivedTotal += total;
}

bool TBaseDispatcher::CheckReceiveTriggers() {
  std::uint32_t count;
  std::uint64_t received;
  {
    std::lock_guard guard(RecvLock);
    received = ReceivedTotal;
    count = unreadIn(DHead, DTail, DBufFull);
  }
  std::uint16_t threshold;
  {
    std::lock_guard guard(GeneralLock);
    threshold = AvailThreshold;
  }
  bool fresh = received != AnnouncedTotal;
  if (threshold == 0 || count < threshold || !(fresh || ReannounceUnread)) return false;
  AnnouncedTotal = received;
  ReannounceUnread = false;
  return DispatchTrigger(AvailTriggerMsg, static_cast<std::uint16_t>(count), 0);
}

bool TBaseDispatcher::DispatchTrigger(std::uint32_t Msg, std::uint16_t Trigger, std::uint16_t Data) {
  {
    std::lock_guard guard(GeneralLock);
    if (!HandlersNeeded) return true;
    if (KillThreads.load() || CloseRequested.load()) return false;
    FDispatching = true;
  }
  bool availKind = Msg == AvailTriggerMsg || Msg == DataTriggerMsg;
  {
    std::lock_guard guard(RecvLock);
    MaxHandlerReads = 0;
    HandlerReads = 0;
    AvailDispatching = availKind;
  }
  std::intptr_t lParam = static_cast<std::intptr_t>(Data) + static_cast<std::intptr_t>(FHandle) * 65536;
  // The count was set to 0 together with the dispatch flag, in one step. The first handler
  // must not reset it again: a reader already busy on the main thread (a handler past its
  // time limit, or a read outside any handler) may have read through it in between, and
  // those bytes would then be handed out a second time.
  bool firstHandler = true;
  auto beforeHandler = [this, &firstHandler] {
    if (std::exchange(firstHandler, false)) return;
    std::lock_guard guard(RecvLock);
    HandlerReads = 0;
  };
  auto afterHandler = [this] {
    std::lock_guard guard(RecvLock);
    MaxHandlerReads = std::max(MaxHandlerReads, HandlerReads);
  };

  // Handlers are the port's notification window and its user windows: a handler may
  // register or deregister windows while it runs, so the list is walked by index with each
  // entry copied under the general lock.
  bool serveWindows;
  {
    std::lock_guard guard(GeneralLock);
    serveWindows = WndHandlers.size() > 1 || PortHandlerInstalled;
  }
  for (std::size_t i = 0; serveWindows && !CloseRequested.load(); ++i) {
    TWndHandler entry;
    {
      std::lock_guard guard(GeneralLock);
      if (i >= WndHandlers.size()) break;
      entry = WndHandlers[i];
    }
    if (entry.Deleted) continue;
    beforeHandler();
    if (Queue) Queue->SendMessage(entry.Target, Msg, Trigger, lParam, HandlerTimeLimit);
    afterHandler();
  }

  bool result = false;
  {
    std::lock_guard guard(RecvLock);
    if (!CloseRequested.load() && AvailDispatching) {
      // A window handler that outlived its time limit may still be reading: count what it
      // has read up to now, so no byte is delivered twice once reads go straight to the ring.
      MaxHandlerReads = std::max(MaxHandlerReads, HandlerReads);
      DTail = (DTail + MaxHandlerReads) % ReceiveBufferSize;
      if (MaxHandlerReads != 0) DBufFull = false;
      result = Msg != AvailTriggerMsg || MaxHandlerReads == Trigger;
    }
    // Whatever is still unread — the handler ran out of time, never ran, or left bytes —
    // is announced again at the next pass; waiting for later bytes could mean waiting for
    // ever, since a board may send nothing more until it has had its reply.
    if (Msg == AvailTriggerMsg && !CloseRequested.load() && unreadIn(DHead, DTail, DBufFull) > 0)
      ReannounceUnread = true;
    AvailDispatching = false;
    HandlerReads = 0;
  }
  {
    std::lock_guard guard(GeneralLock);
    FDispatching = false;
    if (HandlerListChanged) {
      HandlerListChanged = false;
      std::erase_if(WndHandlers, [](const TWndHandler& h) { return h.Deleted; });
      UpdateHandlerFlags(THandlerUpdate::Recount);
    }
  }
  return result;
}

// ---------------------------------------------------------------------------------------
// Reading (main thread)

std::chrono::steady_clock::time_point TBaseDispatcher::LastReceiveTime() {
  std::lock_guard guard(RecvLock);
  return LastReceived;
}

bool TBaseDispatcher::CharReady() {
  std::lock_guard guard(RecvLock);
  if (DBuffer.empty()) return false;
  if (AvailDispatching) {
    std::uint32_t pos = (DTail + HandlerReads) % ReceiveBufferSize;
    return pos != DHead || (DBufFull && HandlerReads < ReceiveBufferSize);
  }
  return DHead != DTail || DBufFull;
}

std::uint32_t TBaseDispatcher::InBuffUsed() {
  std::lock_guard guard(RecvLock);
  if (DBuffer.empty()) return 0;
  std::uint32_t unread = unreadIn(DHead, DTail, DBufFull);
  if (AvailDispatching) return unread > HandlerReads ? unread - HandlerReads : 0;
  return unread;
}

std::uint32_t TBaseDispatcher::InBuffFree() {
  std::lock_guard guard(RecvLock);
  if (DBuffer.empty()) return 0;
  return ReceiveBufferSize - unreadIn(DHead, DTail, DBufFull);
}

int TBaseDispatcher::GetChar(std::uint8_t& C) {
  std::lock_guard guard(RecvLock);
  C = 0;
  if (InBuffUsed() == 0) return ecBufferIsEmpty;
  if (AvailDispatching) {
    ++HandlerReads;
    C = DBuffer[(DTail + HandlerReads - 1) % ReceiveBufferSize];
  } else {
    C = DBuffer[DTail];
    DTail = (DTail + 1) % ReceiveBufferSize;
    DBufFull = false;
  }
  return 0;
}

int TBaseDispatcher::PeekChar(std::uint32_t N, std::uint8_t& C) {
  std::lock_guard guard(RecvLock);
  C = 0;
  if (N == 0 || InBuffUsed() < N) return ecBufferIsEmpty;
  std::uint32_t skip = AvailDispatching ? HandlerReads : 0;
  C = DBuffer[(DTail + skip + N - 1) % ReceiveBufferSize];
  return 0;
}

int TBaseDispatcher::GetBlock(void* Block, std::uint32_t Len) {
  std::lock_guard guard(RecvLock);
  if (InBuffUsed() < Len) return ecBufferIsEmpty;
  std::uint32_t start = (DTail + (AvailDispatching ? HandlerReads : 0)) % ReceiveBufferSize;
  auto* out = static_cast<std::uint8_t*>(Block);
  std::uint32_t first = std::min(Len, ReceiveBufferSize - start);
  std::memcpy(out, &DBuffer[start], first);
  if (Len > first) std::memcpy(out + first, &DBuffer[0], Len - first);
  if (AvailDispatching) {
    HandlerReads += Len;
  } else if (Len > 0) {
    DTail = (DTail + Len) % ReceiveBufferSize;
    DBufFull = false;
  }
  return static_cast<int>(Len);
}

int TBaseDispatcher::FlushInBuffer() {
  std::lock_guard guard(RecvLock);
  if (DeviceOpen()) PurgeQueue(false);
  if (DBuffer.empty()) return 0;
  if (AvailDispatching) {
    // The dispatch consumes everything when it ends; the handler itself sees nothing
    // more from here on, rather than bytes that were discarded.
    MaxHandlerReads = unreadIn(DHead, DTail, DBufFull);
    HandlerReads = MaxHandlerReads;
  } else {
    DTail = DHead;
    HandlerReads = 0;
  }
  DBufFull = false;
  return 0;
}

// ---------------------------------------------------------------------------------------
// Writing

std::uint32_t TBaseDispatcher::PendingOutput() const {
  if (OBufFull) return OutBufferSize;
  if (OutBufferSize == 0) return 0;
  return (OHead + OutBufferSize - OTail) % OutBufferSize;
}

int TBaseDispatcher::PutBlock(const void* Block, std::uint32_t Len) {
  std::lock_guard guard(OutLock);
  if (OBuffer.empty()) return ecPutBlockFail;
  ReadDeviceStatus();
  std::uint32_t freeRoom = OutBufferSize - PendingOutput();
  if (Len > freeRoom) return ecOutputBufferTooSmall;
  if (Len == 0) return 0;
  const auto* in = static_cast<const std::uint8_t*>(Block);
  std::uint32_t first = std::min(Len, OutBufferSize - OHead);
  std::memcpy(&OBuffer[OHead], in, first);
  if (Len > first) std::memcpy(&OBuffer[0], in + first, Len - first);
  OHead = (OHead + Len) % OutBufferSize;
  if (Len == freeRoom) OBufFull = true;
  OutputEvent.Set();
  return 0;
}

std::uint32_t TBaseDispatcher::OutBuffUsed() {
  std::lock_guard guard(OutLock);
  if (OBuffer.empty()) return 0;
  ReadDeviceStatus();
  return PendingOutput();
}

std::uint32_t TBaseDispatcher::OutBuffFree() {
  std::lock_guard guard(OutLock);
  if (OBuffer.empty()) return 0;
  ReadDeviceStatus();
  return OutBufferSize - PendingOutput();
}

int TBaseDispatcher::FlushOutBuffer() {
  if (FWorkersRunning.load() && WorkerRunning(2) && CurrentWorkerIndex() != 2) {
    OutFlushEvent.Set();
    ThreadAck.Wait(std::chrono::milliseconds(5000));
  }
  std::lock_guard guard(OutLock);
  OHead = OTail = 0;
  OBufFull = false;
  ++OutGeneration;
  if (DeviceOpen()) PurgeQueue(true);
  return 0;
}

void TBaseDispatcher::WriteAllPending() {
  for (;;) {
    const std::uint8_t* block;
    std::uint32_t length;
    std::uint64_t generation;
    {
      std::lock_guard guard(OutLock);
      if (OBuffer.empty() || (!OBufFull && OHead == OTail)) return;
      if (OHead > OTail) {
        length = OHead - OTail;
      } else if (OHead == 0) {
        length = OutBufferSize - OTail;
      } else {
        // Pending bytes wrap around the end: make them one block at the start, so each
        // pass hands the device everything in one write.
        length = OutBufferSize - OTail + OHead;
        std::rotate(OBuffer.begin(), OBuffer.begin() + OTail, OBuffer.end());
        OTail = 0;
        OHead = length == OutBufferSize ? 0 : length;
      }
      block = &OBuffer[OTail];
      generation = OutGeneration;
    }
    int written = WriteDevice(block, length);
    if (written > 0) {
      AdvanceOutRead(static_cast<std::uint32_t>(written), generation);
    } else if (written == 0) {
      if (!WaitWritable()) {
        ThreadAck.Set();
        return;
      }
    } else {
      AdvanceOutRead(length, generation);
    }
    if (KillThreads.load()) return;
  }
}

void TBaseDispatcher::AdvanceOutRead(std::uint32_t N, std::uint64_t Generation) {
  bool emptied = false;
  {
    std::lock_guard guard(OutLock);
    if (Generation != OutGeneration || OutBufferSize == 0) return;
    OTail += N;
    if (OTail >= OutBufferSize) OTail -= OutBufferSize;
    emptied = OTail == OHead;
    if (emptied) OTail = OHead = 0;
    OBufFull = false;
  }
  // The main thread waits for the last byte of a reply to leave before it takes the
  // board's next frame: tell it at once rather than at its next look.
  if (emptied && Queue) Queue->Wake();
}

// ---------------------------------------------------------------------------------------
// Settings

int TBaseDispatcher::CheckFlowThresholds(std::uint16_t BufferFull, std::uint16_t BufferResume) const {
  if (BufferFull < BufferResume || BufferFull > FInSize) return ecBadArgument;
  return 0;
}

int TBaseDispatcher::ApplyLineSettings(TLineSettings Settings) {
  std::lock_guard guard(GeneralLock);
  if (!DTRAuto) Settings.DtrControl = DTRStateValue ? LineEnable : LineDisable;
  if (!RTSAuto) Settings.RtsControl = RTSStateValue ? LineEnable : LineDisable;
  int result = SetLineSettings(Settings);
  if (result < 0) return result;
  DCB = Settings;
  // New settings may have moved the lines (a speed of 0 drops DTR): write them again.
  if (LineWorker) LineWorker->Reapply();
  return 0;
}

int TBaseDispatcher::SetLineParams(std::int32_t Baud, std::uint16_t Parity, std::uint16_t StopBits,
                                   std::uint16_t DataBits) {
  TLineSettings present;
  std::int32_t lastBaud;
  {
    std::lock_guard guard(GeneralLock);
    present = DCB;
    int result = GetLineSettings(present);
    if (result < 0) return result;
    lastBaud = LastBaud;
  }
  if (StopBits == 0) StopBits = 1;
  if (StopBits > KeepStopBits) StopBits = 2;
  TLineSettings wanted = present;
  if (Baud != KeepBaud) wanted.Baud = Baud;
  if (Parity <= pSpace) wanted.Parity = static_cast<TParity>(Parity);
  if (DataBits != KeepDataBits) wanted.DataBits = static_cast<std::uint8_t>(DataBits);
  if (StopBits == 1)
    wanted.StopBits = OneStopBit;
  else if (StopBits == 2)
    wanted.StopBits = wanted.DataBits == 5 ? One5StopBits : TwoStopBits;
  if (wanted.Baud == present.Baud && wanted.Parity == present.Parity && wanted.DataBits == present.DataBits &&
      wanted.StopBits == present.StopBits)
    return 0;

  for (int i = 0; i < 5000 && OutBuffUsed() > 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(2));
  // Let the last characters leave the line at the old speed before it changes.
  int bits = 1 + present.DataBits + (present.Parity != pNone ? 1 : 0) + (present.StopBits == OneStopBit ? 1 : 2);
  std::int64_t units = static_cast<std::int64_t>(10000000 / std::max(lastBaud, 1)) * bits * 18;
  if (units < 10000) units *= 2;
  std::this_thread::sleep_for(std::chrono::milliseconds((units + 9999) / 10000));

  std::lock_guard guard(GeneralLock);
  TLineSettings again = DCB;
  int result = GetLineSettings(again);
  if (result < 0) return result;
  again.Baud = wanted.Baud;
  again.Parity = wanted.Parity;
  again.DataBits = wanted.DataBits;
  again.StopBits = wanted.StopBits;
  result = ApplyLineSettings(again);
  if (result < 0) return result;
  LastBaud = wanted.Baud;
  return 0;
}

int TBaseDispatcher::SetModemLineState(bool Dtr, bool OnOff) {
  std::lock_guard guard(GeneralLock);
  if (Dtr ? DTRAuto : RTSAuto) return 1;
  (Dtr ? DTRStateValue : RTSStateValue) = OnOff;
  // The board may ask for a flip per received byte; the device call happens on the
  // modem-line worker so that serving bytes never waits for it.
  if (LineWorker) LineWorker->Want(Dtr ? TModemLine::DTR : TModemLine::RTS, OnOff);
  return 0;
}

void TBaseDispatcher::StartLineWorker() {
  auto worker = std::make_unique<TModemLineWorker>(
      [this](TModemLine Line, bool Raise) { return SetModemLine(Line, Raise); },
      [this] { return ReadModemInputs(); }, DTRStateValue, RTSStateValue);
  worker->Reapply();
  std::lock_guard guard(GeneralLock);
  LineWorker = std::move(worker);
}

void TBaseDispatcher::StopLineWorker() {
  std::unique_ptr<TModemLineWorker> worker;
  {
    std::lock_guard guard(GeneralLock);
    worker = std::move(LineWorker);
  }
  if (!worker) return;
  // The board should see the last level asked for, but a device that stopped answering
  // must not hold up the close.
  worker->WaitSettled(std::chrono::milliseconds(200));
}

void TBaseDispatcher::RefreshModemStatus() {
  std::lock_guard guard(GeneralLock);
  TModemInputs inputs = LineWorker ? LineWorker->Inputs() : 0;
  std::uint8_t high = 0;
  if (inputs & miCTS) high |= CTSMask;
  if (inputs & miDSR) high |= DSRMask;
  if (inputs & miRI) high |= RIMask;
  if (inputs & miDCD) high |= DCDMask;
  if (RingSeen.exchange(false)) high |= RIMask;
  std::uint8_t deltas = static_cast<std::uint8_t>(((high ^ PreviousModemBits) >> 4) & 0x0F);
  ModemStatusByte = static_cast<std::uint8_t>(high | ((ModemStatusByte | deltas) & 0x0F));
  PreviousModemBits = high;
}

int TBaseDispatcher::SetDTR(bool OnOff) { return SetModemLineState(true, OnOff); }
int TBaseDispatcher::SetRTS(bool OnOff) { return SetModemLineState(false, OnOff); }

bool TBaseDispatcher::DTRState() const {
  std::lock_guard guard(const_cast<std::recursive_mutex&>(GeneralLock));
  return DTRStateValue;
}

bool TBaseDispatcher::RTSState() const {
  std::lock_guard guard(const_cast<std::recursive_mutex&>(GeneralLock));
  return RTSStateValue;
}

std::uint8_t TBaseDispatcher::ModemStatus() {
  RefreshModemStatus();
  std::lock_guard guard(GeneralLock);
  return ModemStatusByte;
}

int TBaseDispatcher::HWFlowOptions(std::uint16_t BufferFull, std::uint16_t BufferResume, std::uint16_t Options) {
  if (int result = CheckFlowThresholds(BufferFull, BufferResume)) return result;
  std::lock_guard guard(GeneralLock);
  TLineSettings settings = DCB;
  int result = GetLineSettings(settings);
  if (result < 0) return result;
  settings.OutxCtsFlow = false;
  settings.OutxDsrFlow = false;
  DTRAuto = (Options & 1) != 0;
  settings.DtrControl = DTRAuto ? LineHandshake : (DTRStateValue ? LineEnable : LineDisable);
  RTSAuto = (Options & 2) != 0;
  settings.RtsControl = RTSAuto ? LineHandshake : (RTSStateValue ? LineEnable : LineDisable);
  settings.XoffLim = static_cast<std::uint16_t>(FInSize - BufferFull);
  settings.XonLim = BufferResume;
  settings.OutxDsrFlow = (Options & 4) != 0;
  settings.OutxCtsFlow = (Options & 8) != 0;
  return ApplyLineSettings(settings);
}

int TBaseDispatcher::SWFlowEnable(std::uint16_t BufferFull, std::uint16_t BufferResume, std::uint16_t Options) {
  if (int result = CheckFlowThresholds(BufferFull, BufferResume)) return result;
  std::lock_guard guard(GeneralLock);
  TLineSettings settings = DCB;
  int result = GetLineSettings(settings);
  if (result < 0) return result;
  settings.InX = (Options & 2) != 0;
  settings.OutX = (Options & 1) != 0;
  settings.XoffLim = static_cast<std::uint16_t>(FInSize - BufferFull);
  settings.XonLim = BufferResume;
  settings.XonChar = 17;
  settings.XoffChar = 19;
  return ApplyLineSettings(settings);
}

int TBaseDispatcher::SWFlowDisable() {
  std::lock_guard guard(GeneralLock);
  TLineSettings settings = DCB;
  int result = GetLineSettings(settings);
  if (result < 0) return result;
  settings.InX = false;
  settings.OutX = false;
  return ApplyLineSettings(settings);
}

int TBaseDispatcher::SWFlowChars(char OnChar, char OffChar) {
  std::lock_guard guard(GeneralLock);
  TLineSettings settings = DCB;
  int result = GetLineSettings(settings);
  if (result < 0) return result;
  settings.XonChar = OnChar;
  settings.XoffChar = OffChar;
  return ApplyLineSettings(settings);
}

// ---------------------------------------------------------------------------------------
// Handlers and triggers

void TBaseDispatcher::RegisterWndTriggerHandler(std::weak_ptr<IMessageTarget> Window) {
  std::lock_guard guard(GeneralLock);
  auto key = Window.lock();
  WndHandlers.push_back({std::move(Window), key.get(), false});
  HandlersNeeded = true;
}

void TBaseDispatcher::DeregisterWndTriggerHandler(IMessageTarget* Window) {
  std::lock_guard guard(GeneralLock);
  auto it = std::find_if(WndHandlers.begin(), WndHandlers.end(),
                         [Window](const TWndHandler& h) { return h.Key == Window && !h.Deleted; });
  if (it == WndHandlers.end()) return;
  if (FDispatching.load()) {
    it->Deleted = true;
    HandlerListChanged = true;
  } else {
    WndHandlers.erase(it);
    UpdateHandlerFlags(THandlerUpdate::Recount);
  }
}

void TBaseDispatcher::UpdateHandlerFlags(THandlerUpdate Update) {
  std::lock_guard guard(GeneralLock);
  if (Update == THandlerUpdate::PortHandlerInstalled) {
    PortHandlerInstalled = true;
    HandlersNeeded = true;
    return;
  }
  if (Update == THandlerUpdate::PortHandlerRemoved) PortHandlerInstalled = false;
  auto windows = std::count_if(WndHandlers.begin(), WndHandlers.end(), [](const TWndHandler& h) { return !h.Deleted; });
  HandlersNeeded = windows > 1 || (Update == THandlerUpdate::Recount && PortHandlerInstalled);
}

void TBaseDispatcher::ChangeLengthTrigger(std::uint16_t Length) {
  std::lock_guard guard(GeneralLock);
  AvailThreshold = Length;
}

void TBaseDispatcher::SaveTriggers(TTriggerSave& Save) {
  std::lock_guard guard(GeneralLock);
  Save.LastAvailThreshold = AvailThreshold;
  Save.TimerTriggers = TimerTriggers;
  Save.DataTriggers = DataTriggers;
  Save.StatusTriggers = StatusTriggers;
}

void TBaseDispatcher::RestoreTriggers(const TTriggerSave& Save) {
  std::lock_guard guard(GeneralLock);
  AvailThreshold = Save.LastAvailThreshold;
  TimerTriggers = Save.TimerTriggers;
  DataTriggers = Save.DataTriggers;
  StatusTriggers = Save.StatusTriggers;
}

std::uint16_t TBaseDispatcher::GetLineError() {
  std::lock_guard guard(OutLock);
  std::uint16_t errors = LineErrors & 0x0F;
  LineErrors &= ~0x0F;
  return errors;
}

bool TBaseDispatcher::CheckLineBreak() {
  std::lock_guard guard(OutLock);
  bool seen = (LineErrors & 0x10) != 0;
  LineErrors &= ~0x10;
  return seen;
}

int TBaseDispatcher::ProcessCommunications() {
  std::this_thread::yield();
  return 0;
}

}  // namespace mirte
