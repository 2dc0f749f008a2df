#pragma once
// The port's modem-line worker: the one thread that makes modem-line calls on the device.
// Callers only state the wanted level of DTR or RTS and return at once; the worker brings
// the device to the wanted levels as fast as the device takes a change (on a USB adapter
// each change is a control transfer of up to a few milliseconds). Between changes it reads
// the watched lines at most ten times a second and keeps the last answer for whoever asks,
// so no reader ever waits for the device. A device operation that fails is not retried
// until the wanted level changes again.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

#include "serial/modem_lines.h"

namespace mirte {

class TModemLineWorker {
public:
  using TSetLine = std::function<int(TModemLine line, bool raise)>;
  // The watched lines, or nothing when the device cannot say (it is then not asked again).
  using TReadInputs = std::function<std::optional<TModemInputs>()>;

  // `Dtr` and `Rts` are the levels the device is taken to be at; nothing is written for
  // them until a caller wants something else or asks for Reapply.
  TModemLineWorker(TSetLine setLine, TReadInputs readInputs, bool dtr, bool rts);
  // Finishes the change in flight and ends; levels wanted but not yet written are dropped.
  ~TModemLineWorker();
  TModemLineWorker(const TModemLineWorker&) = delete;
  TModemLineWorker& operator=(const TModemLineWorker&) = delete;

  void Want(TModemLine line, bool raise);
  bool Wanted(TModemLine line) const;
  // The device may have lost its levels (new line settings): write both again.
  void Reapply();
  // Waits at most `Limit` until the device is at the wanted levels; true when it is.
  bool WaitSettled(std::chrono::milliseconds limit);
  // The watched lines as last read; 0 before the first read.
  TModemInputs Inputs() const;
  // Device calls made for changes so far (a measure of how much folding saved).
  std::uint64_t ChangesWritten() const;

private:
  struct TLevels {
    bool Dtr = true, Rts = true;
    bool operator==(const TLevels&) const = default;
  };
  void Run();
  void WriteChanges(std::unique_lock<std::mutex>& guard);
  void ReadInputsNow(std::unique_lock<std::mutex>& guard);

  TSetLine setLine_;
  TReadInputs readInputs_;

  // LineLock guards the wanted and written levels, the last inputs and the stop flag, and
  // pairs with Changed (work for the worker) and Settled (the device caught up). It is
  // never held during a device call.
  mutable std::mutex lineLock_;
  std::condition_variable changed_;
  std::condition_variable settled_;
  TLevels wantedLevels_;
  TLevels writtenLevels_;
  bool inFlight_ = false;
  bool stop_ = false;
  bool inputsReadable_ = true;
  TModemInputs lastInputs_ = 0;
  std::uint64_t writes_ = 0;
  std::thread worker_;
};

}  // namespace mirte
