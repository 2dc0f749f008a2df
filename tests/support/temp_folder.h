#pragma once
// A real temporary folder for file tests, removed with everything in it when the
// fixture goes away.
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace mirte::testing {

class TempFolder {
public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::filesystem::path& path() const { return root; }
  std::filesystem::path operator/(const std::string& name) const { return root / name; }

  // Writes a file below the folder (creating its parent folders) and returns its path.
  std::filesystem::path write(const std::string& name, const std::vector<std::uint8_t>& bytes) const;
  std::filesystem::path write(const std::string& name, const std::string& text) const;
  std::vector<std::uint8_t> read(const std::string& name) const;

private:
  std::filesystem::path root;
};

std::vector<std::uint8_t> readFileBytes(const std::filesystem::path& file);

}  // namespace mirte::testing
