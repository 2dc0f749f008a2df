#include "serial/serial_dispatcher.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>

#include "platform/com_devices.h"

namespace mirte {

TSerialDispatcher::TSerialDispatcher(TCustomComPort* Owner, IMainThreadQueue* Queue) : TBaseDispatcher(Owner, Queue) {}

TSerialDispatcher::~TSerialDispatcher() { Shutdown(); }

int TSerialDispatcher::ProbeDevice(int ComNumber) {
  int result = OpenDevice(ComDevicePath(ComNumber).string());
  if (result == 0) {
    SetupQueues(64, 64);
    CloseDevice();
  }
  return result;
}

int TSerialDispatcher::OpenDevice(const std::string& DevicePath) {
  int fd = OpenTtyDevice(DevicePath);
  if (fd < 0) return fd;
  DeviceGone = false;
  HasModemLines = TtyHasModemLines(fd);
  {
    const TLowLatency latency = RequestLowLatency(fd, DevicePath);
    std::lock_guard guard(GeneralLock);
    Latency = latency;
  }
  {
    // Counters of the device before would read as errors of this one.
    std::lock_guard guard(OutLock);
    ErrorCounts = {};
  }
  ComHandle = fd;
  return 0;
}

int TSerialDispatcher::CloseDevice() {
  // Main-thread calls that touch the device run under one of these locks; taking all of
  // them means none of them meets a descriptor that is being closed or reused.
  std::scoped_lock guard(GeneralLock, RecvLock, OutLock);
  int fd = ComHandle.exchange(-1);
  if (fd < 0) return -1;
  RestoreLowLatency(fd, Latency);
  CloseTtyDevice(fd);
  return 0;
}

TLowLatency TSerialDispatcher::LowLatency() {
  std::lock_guard guard(GeneralLock);
  return Latency;
}

bool TSerialDispatcher::AdapterHoldsBytesBack() {
  const TLowLatency latency = LowLatency();
  return (latency.Supported && !latency.Took) || latency.LatencyTimerMs > 1;
}

TLineErrorCounts TSerialDispatcher::LineErrorCounts() {
  std::lock_guard guard(OutLock);
  if (!ErrorCounts.Valid) return {};
  return {ErrorCounts.Overrun + ErrorCounts.BufferOverrun, ErrorCounts.Frame, ErrorCounts.Parity, ErrorCounts.Break};
}

int TSerialDispatcher::SetupQueues(std::uint32_t, std::uint32_t) { return 0; }

int TSerialDispatcher::SetModemLine(TModemLine Line, bool Raise) {
  int fd = ComHandle;
  if (fd < 0 || !HasModemLines.load()) return 0;
  return SetTtyModemLine(fd, Line, Raise);
}

int TSerialDispatcher::PurgeQueue(bool Output) {
  int fd = ComHandle;
  if (fd < 0) return 0;
  return PurgeTty(fd, Output ? TTtyQueue::Transmit : TTtyQueue::Receive);
}

int TSerialDispatcher::ReadDeviceStatus() {
  std::lock_guard guard(OutLock);
  int fd = ComHandle;
  BytesInDriver = 0;
  if (fd < 0) return 0;
  int waiting = TtyBytesWaiting(fd);
  if (waiting > 0) BytesInDriver = static_cast<std::uint32_t>(waiting);
  LineErrors |= ReadTtyLineErrors(fd, ErrorCounts);
  return 0;
}

int TSerialDispatcher::GetLineSettings(TLineSettings& Settings) {
  int fd = ComHandle;
  if (fd < 0) return 0;
  return ReadTtySettings(fd, Settings);
}

int TSerialDispatcher::SetLineSettings(const TLineSettings& Settings) {
  int fd = ComHandle;
  if (fd < 0) return 0;
  return ApplyTtySettings(fd, Settings);
}

int TSerialDispatcher::ReadDevice(std::uint8_t* Buffer, std::uint32_t Len) {
  int fd = ComHandle;
  if (fd < 0 || Len == 0) return 0;
  for (;;) {
    ssize_t got = ::read(fd, Buffer, Len);
    if (got >= 0) return static_cast<int>(got);
    if (errno == EINTR) continue;
    if (errno == EAGAIN) return 0;
    const int error = errno;
    if (error == EIO || error == ENXIO || error == ENODEV) MarkDeviceGone();
    return -error;
  }
}

int TSerialDispatcher::WriteDevice(const std::uint8_t* Buffer, std::uint32_t Len) {
  int fd = ComHandle;
  if (fd < 0 || DeviceGone.load()) return -EIO;
  for (;;) {
    ssize_t put = ::write(fd, Buffer, Len);
    if (put >= 0) return static_cast<int>(put);
    if (errno == EINTR) continue;
    if (errno == EAGAIN) return 0;
    const int error = errno;
    if (error == EIO || error == ENXIO || error == ENODEV) MarkDeviceGone();
    return -error;
  }
}

std::uint32_t TSerialDispatcher::WaitDeviceEvent() {
  // poll() is level-triggered: a device whose bytes the full ring cannot take, or one that
  // has gone away, would wake it at once forever. Such a device is left out of the wait;
  // the dispatcher worker still looks at it every 50 ms.
  int fd = ComHandle;
  bool full = RingFull();
  bool gone = DeviceGone.load();
  bool watchDevice = fd >= 0 && !gone && !full;
  auto timeout = std::chrono::milliseconds((full && !gone) ? 50 : -1);
  const TEventSignal::TDeviceWait ended = ComWake.WaitWithDevice(watchDevice ? fd : -1, POLLIN | POLLPRI, timeout);
  if (ended.Signalled || ended.DeviceEvents == 0) return 0;
  if (ended.DeviceEvents & (POLLHUP | POLLERR | POLLNVAL)) {
    MarkDeviceGone();
    return kEvErr;
  }
  return kEvRxChar;
}

bool TSerialDispatcher::WaitWritable() {
  const TEventSignal::TDeviceWait ended = OutFlushEvent.WaitWithDevice(ComHandle, POLLOUT, std::chrono::milliseconds(-1));
  if (ended.Signalled) return false;
  if (ended.DeviceEvents & (POLLHUP | POLLERR | POLLNVAL)) MarkDeviceGone();
  return true;
}

std::optional<TModemInputs> TSerialDispatcher::ReadModemInputs() {
  int fd = ComHandle;
  if (fd < 0 || !HasModemLines.load()) return std::nullopt;
  return TtyModemInputs(fd);
}

}  // namespace mirte
