#include "serial/dispatcher_threads.h"

#include <chrono>

#include "serial/dispatcher.h"

namespace mirte {

void TDispatcherThread::Run() {
  // Nothing may escape a worker: it would end the process. A failing worker ends, and
  // its failure shows up as missing data.
  try {
    Execute();
  } catch (...) {
  }
  dispatcher_.ThreadGone(this);
}

void TComThread::Execute() {
  dispatcher_.threadAck_.Set();
  while (!dispatcher_.killThreads_.load()) {
    std::uint32_t mask = dispatcher_.WaitDeviceEvent();
    if (dispatcher_.killThreads_.load()) break;
    if (mask == 0) continue;
    if (mask & kEvRing) dispatcher_.ringSeen_ = true;
    dispatcher_.lastDeviceEvent_.fetch_or(mask);
    dispatcher_.generalEvent_.Set();
    dispatcher_.passDone_.Wait();
  }
  dispatcher_.threadAck_.Set();
}

void TDispThread::Execute() {
  dispatcher_.threadAck_.Set();
  do {
    // A time-out is no error: the pass runs anyway, so the device is looked at at least
    // every 50 ms even when an event went missing.
    dispatcher_.generalEvent_.Wait(std::chrono::milliseconds(50));
    if (dispatcher_.killThreads_.load()) return;
    std::uint32_t mask = dispatcher_.lastDeviceEvent_.exchange(0);
    if (mask & (kEvCts | kEvDsr | kEvRlsd | kEvRing)) dispatcher_.RefreshModemStatus();
    if (mask & (kEvBreak | kEvErr)) dispatcher_.ReadDeviceStatus();
    dispatcher_.ReceivePass();
    bool leave = false;
    if (!dispatcher_.Dispatching()) {
      while (!dispatcher_.CloseRequested.load() && !dispatcher_.killThreads_.load() && dispatcher_.CheckReceiveTriggers()) {
      }
      leave = dispatcher_.CloseRequested.load();
    }
    if (leave) break;
    dispatcher_.passDone_.Set();
  } while (!dispatcher_.killThreads_.load() && !dispatcher_.CloseRequested.load());
  dispatcher_.threadAck_.Set();
}

void TOutThread::Execute() {
  dispatcher_.threadAck_.Set();
  while (!dispatcher_.killThreads_.load() && !dispatcher_.CloseRequested.load()) {
    const TEventSignal::TEitherSet set = TEventSignal::WaitEither(dispatcher_.outputEvent_, dispatcher_.outFlushEvent_);
    if (set.First) {
      if (dispatcher_.killThreads_.load()) return;
      dispatcher_.WriteAllPending();
    }
    if (set.Second) dispatcher_.threadAck_.Set();
  }
}

}  // namespace mirte
