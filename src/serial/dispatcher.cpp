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
  std::recursive_mutex Lock;
  std::vector<TBaseDispatcher*> Slots;
};

DispatcherRegistry& Registry() {
  static DispatcherRegistry instance;
  return instance;
}

std::uint32_t UnreadIn(std::uint32_t head, std::uint32_t tail, bool full) {
  if (full) return ReceiveBufferSize;
  return (head + ReceiveBufferSize - tail) % ReceiveBufferSize;
}

}  // namespace

std::recursive_mutex& TBaseDispatcher::RegistryLock() { return Registry().Lock; }

TBaseDispatcher* TBaseDispatcher::FindDispatcher(int handle) {
  auto& reg = Registry();
  std::lock_guard guard(reg.Lock);
  if (handle < 0 || static_cast<std::size_t>(handle) >= reg.Slots.size()) return nullptr;
  return reg.Slots[static_cast<std::size_t>(handle)];
}

TBaseDispatcher::TBaseDispatcher(TCustomComPort* owner, IMainThreadQueue* queue) : owner_(owner), queue_(queue) {
  auto& reg = Registry();
  std::lock_guard guard(reg.Lock);
  auto free = std::find(reg.Slots.begin(), reg.Slots.end(), nullptr);
  if (free != reg.Slots.end()) {
    *free = this;
    FHandle = static_cast<int>(free - reg.Slots.begin());
  } else {
    reg.Slots.push_back(this);
    FHandle = static_cast<int>(reg.Slots.size() - 1);
  }
}

TBaseDispatcher::~TBaseDispatcher() {
  Shutdown();
  auto& reg = Registry();
  std::lock_guard guard(reg.Lock);
  if (FHandle >= 0 && static_cast<std::size_t>(FHandle) < reg.Slots.size()) reg.Slots[static_cast<std::size_t>(FHandle)] = nullptr;
  while (!reg.Slots.empty() && reg.Slots.back() == nullptr) reg.Slots.pop_back();
}

void TBaseDispatcher::Shutdown() {
  if (shutDown_) return;
  shutDown_ = true;
  if (DeviceOpen() && !CloseRequested.load()) DonePort();
  // The workers may still be finishing a close they run themselves (a close asked for
  // during a dispatch); wait for them, serving the main thread's messages meanwhile.
  WaitUntil([this] { return FActiveThreads.load() == 0; }, std::chrono::milliseconds(-1));
  for (auto& thread : workerThreads_)
    if (thread.joinable()) thread.join();
  ReleaseBuffers();
  StopLineWorker();
  if (DeviceOpen()) CloseDevice();
}

bool TBaseDispatcher::WaitWorkersEnded(std::chrono::milliseconds limit) {
  std::unique_lock guard(workerLock_);
  return workerEnded_.wait_for(guard, limit, [this] { return FActiveThreads.load() == 0; });
}

bool TBaseDispatcher::OnMainThread() const { return queue_ && queue_->IsMainThread(); }

bool TBaseDispatcher::WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
  auto deadline = std::chrono::steady_clock::now() + limit;
  bool pump = OnMainThread();
  std::unique_lock guard(workerLock_);
  for (;;) {
    if (done()) return true;
    auto now = std::chrono::steady_clock::now();
    if (limit.count() >= 0 && now >= deadline) return false;
    auto step = std::chrono::milliseconds(pump ? 2 : 50);
    auto until = limit.count() >= 0 ? std::min(deadline, now + step) : now + step;
    workerEnded_.wait_until(guard, until);
    if (pump && !done()) {
      guard.unlock();
      queue_->ProcessMessages();
      guard.lock();
    }
  }
}

// ---------------------------------------------------------------------------------------
// Open and close

