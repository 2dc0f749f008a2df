#include "serial/modem_line_worker.h"

namespace mirte {

namespace {
// Between changes the watched lines are read this often; on many USB adapters each read is
// a control transfer too, so it is kept well away from the pace of received bytes.
constexpr std::chrono::milliseconds kInputReadInterval{100};
}  // namespace

TModemLineWorker::TModemLineWorker(TSetLine setLine, TReadInputs readInputs, bool dtr, bool rts)
    : setLine_(std::move(setLine)), readInputs_(std::move(readInputs)) {
  wantedLevels_ = writtenLevels_ = {dtr, rts};
  worker_ = std::thread([this] { Run(); });
}

TModemLineWorker::~TModemLineWorker() {
  {
    std::lock_guard guard(lineLock_);
    stop_ = true;
  }
  changed_.notify_all();
  worker_.join();
}

void TModemLineWorker::Want(TModemLine line, bool raise) {
  {
    std::lock_guard guard(lineLock_);
    (line == TModemLine::DTR ? wantedLevels_.Dtr : wantedLevels_.Rts) = raise;
  }
  changed_.notify_one();
}

bool TModemLineWorker::Wanted(TModemLine line) const {
  std::lock_guard guard(lineLock_);
  return line == TModemLine::DTR ? wantedLevels_.Dtr : wantedLevels_.Rts;
}

void TModemLineWorker::Reapply() {
  {
    std::lock_guard guard(lineLock_);
    writtenLevels_ = {!wantedLevels_.Dtr, !wantedLevels_.Rts};
  }
  changed_.notify_one();
}

bool TModemLineWorker::WaitSettled(std::chrono::milliseconds limit) {
  std::unique_lock guard(lineLock_);
  return settled_.wait_for(guard, limit, [this] { return !inFlight_ && wantedLevels_ == writtenLevels_; });
}

TModemInputs TModemLineWorker::Inputs() const {
  std::lock_guard guard(lineLock_);
  return lastInputs_;
}

std::uint64_t TModemLineWorker::ChangesWritten() const {
  std::lock_guard guard(lineLock_);
  return writes_;
}

void TModemLineWorker::Run() {
  std::unique_lock guard(lineLock_);
  auto nextRead = std::chrono::steady_clock::now();
  while (!stop_) {
    if (wantedLevels_ != writtenLevels_) {
      WriteChanges(guard);
      continue;
    }
    settled_.notify_all();
    if (inputsReadable_ && std::chrono::steady_clock::now() >= nextRead) {
      ReadInputsNow(guard);
      nextRead = std::chrono::steady_clock::now() + kInputReadInterval;
      continue;
    }
    auto until = inputsReadable_ ? nextRead : std::chrono::steady_clock::time_point::max();
    changed_.wait_until(guard, until, [this] { return stop_ || wantedLevels_ != writtenLevels_; });
  }
  settled_.notify_all();
}

void TModemLineWorker::WriteChanges(std::unique_lock<std::mutex>& guard) {
  // Only levels are kept, never a queue of flips. Flips that arrive while a change is on
  // its way to the device therefore fold by themselves: when the worker looks again it
  // sees only the level wanted now, so an even number of flips is no change at all and an
  // odd number is exactly one edge. A board that waits for each edge before sending its
  // next byte has at most one flip pending and still sees one edge per byte; a board that
  // does not wait can never make the PC fall behind, however slow the device's changes.
  TLevels target = wantedLevels_;
  TLevels before = writtenLevels_;
  inFlight_ = true;
  guard.unlock();
  int written = 0;
  if (target.Dtr != before.Dtr) {
    setLine_(TModemLine::DTR, target.Dtr);
    ++written;
  }
  if (target.Rts != before.Rts) {
    setLine_(TModemLine::RTS, target.Rts);
    ++written;
  }
  guard.lock();
  inFlight_ = false;
  writes_ += static_cast<std::uint64_t>(written);
  writtenLevels_ = target;
}

void TModemLineWorker::ReadInputsNow(std::unique_lock<std::mutex>& guard) {
  guard.unlock();
  std::optional<TModemInputs> inputs = readInputs_ ? readInputs_() : std::nullopt;
  guard.lock();
  if (inputs)
    lastInputs_ = *inputs;
  else
    inputsReadable_ = false;
}

}  // namespace mirte
