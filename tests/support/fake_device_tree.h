#pragma once
// A /dev and /sys of a test's own, below a folder the test owns: USB serial adapters with
// the attributes the kernel shows for them, their /dev/serial/by-id links, and a /dev node
// for each that is a link to what stands in for the device (a pty's slave, or nothing).
// Header-only.
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/serial_adapters.h"

namespace mirte::testing {

class FakeDeviceTree {
public:
  explicit FakeDeviceTree(const std::filesystem::path& root) : dev(root / "dev"), sys(root / "sys") {
    std::filesystem::create_directories(dev / "serial" / "by-id");
    std::filesystem::create_directories(sys / "class" / "tty");
  }

  TDeviceRoots roots() const { return {dev, sys}; }
  std::filesystem::path node(const std::string& tty) const { return dev / tty; }
  std::filesystem::path byIdLink(const std::string& name) const { return dev / "serial" / "by-id" / name; }

  // Plugs in adapter `tty` (ttyUSB0, ttyACM1, ...) on USB bus `bus`; an empty `byId`
  // gives it no by-id link.
  void plug(const std::string& tty, const std::filesystem::path& device, int bus, const std::string& manufacturer,
            const std::string& product, const std::string& serial, const std::string& byId) {
    const std::string usb = "usb" + std::to_string(bus);
    const std::string port = std::to_string(bus) + "-1";
    const auto usbDevice = sys / "devices" / usb / port;
    const auto ttyDevice = usbDevice / (port + ":1.0") / tty;
    std::filesystem::create_directories(ttyDevice);
    write(usbDevice / "idVendor", "0403");
    write(usbDevice / "manufacturer", manufacturer);
    write(usbDevice / "product", product);
    write(usbDevice / "serial", serial);
    std::filesystem::create_directories(sys / "class" / "tty" / tty);
    std::filesystem::create_directory_symlink(
        std::filesystem::path("../../../devices") / usb / port / (port + ":1.0") / tty, sys / "class" / "tty" / tty / "device");
    std::filesystem::create_symlink(device, dev / tty);
    if (!byId.empty()) std::filesystem::create_symlink(std::filesystem::path("../..") / tty, byIdLink(byId));
  }

  // A tty the kernel has with no USB device above it (a built-in port).
  void addBuiltIn(const std::string& tty) { std::filesystem::create_directories(sys / "class" / "tty" / tty); }

  // Pulls adapter `tty` out: its node, its class entry and its by-id link go.
  void unplug(const std::string& tty, const std::string& byId) {
    std::filesystem::remove(dev / tty);
    std::filesystem::remove_all(sys / "class" / "tty" / tty);
    if (!byId.empty()) std::filesystem::remove(byIdLink(byId));
  }

private:
  static void write(const std::filesystem::path& file, const std::string& text) { std::ofstream(file) << text << "\n"; }

  std::filesystem::path dev;
  std::filesystem::path sys;
};

}  // namespace mirte::testing