int TBaseDispatcher::InitPort(const std::string& devicePath, std::int32_t baud, std::uint32_t lineControl,
                              std::uint32_t outSize, std::uint32_t inSize, std::uint16_t stopBits,
                              std::uint16_t dataBits, std::uint16_t parity) {
  killThreads_ = false;
  CloseRequested = false;
  if (!comWake_.Valid() || !generalEvent_.Valid() || !passDone_.Valid() || !threadAck_.Valid() || !outputEvent_.Valid() ||
      !outFlushEvent_.Valid())
    return ecOutOfMemory;
  int result = OpenDevice(devicePath);
  if (result < 0) return result;
  StartLineWorker();
  result = SetupQueues(inSize, outSize);
  if (result < 0) {
    DonePort();
    return result;
  }
  if (outSize == 0) outSize = 1;
  {
    std::scoped_lock guard(recvLock_, outLock_);
    dBuffer_.assign(ReceiveBufferSize, 0);
    dHead_ = dTail_ = 0;
    dBufFull_ = false;
    receivedTotal_ = announcedTotal_ = 0;
    reannounceUnread_ = false;
    oBuffer_.assign(outSize, 0);
    outBufferSize_ = outSize;
    oHead_ = oTail_ = 0;
    oBufFull_ = false;
    lineErrors_ = 0;
    handlerReads_ = maxHandlerReads_ = 0;
    availDispatching_ = false;
  }
  {
    std::lock_guard guard(generalLock_);
    FInSize = inSize;
    GetLineSettings(dcb_);
  }
  if (lineControl & 0x10)
    dtrAuto_ = true;
  else
    SetDTR(lineControl & 0x01);
  if (lineControl & 0x20)
    rtsAuto_ = true;
  else
    SetRTS(lineControl & 0x02);
  {
    std::lock_guard guard(generalLock_);
    AvailThreshold = 0;
    timerTriggers_.clear();
    dataTriggers_.clear();
    statusTriggers_.clear();
    lastBaud_ = 115200;
  }
  result = SetLineParams(baud, parity, stopBits, dataBits);
  if (result != 0) {
    DonePort();
    return result;
  }
  {
    std::lock_guard guard(outLock_);
    ReadDeviceStatus();
    lineErrors_ = 0;
  }
  StartWorkers();
  return 0;
}

