#pragma once
// The board service's port on the real serial port component. Every serial exception of
// the port (not open, closed under a waiting reply, output buffer too small) is caught
// here and becomes the plain failure answer of IBoardPort, so a failing line can never
// leave the board service half way through a frame.
#include <string>

#include "board/board_port.h"

namespace mirte {

class TCustomComPort;

class TComPortLink : public IBoardPort {
public:
  explicit TComPortLink(TCustomComPort& port) : port_(port) {}

  bool InputReady() override;
  bool InputOnTheWay() override;
  bool ReadChar(std::uint8_t& byte) override;
  bool DTR() override;
  void SetDTR(bool on) override;
  bool WriteBlock(const std::uint8_t* data, std::size_t size) override;
  std::uint32_t OutputPending() override;
  void ServicePort() override;
  std::chrono::steady_clock::time_point LastReceiveTime() override;

  // The text of the last serial exception caught, for whoever wants to show it.
  const std::string& LastError() const { return lastError_; }

private:
  bool Usable() const;

  TCustomComPort& port_;
  std::string lastError_;
};

}  // namespace mirte
