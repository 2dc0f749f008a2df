#include "serial/dispatcher_threads.h"

#include <poll.h>

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
  H.ThreadGone(this);
}

void TComThread::Execute() {
  H.ThreadAck.Set();
  while (!H.KillThreads.load()) {
    std::uint32_t mask = H.WaitDeviceEvent();
    if (H.KillThreads.load()) break;
    if (mask == 0) continue;
    if (mask & EV_RING) H.RingSeen = true;
    H.LastDeviceEvent.fetch_or(mask);
    H.GeneralEvent.Set();
    H.PassDone.Wait();
  }
  H.ThreadAck.Set();
}

void TDispThread::Execute() {
  H.ThreadAck.Set();
  do {
    // A time-out is no error: the pass runs anyway, so the device is looked at at least
    // every 50 ms even when an event went missing.
    H.GeneralEvent.Wait(std::chrono::milliseconds(50));
    if (H.KillThreads.load()) return;
    std::uint32_t mask = H.LastDeviceEvent.exchange(0);
    if (mask & (EV_CTS | EV_DSR | EV_RLSD | EV_RING)) H.RefreshModemStatus();
    if (mask & (EV_BREAK | EV_ERR)) H.ReadDeviceStatus();
    H.ReceivePass();
    bool leave = false;
    if (!H.Dispatching()) {
      while (!H.CloseRequested.load() && !H.KillThreads.load() && H.CheckReceiveTriggers()) {
      }
      leave = H.CloseRequested.load();
    }
    if (leave) break;
    H.PassDone.Set();
  } while (!H.KillThreads.load() && !H.CloseRequested.load());
  H.ThreadAck.Set();
}

void TOutThread::Execute() {
  H.ThreadAck.Set();
  pollfd fds[2] = {{H.OutputEvent.Fd(), POLLIN, 0}, {H.OutFlushEvent.Fd(), POLLIN, 0}};
  while (!H.KillThreads.load() && !H.CloseRequested.load()) {
    fds[0].revents = fds[1].revents = 0;
    if (::poll(fds, 2, -1) <= 0) continue;
    if (fds[0].revents) {
      H.OutputEvent.Reset();
      if (H.KillThreads.load()) return;
      H.WriteAllPending();
    }
    if (fds[1].revents) {
      H.OutFlushEvent.Reset();
      H.ThreadAck.Set();
    }
  }
}

}  // namespace mirte
