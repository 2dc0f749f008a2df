#pragma once
// The serial port as the board service uses it: take received bytes, flip DTR, queue
// replies and wait for them to leave. Declared here so that the service stays apart from
// the serial layer; TComPortLink puts it on the real port. Failures of the port never
// escape: a refused write answers false, a failed read answers "no byte".
#include <chrono>
#include <cstddef>
#include <cstdint>

namespace mirte {

class IBoardPort {
public:
  virtual ~IBoardPort() = default;

  // A received byte is waiting.
  virtual bool InputReady() = 0;
  // The device holds received bytes the port has not taken yet: the board has sent them,
  // however long a busy machine keeps the port from taking them. A port that cannot tell
  // answers false.
  virtual bool InputOnTheWay() { return false; }
  // Takes one received byte; false when none could be taken.
  virtual bool ReadChar(std::uint8_t& byte) = 0;
  virtual bool DTR() = 0;
  virtual void SetDTR(bool on) = 0;
  // Queues the bytes as one block; false when the port refused them (nothing is queued).
  virtual bool WriteBlock(const std::uint8_t* data, std::size_t size) = 0;
  // Bytes queued and not yet written to the device; 0 when the port has failed.
  virtual std::uint32_t OutputPending() = 0;
  // One processing step of the port while the caller waits on it.
  virtual void ServicePort() = 0;
  // When the newest received byte was taken from the device (steady clock); the clock's
  // epoch when unknown. A reply's turn-around wait counts from here, since the bytes may
  // have waited in the port before the service saw them.
  virtual std::chrono::steady_clock::time_point LastReceiveTime() = 0;
};

}  // namespace mirte
