#include "board/com_port_link.h"

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

bool TComPortLink::InputReady() {
  return Guarded(lastError, [&] { return port.InputReady(); }, false);
}

bool TComPortLink::ReadChar(std::uint8_t& byte) {
  return Guarded(lastError, [&] {
    byte = port.ReadChar();
    return true;
  }, false);
}

bool TComPortLink::DTR() {
  return port.DTR();
}

void TComPortLink::SetDTR(bool on) {
  Guarded(lastError, [&] {
    port.SetDTR(on);
    return true;
  }, false);
}

bool TComPortLink::WriteBlock(const std::uint8_t* data, std::size_t size) {
  if (size > std::numeric_limits<std::uint16_t>::max()) return false;
  return Guarded(lastError, [&] {
    return port.WriteBlock(data, static_cast<std::uint16_t>(size)) >= 0;
  }, false);
}

std::uint32_t TComPortLink::OutputPending() {
  return Guarded(lastError, [&] { return port.OutputPending(); }, std::uint32_t{0});
}

void TComPortLink::ServicePort() {
  Guarded(lastError, [&] {
    port.ServicePort();
    return true;
  }, false);
}

}  // namespace mirte
