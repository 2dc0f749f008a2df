#pragma once
// The serial adapters this machine has, and what stands behind a device path: the kernel's
// name for the tty, its stable /dev/serial/by-id name, and for USB adapters the maker,
// product and serial number the adapter reports through sysfs. The /dev and /sys roots are
// parameters so that a test can build its own. Nothing here opens a device; a name that
// leads nowhere gives empty fields, never an error.
#include <filesystem>
#include <string>
#include <vector>

namespace mirte {

struct TDeviceRoots {
  std::filesystem::path Dev = "/dev";
  std::filesystem::path Sys = "/sys";
};

struct TSerialAdapter {
  // The path asked about, or for a listed adapter its by-id link (else Dev/<kernel name>).
  std::filesystem::path Device;
  // "ttyUSB0": the first name along Device's chain of links that the kernel lists as a
  // tty; empty when there is none.
  std::string KernelName;
  // The Dev/serial/by-id link that names the same tty; empty when there is none.
  std::filesystem::path ById;
  std::string Manufacturer;
  std::string Product;
  std::string Serial;

  // "FT232R USB UART A50285BI": product (or maker) and serial; the by-id or kernel name
  // when the adapter tells nothing.
  std::string Label() const;
};

TSerialAdapter DescribeSerialDevice(const std::filesystem::path& device, const TDeviceRoots& roots = {});

// Every USB serial adapter (ttyUSB, ttyACM): each by-id link, then each such tty that no
// by-id link names, in that order and each sorted by path.
std::vector<TSerialAdapter> ListSerialAdapters(const TDeviceRoots& roots = {});

}  // namespace mirte
