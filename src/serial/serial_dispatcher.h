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
  TSerialDispatcher(TCustomComPort* Owner, IMainThreadQueue* Queue = nullptr);
  ~TSerialDispatcher() override;

  // Opens the device of a port number and closes it again: 0 when it opened, else the
  // device layer's code (ecDeviceBusy for a device another open holds).
  int ProbeDevice(int ComNumber);

  // What the open made of low latency; a port that should say "bytes held back" asks
  // AdapterHoldsBytesBack (the flag refused or the adapter's timer above 1 ms).
  TLowLatency LowLatency();
  bool AdapterHoldsBytesBack() override;
  TLineErrorCounts LineErrorCounts() override;

protected:
  int SetModemLine(TModemLine Line, bool Raise) override;
  int PurgeQueue(bool Output) override;
  int ReadDeviceStatus() override;
  int GetLineSettings(TLineSettings& Settings) override;
  int ReadDevice(std::uint8_t* Buffer, std::uint32_t Len) override;
  int SetLineSettings(const TLineSettings& Settings) override;
  std::uint32_t WaitDeviceEvent() override;
  int SetupQueues(std::uint32_t InSize, std::uint32_t OutSize) override;
  int OpenDevice(const std::string& DevicePath) override;
  int CloseDevice() override;
  int WriteDevice(const std::uint8_t* Buffer, std::uint32_t Len) override;
  bool WaitWritable() override;
  std::optional<TModemInputs> ReadModemInputs() override;

private:
  // A device without modem lines (a pseudo-terminal) refuses every modem-line call. The
  // program flips DTR for each received byte, so the refusal is learnt once at open
  // instead of being asked of the kernel thousands of times a second.
  std::atomic<bool> HasModemLines{true};
  TTtyErrorCounts ErrorCounts;  // under OutLock
  TLowLatency Latency;          // under GeneralLock; put back at close
};

}  // namespace mirte
