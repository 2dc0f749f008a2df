#include "serial/modem_line_worker.h"

namespace mirte {

namespace {
// Between changes the watched lines are read this often; on many USB adapters each read is
// a control transfer too, so it is kept well away from the pace of received bytes.
constexpr std::chrono::milliseconds InputReadInterval{100};
}  // namespace

TModemLineWorker::TModemLineWorker(TSetLine SetLine, TReadInputs ReadInputs, bool Dtr, bool Rts)
    : SetLine(std::move(SetLine)), ReadInputs(std::move(ReadInputs)) {
  WantedLevels = WrittenLevels = {Dtr, Rts};
  Worker = std::thread([this] { Run(); });
}

TModemLineWorker::~TModemLineWorker() {
  {
    std::lock_guard guard(LineLock);
    Stop = true;
  }
  Changed.notify_all();
  Worker.join();
}

void TModemLineWorker::Want(TModemLine Line, bool Raise) {
  {
    std::lock_guard guard(LineLock);
    (Line == TModemLine::DTR ? WantedLevels.Dtr : WantedLevels.Rts) = Raise;
  }
  Changed.notify_one();
}

bool TModemLineWorker::Wanted(TModemLine Line) const {
  std::lock_guard guard(LineLock);
  return Line == TModemLine::DTR ? WantedLevels.Dtr : WantedLevels.Rts;
}

void TModemLineWorker::Reapply() {
  {
    std::lock_guard guard(LineLock);
    WrittenLevels = {!WantedLevels.Dtr, !WantedLevels.Rts};
  }
  Changed.notify_one();
}

bool TModemLineWorker::WaitSettled(std::chrono::milliseconds Limit) {
  std::unique_lock guard(LineLock);
  return Settled.wait_for(guard, Limit, [this] { return !InFlight && WantedLevels == WrittenLevels; });
}

TModemInputs TModemLineWorker::Inputs() const {
  std::lock_guard guard(LineLock);
  return LastInputs;
}

std::uint64_t TModemLineWorker::ChangesWritten() const {
  std::lock_guard guard(LineLock);
  return Writes;
}

void TModemLineWorker::Run() {
  std::unique_lock guard(LineLock);
  auto nextRead = std::chrono::steady_clock::now();
  while (!Stop) {
    if (WantedLevels != WrittenLevels) {
      WriteChanges(guard);
      continue;
    }
    Settled.notify_all();
    if (InputsReadable && std::chrono::steady_clock::now() >= nextRead) {
      ReadInputsNow(guard);
      nextRead = std::chrono::steady_clock::now() + InputReadInterval;
      continue;
    }
    auto until = InputsReadable ? nextRead : std::chrono::steady_clock::time_point::max();
    Changed.wait_until(guard, until, [this] { return Stop || WantedLevels != WrittenLevels; });
  }
  Settled.notify_all();
}

void TModemLineWorker::WriteChanges(std::unique_lock<std::mutex>& Guard) {
  // Only levels are kept, never a queue of flips. Flips that arrive while a change is on
  // its way to the device therefore fold by themselves: when the worker looks again it
  // sees only the level wanted now, so an even number of flips is no change at all and an
  // odd number is exactly one edge. A board that waits for each edge before sending its
  // next byte has at most one flip pending and still sees one edge per byte; a board that
  // does not wait can never make the PC fall behind, however slow the device's changes.
  TLevels target = WantedLevels;
  TLevels before = WrittenLevels;
  InFlight = true;
  Guard.unlock();
  int written = 0;
  if (target.Dtr != before.Dtr) {
    SetLine(TModemLine::DTR, target.Dtr);
    ++written;
  }
  if (target.Rts != before.Rts) {
    SetLine(TModemLine::RTS, target.Rts);
    ++written;
  }
  Guard.lock();
  InFlight = false;
  Writes += static_cast<std::uint64_t>(written);
  WrittenLevels = target;
}

void TModemLineWorker::ReadInputsNow(std::unique_lock<std::mutex>& Guard) {
  Guard.unlock();
  std::optional<TModemInputs> inputs = ReadInputs ? ReadInputs() : std::nullopt;
  Guard.lock();
  if (inputs)
    LastInputs = *inputs;
  else
    InputsReadable = false;
}

}  // namespace mirte
