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
  dispatcher_.ThreadAck.Set();
  while (!dispatcher_.KillThreads.load()) {
    std::uint32_t mask = dispatcher_.WaitDeviceEvent();
    if (dispatcher_.KillThreads.load()) break;
    if (mask == 0) continue;
    if (mask & kEvRing) dispatcher_.RingSeen = true;
    dispatcher_.LastDeviceEvent.fetch_or(mask);
    dispatcher_.GeneralEvent.Set();
    dispatcher_.PassDone.Wait();
  }
  dispatcher_.ThreadAck.Set();
}

void TDispThread::Execute() {
  dispatcher_.ThreadAck.Set();
  do {
    // A time-out is no error: the pass runs anyway, so the device is looked at at least
    // every 50 ms even when an event went missing.
    dispatcher_.GeneralEvent.Wait(std::chrono::milliseconds(50));
    if (dispatcher_.KillThreads.load()) return;
    std::uint32_t mask = dispatcher_.LastDeviceEvent.exchange(0);
    if (mask & (kEvCts | kEvDsr | kEvRlsd | kEvRing)) dispatcher_.RefreshModemStatus();
    if (mask & (kEvBreak | kEvErr)) dispatcher_.ReadDeviceStatus();
    dispatcher_.ReceivePass();
    bool leave = false;
    if (!dispatcher_.Dispatching()) {
      while (!dispatcher_.CloseRequested.load() && !dispatcher_.KillThreads.load() && dispatcher_.CheckReceiveTriggers()) {
      }
      leave = dispatcher_.CloseRequested.load();
    }
    if (leave) break;
    dispatcher_.PassDone.Set();
  } while (!dispatcher_.KillThreads.load() && !dispatcher_.CloseRequested.load());
  dispatcher_.ThreadAck.Set();
}

void TOutThread::Execute() {
  dispatcher_.ThreadAck.Set();
  while (!dispatcher_.KillThreads.load() && !dispatcher_.CloseRequested.load()) {
    const TEventSignal::TEitherSet set = TEventSignal::WaitEither(dispatcher_.OutputEvent, dispatcher_.OutFlushEvent);
    if (set.First) {
      if (dispatcher_.KillThreads.load()) return;
      dispatcher_.WriteAllPending();
    }
    if (set.Second) dispatcher_.ThreadAck.Set();
  }
}

}  // namespace mirte