void TBaseDispatcher::DonePort() {
  if (DeviceOpen() && !killThreads_.load()) {
    FlushOutBuffer();
    FlushInBuffer();
    SignalWorkersToStop();
  }
  {
    std::lock_guard guard(generalLock_);
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
  std::lock_guard guard(generalLock_);
  if (!FWorkersRunning.load()) return;
  killThreads_ = true;
  comWake_.Set();
  passDone_.Set();
  generalEvent_.Set();
  threadAck_.Reset();
}

void TBaseDispatcher::MarkDeviceGone() {
  if (deviceGone_.exchange(true)) return;
  AnnounceDeviceLoss();
}

void TBaseDispatcher::SetDeviceLostTarget(std::weak_ptr<IMessageTarget> target) {
  {
    std::lock_guard guard(generalLock_);
    deviceLostTarget_ = std::move(target);
  }
  if (deviceGone_.load()) AnnounceDeviceLoss();
}

void TBaseDispatcher::AnnounceDeviceLoss() {
  // Posted, never sent: the worker that noticed must not wait on the main thread, which
  // may itself be waiting for output that can no longer leave.
  std::weak_ptr<IMessageTarget> target;
  {
    std::lock_guard guard(generalLock_);
    target = deviceLostTarget_;
  }
  if (!queue_ || target.expired()) return;
  if (deviceLossAnnounced_.exchange(true)) return;
  queue_->PostMessage(target, kDeviceLostMsg, 0, static_cast<std::intptr_t>(FHandle) << 16);
}

void TBaseDispatcher::ReleaseBuffers() {
  if (releaseClaimed_.exchange(true)) return;
  StopWorkers();
  StopLineWorker();
  if (DeviceOpen()) CloseDevice();
  std::scoped_lock guard(recvLock_, outLock_);
  dBuffer_.clear();
  dBuffer_.shrink_to_fit();
  oBuffer_.clear();
  oBuffer_.shrink_to_fit();
  dHead_ = dTail_ = oHead_ = oTail_ = 0;
  dBufFull_ = oBufFull_ = false;
}

// ---------------------------------------------------------------------------------------
// Workers

void TBaseDispatcher::StartWorkers() {
  std::lock_guard guard(generalLock_);
  if (FWorkersRunning.load()) throw std::logic_error("Dispatcher already started");
  FWorkersRunning = true;
  killThreads_ = false;
  for (int i = 0; i < 3; ++i) {
    std::unique_ptr<TDispatcherThread> worker;
    if (i == 0)
      worker = std::make_unique<TComThread>(*this);
    else if (i == 1)
      worker = std::make_unique<TDispThread>(*this);
    else
      worker = std::make_unique<TOutThread>(*this);
    {
      std::lock_guard workers(workerLock_);
      workers_[i] = std::move(worker);
      workerAlive_[i] = true;
      ++FActiveThreads;
      try {
        TDispatcherThread* body = workers_[i].get();
        workerThreads_[i] = std::thread([body] { body->Run(); });
      } catch (...) {
        workerAlive_[i] = false;
        if (--FActiveThreads == 0) FWorkersRunning = false;
        continue;
      }
    }
    threadAck_.Wait(std::chrono::milliseconds(3000));
  }
}

int TBaseDispatcher::CurrentWorkerIndex() {
  auto self = std::this_thread::get_id();
  std::lock_guard guard(workerLock_);
  for (int i = 0; i < 3; ++i)
    if (workerThreads_[i].get_id() == self) return i;
  return -1;
}

bool TBaseDispatcher::WorkerRunning(int index) {
  std::lock_guard guard(workerLock_);
  return workerAlive_[index];
}

void TBaseDispatcher::StopWorkers() {
  {
    std::lock_guard guard(generalLock_);
    if (!FWorkersRunning.load()) return;
    killThreads_ = true;
  }
  int self = CurrentWorkerIndex();
  auto ended = [this](int i) { return [this, i] { return !workerAlive_[i]; }; };
  if (self != 2 && WorkerRunning(2)) {
    outFlushEvent_.Set();
    WaitUntil(ended(2), std::chrono::milliseconds(-1));
  }
  if (self != 0 && WorkerRunning(0)) {
    comWake_.Set();
    passDone_.Set();
    threadAck_.Reset();
    WaitUntil(ended(0), std::chrono::milliseconds(-1));
  }
  if (self != 1 && WorkerRunning(1)) {
    generalEvent_.Set();
    // 36 ticks, a nudge, 36 more. A worker still busy after that finishes on its own;
    // destruction waits for it, so nothing is freed under it.
    if (!WaitUntil(ended(1), std::chrono::milliseconds(36 * 55))) {
      generalEvent_.Set();
      WaitUntil(ended(1), std::chrono::milliseconds(36 * 55));
    }
  }
}

void TBaseDispatcher::ThreadGone(TDispatcherThread* thread) {
  int index = thread->Index();
  // After a close asked for during a dispatch nobody else will stop the other workers; a
  // plain stop is finished by the thread that asked for it.
  if (index == 1 && CloseRequested.load()) ReleaseBuffers();
  std::lock_guard guard(workerLock_);
  workerAlive_[index] = false;
  if (--FActiveThreads == 0) FWorkersRunning = false;
  workerEnded_.notify_all();
}

bool TBaseDispatcher::RingFull() {
  std::lock_guard guard(recvLock_);
  return dBufFull_ || dBuffer_.empty();
}

// ---------------------------------------------------------------------------------------
// Receive side

void TBaseDispatcher::ReceivePass() {
  std::lock_guard guard(recvLock_);
  if (dBuffer_.empty() || dBufFull_) return;
  std::uint32_t waiting;
  {
    std::lock_guard out(outLock_);
    ReadDeviceStatus();
    waiting = bytesInDriver_;
  }
  if (waiting == 0) return;
  std::uint32_t freeRoom = dHead_ == dTail_ ? ReceiveBufferSize : (dTail_ + ReceiveBufferSize - dHead_) % ReceiveBufferSize;
  std::uint32_t contiguous = dTail_ > dHead_ ? dTail_ - dHead_ : ReceiveBufferSize - dHead_;
  std::uint32_t wanted = std::min(freeRoom, waiting);
  int got = ReadDevice(&dBuffer_[dHead_], contiguous);
  if (got < 0) got = 0;
  std::uint32_t total = static_cast<std::uint32_t>(got);
  dHead_ = (dHead_ + total) % ReceiveBufferSize;
  if (wanted > contiguous && total == contiguous) {
    int more = ReadDevice(&dBuffer_[dHead_], wanted - contiguous);
    if (more > 0) {
      dHead_ = (dHead_ + static_cast<std::uint32_t>(more)) % ReceiveBufferSize;
      total += static_cast<std::uint32_t>(more);
    }
  }
  if (total > 0) {
    dBufFull_ = dHead_ == dTail_;
    // Taken after the read: no byte it brought can have arrived later.
    lastReceived_ = std::chrono::steady_clock::now();
  }
  receivedTotal_ += total;
}

bool TBaseDispatcher::CheckReceiveTriggers() {
  std::uint32_t count;
  std::uint64_t received;
  {
    std::lock_guard guard(recvLock_);
    received = receivedTotal_;
    count = UnreadIn(dHead_, dTail_, dBufFull_);
  }
  std::uint16_t threshold;
  {
    std::lock_guard guard(generalLock_);
    threshold = AvailThreshold;
  }
  bool fresh = received != announcedTotal_;
  if (threshold == 0 || count < threshold || !(fresh || reannounceUnread_)) return false;
  announcedTotal_ = received;
  reannounceUnread_ = false;
  return DispatchTrigger(AvailTriggerMsg, static_cast<std::uint16_t>(count), 0);
}

bool TBaseDispatcher::DispatchTrigger(std::uint32_t msg, std::uint16_t trigger, std::uint16_t data) {
  {
    std::lock_guard guard(generalLock_);
    if (!handlersNeeded_) return true;
    if (killThreads_.load() || CloseRequested.load()) return false;
    FDispatching = true;
  }
  bool availKind = msg == AvailTriggerMsg || msg == DataTriggerMsg;
  {
    std::lock_guard guard(recvLock_);
    maxHandlerReads_ = 0;
    handlerReads_ = 0;
    availDispatching_ = availKind;
  }
  std::intptr_t lParam = static_cast<std::intptr_t>(data) + static_cast<std::intptr_t>(FHandle) * 65536;
  // The count was set to 0 together with the dispatch flag, in one step. The first handler
  // must not reset it again: a reader already busy on the main thread (a handler past its
  // time limit, or a read outside any handler) may have read through it in between, and
  // those bytes would then be handed out a second time.
  bool firstHandler = true;
  auto beforeHandler = [this, &firstHandler] {
    if (std::exchange(firstHandler, false)) return;
    std::lock_guard guard(recvLock_);
    handlerReads_ = 0;
  };
  auto afterHandler = [this] {
    std::lock_guard guard(recvLock_);
    maxHandlerReads_ = std::max(maxHandlerReads_, handlerReads_);
  };

  // Handlers are the port's notification window and its user windows: a handler may
  // register or deregister windows while it runs, so the list is walked by index with each
  // entry copied under the general lock.
  bool serveWindows;
  {
    std::lock_guard guard(generalLock_);
    serveWindows = wndHandlers_.size() > 1 || portHandlerInstalled_;
  }
  for (std::size_t i = 0; serveWindows && !CloseRequested.load(); ++i) {
    TWndHandler entry;
    {
      std::lock_guard guard(generalLock_);
      if (i >= wndHandlers_.size()) break;
      entry = wndHandlers_[i];
    }
    if (entry.Deleted) continue;
    beforeHandler();
    if (queue_) queue_->SendMessage(entry.Target, msg, trigger, lParam, kHandlerTimeLimit);
    afterHandler();
  }

  bool result = false;
  {
    std::lock_guard guard(recvLock_);
    if (!CloseRequested.load() && availDispatching_) {
      // A window handler that outlived its time limit may still be reading: count what it
      // has read up to now, so no byte is delivered twice once reads go straight to the ring.
      maxHandlerReads_ = std::max(maxHandlerReads_, handlerReads_);
      dTail_ = (dTail_ + maxHandlerReads_) % ReceiveBufferSize;
      if (maxHandlerReads_ != 0) dBufFull_ = false;
      result = msg != AvailTriggerMsg || maxHandlerReads_ == trigger;
    }
    // Whatever is still unread — the handler ran out of time, never ran, or left bytes —
    // is announced again at the next pass; waiting for later bytes could mean waiting for
    // ever, since a board may send nothing more until it has had its reply.
    if (msg == AvailTriggerMsg && !CloseRequested.load() && UnreadIn(dHead_, dTail_, dBufFull_) > 0)
      reannounceUnread_ = true;
    availDispatching_ = false;
    handlerReads_ = 0;
  }
  {
    std::lock_guard guard(generalLock_);
    FDispatching = false;
    if (handlerListChanged_) {
      handlerListChanged_ = false;
      std::erase_if(wndHandlers_, [](const TWndHandler& h) { return h.Deleted; });
      UpdateHandlerFlags(THandlerUpdate::Recount);
    }
  }
  return result;
}

// ---------------------------------------------------------------------------------------
// Reading (main thread)

std::uint32_t TBaseDispatcher::InDriverCount() {
  std::lock_guard out(outLock_);
  ReadDeviceStatus();
  return bytesInDriver_;
}

std::chrono::steady_clock::time_point TBaseDispatcher::LastReceiveTime() {
  std::lock_guard guard(recvLock_);
  return lastReceived_;
}

bool TBaseDispatcher::CharReady() {
  std::lock_guard guard(recvLock_);
  if (dBuffer_.empty()) return false;
  if (availDispatching_) {
    std::uint32_t pos = (dTail_ + handlerReads_) % ReceiveBufferSize;
    return pos != dHead_ || (dBufFull_ && handlerReads_ < ReceiveBufferSize);
  }
  return dHead_ != dTail_ || dBufFull_;
}

std::uint32_t TBaseDispatcher::InBuffUsed() {
  std::lock_guard guard(recvLock_);
  if (dBuffer_.empty()) return 0;
  std::uint32_t unread = UnreadIn(dHead_, dTail_, dBufFull_);
  if (availDispatching_) return unread > handlerReads_ ? unread - handlerReads_ : 0;
  return unread;
}

std::uint32_t TBaseDispatcher::InBuffFree() {
  std::lock_guard guard(recvLock_);
  if (dBuffer_.empty()) return 0;
  return ReceiveBufferSize - UnreadIn(dHead_, dTail_, dBufFull_);
}

int TBaseDispatcher::GetChar(std::uint8_t& c) {
  std::lock_guard guard(recvLock_);
  c = 0;
  if (InBuffUsed() == 0) return ecBufferIsEmpty;
  if (availDispatching_) {
    ++handlerReads_;
    c = dBuffer_[(dTail_ + handlerReads_ - 1) % ReceiveBufferSize];
  } else {
    c = dBuffer_[dTail_];
    dTail_ = (dTail_ + 1) % ReceiveBufferSize;
    dBufFull_ = false;
  }
  return 0;
}

int TBaseDispatcher::PeekChar(std::uint32_t n, std::uint8_t& c) {
  std::lock_guard guard(recvLock_);
  c = 0;
  if (n == 0 || InBuffUsed() < n) return ecBufferIsEmpty;
  std::uint32_t skip = availDispatching_ ? handlerReads_ : 0;
  c = dBuffer_[(dTail_ + skip + n - 1) % ReceiveBufferSize];
  return 0;
}

int TBaseDispatcher::GetBlock(void* block, std::uint32_t len) {
  std::lock_guard guard(recvLock_);
  if (InBuffUsed() < len) return ecBufferIsEmpty;
  std::uint32_t start = (dTail_ + (availDispatching_ ? handlerReads_ : 0)) % ReceiveBufferSize;
  auto* out = static_cast<std::uint8_t*>(block);
  std::uint32_t first = std::min(len, ReceiveBufferSize - start);
  std::memcpy(out, &dBuffer_[start], first);
  if (len > first) std::memcpy(out + first, &dBuffer_[0], len - first);
  if (availDispatching_) {
    handlerReads_ += len;
  } else if (len > 0) {
    dTail_ = (dTail_ + len) % ReceiveBufferSize;
    dBufFull_ = false;
  }
  return static_cast<int>(len);
}

int TBaseDispatcher::FlushInBuffer() {
  std::lock_guard guard(recvLock_);
  if (DeviceOpen()) PurgeQueue(false);
  if (dBuffer_.empty()) return 0;
  if (availDispatching_) {
    // The dispatch consumes everything when it ends; the handler itself sees nothing
    // more from here on, rather than bytes that were discarded.
    maxHandlerReads_ = UnreadIn(dHead_, dTail_, dBufFull_);
    handlerReads_ = maxHandlerReads_;
  } else {
    dTail_ = dHead_;
    handlerReads_ = 0;
  }
  dBufFull_ = false;
  return 0;
}

// ---------------------------------------------------------------------------------------
// Writing

std::uint32_t TBaseDispatcher::PendingOutput() const {
  if (oBufFull_) return outBufferSize_;
  if (outBufferSize_ == 0) return 0;
  return (oHead_ + outBufferSize_ - oTail_) % outBufferSize_;
}

int TBaseDispatcher::PutBlock(const void* block, std::uint32_t len) {
  std::lock_guard guard(outLock_);
  if (oBuffer_.empty()) return ecPutBlockFail;
  ReadDeviceStatus();
  std::uint32_t freeRoom = outBufferSize_ - PendingOutput();
  if (len > freeRoom) return ecOutputBufferTooSmall;
  if (len == 0) return 0;
  const auto* in = static_cast<const std::uint8_t*>(block);
  std::uint32_t first = std::min(len, outBufferSize_ - oHead_);
  std::memcpy(&oBuffer_[oHead_], in, first);
  if (len > first) std::memcpy(&oBuffer_[0], in + first, len - first);
  oHead_ = (oHead_ + len) % outBufferSize_;
  if (len == freeRoom) oBufFull_ = true;
  outputEvent_.Set();
  return 0;
}

std::uint32_t TBaseDispatcher::OutBuffUsed() {
  std::lock_guard guard(outLock_);
  if (oBuffer_.empty()) return 0;
  ReadDeviceStatus();
  return PendingOutput();
}

std::uint32_t TBaseDispatcher::OutBuffFree() {
  std::lock_guard guard(outLock_);
  if (oBuffer_.empty()) return 0;
  ReadDeviceStatus();
  return outBufferSize_ - PendingOutput();
}

int TBaseDispatcher::FlushOutBuffer() {
  if (FWorkersRunning.load() && WorkerRunning(2) && CurrentWorkerIndex() != 2) {
    outFlushEvent_.Set();
    threadAck_.Wait(std::chrono::milliseconds(5000));
  }
  std::lock_guard guard(outLock_);
  oHead_ = oTail_ = 0;
  oBufFull_ = false;
  ++outGeneration_;
  if (DeviceOpen()) PurgeQueue(true);
  return 0;
}

void TBaseDispatcher::WriteAllPending() {
  for (;;) {
    const std::uint8_t* block;
    std::uint32_t length;
    std::uint64_t generation;
    {
      std::lock_guard guard(outLock_);
      if (oBuffer_.empty() || (!oBufFull_ && oHead_ == oTail_)) return;
      if (oHead_ > oTail_) {
        length = oHead_ - oTail_;
      } else if (oHead_ == 0) {
        length = outBufferSize_ - oTail_;
      } else {
        // Pending bytes wrap around the end: make them one block at the start, so each
        // pass hands the device everything in one write.
        length = outBufferSize_ - oTail_ + oHead_;
        std::rotate(oBuffer_.begin(), oBuffer_.begin() + oTail_, oBuffer_.end());
        oTail_ = 0;
        oHead_ = length == outBufferSize_ ? 0 : length;
      }
      block = &oBuffer_[oTail_];
      generation = outGeneration_;
    }
    int written = WriteDevice(block, length);
    if (written > 0) {
      AdvanceOutRead(static_cast<std::uint32_t>(written), generation);
    } else if (written == 0) {
      if (!WaitWritable()) {
        threadAck_.Set();
        return;
      }
    } else {
      AdvanceOutRead(length, generation);
    }
    if (killThreads_.load()) return;
  }
}

void TBaseDispatcher::AdvanceOutRead(std::uint32_t n, std::uint64_t generation) {
  bool emptied = false;
  {
    std::lock_guard guard(outLock_);
    if (generation != outGeneration_ || outBufferSize_ == 0) return;
    oTail_ += n;
    if (oTail_ >= outBufferSize_) oTail_ -= outBufferSize_;
    emptied = oTail_ == oHead_;
    if (emptied) oTail_ = oHead_ = 0;
    oBufFull_ = false;
  }
  // The main thread waits for the last byte of a reply to leave before it takes the
  // board's next frame: tell it at once rather than at its next look.
  if (emptied && queue_) queue_->Wake();
}

// ---------------------------------------------------------------------------------------
// Settings

int TBaseDispatcher::CheckFlowThresholds(std::uint16_t bufferFull, std::uint16_t bufferResume) const {
  if (bufferFull < bufferResume || bufferFull > FInSize) return ecBadArgument;
  return 0;
}

int TBaseDispatcher::ApplyLineSettings(TLineSettings settings) {
  std::lock_guard guard(generalLock_);
  if (!dtrAuto_) settings.DtrControl = dtrStateValue_ ? LineEnable : LineDisable;
  if (!rtsAuto_) settings.RtsControl = rtsStateValue_ ? LineEnable : LineDisable;
  int result = SetLineSettings(settings);
  if (result < 0) return result;
  dcb_ = settings;
  // New settings may have moved the lines (a speed of 0 drops DTR): write them again.
  if (lineWorker_) lineWorker_->Reapply();
  return 0;
}

int TBaseDispatcher::SetLineParams(std::int32_t baud, std::uint16_t parity, std::uint16_t stopBits,
                                   std::uint16_t dataBits) {
  TLineSettings present;
  std::int32_t lastBaud;
  {
    std::lock_guard guard(generalLock_);
    present = dcb_;
    int result = GetLineSettings(present);
    if (result < 0) return result;
    lastBaud = lastBaud_;
  }
  if (stopBits == 0) stopBits = 1;
  if (stopBits > KeepStopBits) stopBits = 2;
  TLineSettings wanted = present;
  if (baud != KeepBaud) wanted.Baud = baud;
  if (parity <= pSpace) wanted.Parity = static_cast<TParity>(parity);
  if (dataBits != KeepDataBits) wanted.DataBits = static_cast<std::uint8_t>(dataBits);
  if (stopBits == 1)
    wanted.StopBits = OneStopBit;
  else if (stopBits == 2)
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

  std::lock_guard guard(generalLock_);
  TLineSettings again = dcb_;
  int result = GetLineSettings(again);
  if (result < 0) return result;
  again.Baud = wanted.Baud;
  again.Parity = wanted.Parity;
  again.DataBits = wanted.DataBits;
  again.StopBits = wanted.StopBits;
  result = ApplyLineSettings(again);
  if (result < 0) return result;
  lastBaud_ = wanted.Baud;
  return 0;
}

int TBaseDispatcher::SetModemLineState(bool dtr, bool onOff) {
  std::lock_guard guard(generalLock_);
  if (dtr ? dtrAuto_ : rtsAuto_) return 1;
  (dtr ? dtrStateValue_ : rtsStateValue_) = onOff;
  // The board may ask for a flip per received byte; the device call happens on the
  // modem-line worker so that serving bytes never waits for it.
  if (lineWorker_) lineWorker_->Want(dtr ? TModemLine::DTR : TModemLine::RTS, onOff);
  return 0;
}

void TBaseDispatcher::StartLineWorker() {
  auto worker = std::make_unique<TModemLineWorker>(
      [this](TModemLine line, bool raise) { return SetModemLine(line, raise); },
      [this] { return ReadModemInputs(); }, dtrStateValue_, rtsStateValue_);
  worker->Reapply();
  std::lock_guard guard(generalLock_);
  lineWorker_ = std::move(worker);
}

void TBaseDispatcher::StopLineWorker() {
  std::unique_ptr<TModemLineWorker> worker;
  {
    std::lock_guard guard(generalLock_);
    worker = std::move(lineWorker_);
  }
  if (!worker) return;
  // The board should see the last level asked for, but a device that stopped answering
  // must not hold up the close.
  worker->WaitSettled(std::chrono::milliseconds(200));
}

void TBaseDispatcher::RefreshModemStatus() {
  std::lock_guard guard(generalLock_);
  TModemInputs inputs = lineWorker_ ? lineWorker_->Inputs() : 0;
  std::uint8_t high = 0;
  if (inputs & MiCts) high |= kCtsMask;
  if (inputs & MiDsr) high |= kDsrMask;
  if (inputs & MiRi) high |= kRiMask;
  if (inputs & MiDcd) high |= kDcdMask;
  if (ringSeen_.exchange(false)) high |= kRiMask;
  std::uint8_t deltas = static_cast<std::uint8_t>(((high ^ previousModemBits_) >> 4) & 0x0F);
  modemStatusByte_ = static_cast<std::uint8_t>(high | ((modemStatusByte_ | deltas) & 0x0F));
  previousModemBits_ = high;
}

int TBaseDispatcher::SetDTR(bool onOff) { return SetModemLineState(true, onOff); }
int TBaseDispatcher::SetRTS(bool onOff) { return SetModemLineState(false, onOff); }

bool TBaseDispatcher::DTRState() const {
  std::lock_guard guard(const_cast<std::recursive_mutex&>(generalLock_));
  return dtrStateValue_;
}

bool TBaseDispatcher::RTSState() const {
  std::lock_guard guard(const_cast<std::recursive_mutex&>(generalLock_));
  return rtsStateValue_;
}

std::uint8_t TBaseDispatcher::ModemStatus() {
  RefreshModemStatus();
  std::lock_guard guard(generalLock_);
  return modemStatusByte_;
}

int TBaseDispatcher::HWFlowOptions(std::uint16_t bufferFull, std::uint16_t bufferResume, std::uint16_t options) {
  if (int result = CheckFlowThresholds(bufferFull, bufferResume)) return result;
  std::lock_guard guard(generalLock_);
  TLineSettings settings = dcb_;
  int result = GetLineSettings(settings);
  if (result < 0) return result;
  settings.OutxCtsFlow = false;
  settings.OutxDsrFlow = false;
  dtrAuto_ = (options & 1) != 0;
  settings.DtrControl = dtrAuto_ ? LineHandshake : (dtrStateValue_ ? LineEnable : LineDisable);
  rtsAuto_ = (options & 2) != 0;
  settings.RtsControl = rtsAuto_ ? LineHandshake : (rtsStateValue_ ? LineEnable : LineDisable);
  settings.XoffLim = static_cast<std::uint16_t>(FInSize - bufferFull);
  settings.XonLim = bufferResume;
  settings.OutxDsrFlow = (options & 4) != 0;
  settings.OutxCtsFlow = (options & 8) != 0;
  return ApplyLineSettings(settings);
}

int TBaseDispatcher::SWFlowEnable(std::uint16_t bufferFull, std::uint16_t bufferResume, std::uint16_t options) {
  if (int result = CheckFlowThresholds(bufferFull, bufferResume)) return result;
  std::lock_guard guard(generalLock_);
  TLineSettings settings = dcb_;
  int result = GetLineSettings(settings);
  if (result < 0) return result;
  settings.InX = (options & 2) != 0;
  settings.OutX = (options & 1) != 0;
  settings.XoffLim = static_cast<std::uint16_t>(FInSize - bufferFull);
  settings.XonLim = bufferResume;
  settings.XonChar = 17;
  settings.XoffChar = 19;
  return ApplyLineSettings(settings);
}

int TBaseDispatcher::SWFlowDisable() {
  std::lock_guard guard(generalLock_);
  TLineSettings settings = dcb_;
  int result = GetLineSettings(settings);
  if (result < 0) return result;
  settings.InX = false;
  settings.OutX = false;
  return ApplyLineSettings(settings);
}

int TBaseDispatcher::SWFlowChars(char onChar, char offChar) {
  std::lock_guard guard(generalLock_);
  TLineSettings settings = dcb_;
  int result = GetLineSettings(settings);
  if (result < 0) return result;
  settings.XonChar = onChar;
  settings.XoffChar = offChar;
  return ApplyLineSettings(settings);
}

// ---------------------------------------------------------------------------------------
// Handlers and triggers

void TBaseDispatcher::RegisterWndTriggerHandler(std::weak_ptr<IMessageTarget> window) {
  std::lock_guard guard(generalLock_);
  auto key = window.lock();
  wndHandlers_.push_back({std::move(window), key.get(), false});
  handlersNeeded_ = true;
}

void TBaseDispatcher::DeregisterWndTriggerHandler(IMessageTarget* window) {
  std::lock_guard guard(generalLock_);
  auto it = std::find_if(wndHandlers_.begin(), wndHandlers_.end(),
                         [window](const TWndHandler& h) { return h.Key == window && !h.Deleted; });
  if (it == wndHandlers_.end()) return;
  if (FDispatching.load()) {
    it->Deleted = true;
    handlerListChanged_ = true;
  } else {
    wndHandlers_.erase(it);
    UpdateHandlerFlags(THandlerUpdate::Recount);
  }
}

void TBaseDispatcher::UpdateHandlerFlags(THandlerUpdate update) {
  std::lock_guard guard(generalLock_);
  if (update == THandlerUpdate::PortHandlerInstalled) {
    portHandlerInstalled_ = true;
    handlersNeeded_ = true;
    return;
  }
  if (update == THandlerUpdate::PortHandlerRemoved) portHandlerInstalled_ = false;
  auto windows = std::count_if(wndHandlers_.begin(), wndHandlers_.end(), [](const TWndHandler& h) { return !h.Deleted; });
  handlersNeeded_ = windows > 1 || (update == THandlerUpdate::Recount && portHandlerInstalled_);
}

void TBaseDispatcher::ChangeLengthTrigger(std::uint16_t length) {
  std::lock_guard guard(generalLock_);
  AvailThreshold = length;
}

void TBaseDispatcher::SaveTriggers(TTriggerSave& save) {
  std::lock_guard guard(generalLock_);
  save.LastAvailThreshold = AvailThreshold;
  save.TimerTriggers = timerTriggers_;
  save.DataTriggers = dataTriggers_;
  save.StatusTriggers = statusTriggers_;
}

void TBaseDispatcher::RestoreTriggers(const TTriggerSave& save) {
  std::lock_guard guard(generalLock_);
  AvailThreshold = save.LastAvailThreshold;
  timerTriggers_ = save.TimerTriggers;
  dataTriggers_ = save.DataTriggers;
  statusTriggers_ = save.StatusTriggers;
}

std::uint16_t TBaseDispatcher::GetLineError() {
  std::lock_guard guard(outLock_);
  std::uint16_t errors = lineErrors_ & 0x0F;
  lineErrors_ &= ~0x0F;
  return errors;
}

bool TBaseDispatcher::CheckLineBreak() {
  std::lock_guard guard(outLock_);
  bool seen = (lineErrors_ & 0x10) != 0;
  lineErrors_ &= ~0x10;
  return seen;
}

int TBaseDispatcher::ProcessCommunications() {
  std::this_thread::yield();
  return 0;
}

}  // namespace mirte
