#include "board/board_name.h"

#include "platform/dos_files.h"

namespace mirte {

namespace {

std::string CollapseWildcardTail(std::string field, std::size_t fullLength) {
  if (field.size() != fullLength) return field;
  std::size_t first = field.find('?');
  if (first == std::string::npos) return field;
  if (field.find_first_not_of('?', first) != std::string::npos) return field;
  return field.substr(0, first) + "*";
}

}  // namespace

std::string BoardName(std::span<const std::uint8_t> name, std::span<const std::uint8_t> ext, bool wildcards) {
  std::string base, extension;
  for (std::uint8_t b : name)
    if (b != 32) base += static_cast<char>(b);
  for (std::uint8_t b : ext)
    if (b != 32) extension += static_cast<char>(b & 0x7F);
  if (wildcards) {
    base = CollapseWildcardTail(base, name.size());
    extension = CollapseWildcardTail(extension, ext.size());
  }
  std::string full = extension.empty() ? base : base + "." + extension;
  while (!full.empty() && (full.back() == ' ' || full.back() == '.')) full.pop_back();
  return DosUpper(full);
}

}  // namespace mirte
