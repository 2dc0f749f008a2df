#include "session/com_port_link.h"

#include <limits>

#include "serial/com_port.h"

namespace mirte {

namespace {

// Runs a port operation; a serial exception is remembered and answered with `failed`.
template <typename Operation, typename Result>
Result Guarded(std::string& lastError, Operation operation, Result failed) {
  try {
    return operation();
  } catch (const ESerialException& e) {
    lastError = e.what();
    return failed;
  }
}

}  // namespace

// A port that is closed or closing is never reopened from here: the board service only
// answers on the line its bytes came from, and a closing port would hand out a NUL.
bool TComPortLink::Usable() const {
  return port_.PortState() == StateOpen;
}

bool TComPortLink::InputReady() {
  return Usable() && Guarded(lastError_, [&] { return port_.InputReady(); }, false);
}

bool TComPortLink::InputOnTheWay() {
  return Usable() && Guarded(lastError_, [&] { return port_.InputInDriver() > 0; }, false);
}

bool TComPortLink::ReadChar(std::uint8_t& byte) {
  return Usable() && Guarded(lastError_, [&] {
    byte = port_.ReadChar();
    return true;
  }, false);
}

bool TComPortLink::DTR() {
  return port_.DTR();
}

void TComPortLink::SetDTR(bool on) {
  Guarded(lastError_, [&] {
    port_.SetDTR(on);
    return true;
  }, false);
}

bool TComPortLink::WriteBlock(const std::uint8_t* data, std::size_t size) {
  if (!Usable() || size > std::numeric_limits<std::uint16_t>::max()) return false;
  return Guarded(lastError_, [&] {
    return port_.WriteBlock(data, static_cast<std::uint16_t>(size)) >= 0;
  }, false);
}

std::uint32_t TComPortLink::OutputPending() {
  if (!Usable()) return 0;
  return Guarded(lastError_, [&] { return port_.OutputPending(); }, std::uint32_t{0});
}

void TComPortLink::ServicePort() {
  if (!Usable()) return;
  Guarded(lastError_, [&] {
    port_.ServicePort();
    return true;
  }, false);
}

std::chrono::steady_clock::time_point TComPortLink::LastReceiveTime() {
  if (!Usable()) return {};
  return port_.LastReceiveTime();
}

}  // namespace mirte
