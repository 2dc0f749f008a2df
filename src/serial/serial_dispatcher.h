#pragma once
// The dispatcher's device operations on a Linux tty: exclusive open, raw termios, FIONREAD
// for bytes waiting, modem lines through TIOCM* (silently accepted where there are none),
// line errors from TIOCGICOUNT where the driver counts them, and waits by poll() on the
// device plus an eventfd. The driver's queue sizes have no Linux equivalent: accepted and
// ignored.
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "serial/dispatcher.h"
#include "serial/tty_device.h"

namespace mirte {

class TSerialDispatcher : public TBaseDispatcher {
public:
  TSerialDispatcher(TCustomComPort* owner, IMainThreadQueue* queue = nullptr);
  ~TSerialDispatcher() override;

  // Opens the device of a port number and closes it again: 0 when it opened, else the
  // device layer's code (ecDeviceBusy for a device another open holds).
  int ProbeDevice(int comNumber);

  // What the open made of low latency; a port that should say "bytes held back" asks
  // AdapterHoldsBytesBack (the flag refused or the adapter's timer above 1 ms).
  TLowLatency LowLatency();
  bool AdapterHoldsBytesBack() override;
  TLineErrorCounts LineErrorCounts() override;

protected:
  int SetModemLine(TModemLine line, bool raise) override;
  int PurgeQueue(bool output) override;
  int ReadDeviceStatus() override;
  int GetLineSettings(TLineSettings& settings) override;
  int ReadDevice(std::uint8_t* buffer, std::uint32_t len) override;
  int SetLineSettings(const TLineSettings& settings) override;
  std::uint32_t WaitDeviceEvent() override;
  int SetupQueues(std::uint32_t inSize, std::uint32_t outSize) override;
  int OpenDevice(const std::string& devicePath) override;
  int CloseDevice() override;
  int WriteDevice(const std::uint8_t* buffer, std::uint32_t len) override;
  bool WaitWritable() override;
  std::optional<TModemInputs> ReadModemInputs() override;

private:
  // A device without modem lines (a pseudo-terminal) refuses every modem-line call. The
  // program flips DTR for each received byte, so the refusal is learnt once at open
  // instead of being asked of the kernel thousands of times a second.
  std::atomic<bool> hasModemLines_{true};
  TTtyErrorCounts errorCounts_;  // under OutLock
  TLowLatency latency_;          // under GeneralLock; put back at close
};

}  // namespace mirte
