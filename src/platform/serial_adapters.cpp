#include "platform/serial_adapters.h"

#include <algorithm>
#include <fstream>
#include <set>
#include <system_error>

namespace mirte {

namespace {

namespace fs = std::filesystem;

// Links chain at most this deep before the search gives up (a loop, or a silly set-up).
constexpr int kMaxLinkSteps = 16;

bool KernelKnowsTty(const std::string& name, const TDeviceRoots& roots) {
  if (name.empty() || name == "." || name == "..") return false;
  std::error_code error;
  return fs::exists(roots.Sys / "class" / "tty" / name, error);
}

std::string KernelNameOf(fs::path path, const TDeviceRoots& roots) {
  for (int step = 0; step <= kMaxLinkSteps; ++step) {
    if (KernelKnowsTty(path.filename().string(), roots)) return path.filename().string();
    std::error_code error;
    if (!fs::is_symlink(fs::symlink_status(path, error))) return {};
    fs::path target = fs::read_symlink(path, error);
    if (error) return {};
    path = target.is_absolute() ? target : path.parent_path() / target;
  }
  return {};
}

std::string ReadAttribute(const fs::path& file) {
  std::ifstream in(file);
  std::string value;
  std::getline(in, value);
  while (!value.empty() && (value.back() == ' ' || value.back() == '\r' || value.back() == '\n')) value.pop_back();
  return value;
}

// The USB device above a tty: the nearest folder upward that carries a vendor id.
void ReadUsbAttributes(TSerialAdapter& adapter, const TDeviceRoots& roots) {
  std::error_code error;
  fs::path sysRoot = fs::weakly_canonical(roots.Sys, error);
  fs::path folder = fs::canonical(roots.Sys / "class" / "tty" / adapter.KernelName / "device", error);
  if (error) return;
  for (; !folder.empty() && folder != sysRoot && folder != folder.root_path(); folder = folder.parent_path()) {
    if (!fs::exists(folder / "idVendor", error)) continue;
    adapter.Manufacturer = ReadAttribute(folder / "manufacturer");
    adapter.Product = ReadAttribute(folder / "product");
    adapter.Serial = ReadAttribute(folder / "serial");
    return;
  }
}

std::vector<fs::path> SortedEntries(const fs::path& folder) {
  std::vector<fs::path> entries;
  std::error_code error;
  for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error))
    entries.push_back(it->path());
  std::sort(entries.begin(), entries.end());
  return entries;
}

fs::path ByIdLinkFor(const std::string& kernelName, const TDeviceRoots& roots) {
  if (kernelName.empty()) return {};
  for (const fs::path& link : SortedEntries(roots.Dev / "serial" / "by-id"))
    if (KernelNameOf(link, roots) == kernelName) return link;
  return {};
}

bool IsUsbSerialName(const std::string& name) { return name.rfind("ttyUSB", 0) == 0 || name.rfind("ttyACM", 0) == 0; }

}  // namespace

std::string TSerialAdapter::Label() const {
  std::string label = !Product.empty() ? Product : Manufacturer;
  if (!Serial.empty()) label += label.empty() ? Serial : " " + Serial;
  if (!label.empty()) return label;
  if (!ById.empty()) return ById.filename().string();
  return KernelName;
}

TSerialAdapter DescribeSerialDevice(const fs::path& device, const TDeviceRoots& roots) {
  TSerialAdapter adapter;
  adapter.Device = device;
  adapter.KernelName = KernelNameOf(device, roots);
  if (adapter.KernelName.empty()) return adapter;
  adapter.ById = ByIdLinkFor(adapter.KernelName, roots);
  ReadUsbAttributes(adapter, roots);
  return adapter;
}

std::vector<TSerialAdapter> ListSerialAdapters(const TDeviceRoots& roots) {
  std::vector<TSerialAdapter> adapters;
  std::set<std::string> named;
  for (const fs::path& link : SortedEntries(roots.Dev / "serial" / "by-id")) {
    TSerialAdapter adapter = DescribeSerialDevice(link, roots);
    if (adapter.KernelName.empty()) continue;
    adapter.ById = link;
    named.insert(adapter.KernelName);
    adapters.push_back(std::move(adapter));
  }
  for (const fs::path& tty : SortedEntries(roots.Sys / "class" / "tty")) {
    const std::string name = tty.filename().string();
    if (!IsUsbSerialName(name) || named.count(name)) continue;
    TSerialAdapter adapter;
    adapter.Device = roots.Dev / name;
    adapter.KernelName = name;
    ReadUsbAttributes(adapter, roots);
    adapters.push_back(std::move(adapter));
  }
  return adapters;
}

}  // namespace mirte
