#include "serial/serial_dispatcher.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>

#include "platform/com_devices.h"

namespace mirte {

TSerialDispatcher::TSerialDispatcher(TCustomComPort* owner, IMainThreadQueue* queue) : TBaseDispatcher(owner, queue) {}

TSerialDispatcher::~TSerialDispatcher() { Shutdown(); }

int TSerialDispatcher::ProbeDevice(int comNumber) {
  int result = OpenDevice(ComDevicePath(comNumber).string());
  if (result == 0) {
    SetupQueues(64, 64);
    CloseDevice();
  }
  return result;
}

int TSerialDispatcher::OpenDevice(const std::string& devicePath) {
  int fd = OpenTtyDevice(devicePath);
  if (fd < 0) return fd;
  deviceGone_ = false;
  hasModemLines_ = TtyHasModemLines(fd);
  {
    const TLowLatency latency = RequestLowLatency(fd, devicePath);
    std::lock_guard guard(generalLock_);
    latency_ = latency;
  }
  {
    // Counters of the device before would read as errors of this one.
    std::lock_guard guard(outLock_);
    errorCounts_ = {};
  }
  comHandle_ = fd;
  return 0;
}

int TSerialDispatcher::CloseDevice() {
  // Main-thread calls that touch the device run under one of these locks; taking all of
  // them means none of them meets a descriptor that is being closed or reused.
  std::scoped_lock guard(generalLock_, recvLock_, outLock_);
  int fd = comHandle_.exchange(-1);
  if (fd < 0) return -1;
  RestoreLowLatency(fd, latency_);
  CloseTtyDevice(fd);
  return 0;
}

TLowLatency TSerialDispatcher::LowLatency() {
  std::lock_guard guard(generalLock_);
  return latency_;
}

bool TSerialDispatcher::AdapterHoldsBytesBack() {
  const TLowLatency latency = LowLatency();
  return (latency.Supported && !latency.Took) || latency.LatencyTimerMs > 1;
}

TLineErrorCounts TSerialDispatcher::LineErrorCounts() {
  std::lock_guard guard(outLock_);
  if (!errorCounts_.Valid) return {};
  return {errorCounts_.Overrun + errorCounts_.BufferOverrun, errorCounts_.Frame, errorCounts_.Parity, errorCounts_.Break};
}

int TSerialDispatcher::SetupQueues(std::uint32_t, std::uint32_t) { return 0; }

int TSerialDispatcher::SetModemLine(TModemLine line, bool raise) {
  int fd = comHandle_;
  if (fd < 0 || !hasModemLines_.load()) return 0;
  return SetTtyModemLine(fd, line, raise);
}

int TSerialDispatcher::PurgeQueue(bool output) {
  int fd = comHandle_;
  if (fd < 0) return 0;
  return PurgeTty(fd, output ? TTtyQueue::Transmit : TTtyQueue::Receive);
}

int TSerialDispatcher::ReadDeviceStatus() {
  std::lock_guard guard(outLock_);
  int fd = comHandle_;
  bytesInDriver_ = 0;
  if (fd < 0) return 0;
  int waiting = TtyBytesWaiting(fd);
  if (waiting > 0) bytesInDriver_ = static_cast<std::uint32_t>(waiting);
  lineErrors_ |= ReadTtyLineErrors(fd, errorCounts_);
  return 0;
}

int TSerialDispatcher::GetLineSettings(TLineSettings& settings) {
  int fd = comHandle_;
  if (fd < 0) return 0;
  return ReadTtySettings(fd, settings);
}

int TSerialDispatcher::SetLineSettings(const TLineSettings& settings) {
  int fd = comHandle_;
  if (fd < 0) return 0;
  return ApplyTtySettings(fd, settings);
}

int TSerialDispatcher::ReadDevice(std::uint8_t* buffer, std::uint32_t len) {
  int fd = comHandle_;
  if (fd < 0 || len == 0) return 0;
  for (;;) {
    ssize_t got = ::read(fd, buffer, len);
    if (got >= 0) return static_cast<int>(got);
    if (errno == EINTR) continue;
    if (errno == EAGAIN) return 0;
    const int error = errno;
    if (error == EIO || error == ENXIO || error == ENODEV) MarkDeviceGone();
    return -error;
  }
}

int TSerialDispatcher::WriteDevice(const std::uint8_t* buffer, std::uint32_t len) {
  int fd = comHandle_;
  if (fd < 0 || deviceGone_.load()) return -EIO;
  for (;;) {
    ssize_t put = ::write(fd, buffer, len);
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
  int fd = comHandle_;
  bool full = RingFull();
  bool gone = deviceGone_.load();
  bool watchDevice = fd >= 0 && !gone && !full;
  auto timeout = std::chrono::milliseconds((full && !gone) ? 50 : -1);
  const TEventSignal::TDeviceWait ended = comWake_.WaitWithDevice(watchDevice ? fd : -1, POLLIN | POLLPRI, timeout);
  if (ended.Signalled || ended.DeviceEvents == 0) return 0;
  if (ended.DeviceEvents & (POLLHUP | POLLERR | POLLNVAL)) {
    MarkDeviceGone();
    return kEvErr;
  }
  return kEvRxChar;
}

bool TSerialDispatcher::WaitWritable() {
  const TEventSignal::TDeviceWait ended = outFlushEvent_.WaitWithDevice(comHandle_, POLLOUT, std::chrono::milliseconds(-1));
  if (ended.Signalled) return false;
  if (ended.DeviceEvents & (POLLHUP | POLLERR | POLLNVAL)) MarkDeviceGone();
  return true;
}

std::optional<TModemInputs> TSerialDispatcher::ReadModemInputs() {
  int fd = comHandle_;
  if (fd < 0 || !hasModemLines_.load()) return std::nullopt;
  return TtyModemInputs(fd);
}

}  // namespace mirte
