#include "eprom/rd_rec.h"

#include <vector>

namespace mirte {

const TEPROMKind& TRDRec::EPROM() const {
  if (EPROMType < 0 || EPROMType >= static_cast<std::int32_t>(kEPROMTable.size())) return kEPROMTable[1];
  return kEPROMTable[static_cast<std::size_t>(EPROMType)];
}

void InitRDRec(TRDRec& rec) { rec = TRDRec{}; }

std::int32_t CalcRDFree(const TRDRec& rec) {
  std::int32_t free = rec.EPROM().Capacity();
  const int count = rec.FileCount <= kMaxRomDiskFiles ? rec.FileCount : kMaxRomDiskFiles;
  for (int i = 0; i < count && free >= 0; ++i) {
    // A negative size would make room out of nothing; only a damaged record holds one.
    const std::int32_t size = rec.Files[static_cast<std::size_t>(i)].Size;
    free = size < 0 || size > free ? -1 : free - size;
  }
  return free;
}

std::int32_t RoundToRecords(std::int64_t length) {
  if (length <= 0) return 0;
  const std::int64_t rounded = (length + kRomRecordSize - 1) / kRomRecordSize * kRomRecordSize;
  return rounded > INT32_MAX ? INT32_MAX / kRomRecordSize * kRomRecordSize : static_cast<std::int32_t>(rounded);
}

namespace {

// Start offsets of the UTF-8 code points of s, so that cutting never splits a character.
std::vector<std::size_t> CharacterStarts(std::string_view s) {
  std::vector<std::size_t> starts;
  for (std::size_t i = 0; i < s.size(); ++i)
    if ((static_cast<unsigned char>(s[i]) & 0xC0) != 0x80) starts.push_back(i);
  return starts;
}

}  // namespace

std::string ShortPath(std::string_view path, int n) {
  if (!path.empty() && path.back() == '.') path.remove_suffix(1);
  const auto starts = CharacterStarts(path);
  const int length = static_cast<int>(starts.size());
  if (n < 6 || length <= n) return std::string(path);
  const std::size_t headEnd = starts[3];
  const std::size_t tailStart = starts[static_cast<std::size_t>(length - (n - 6))];
  return std::string(path.substr(0, headEnd)) + "..." + std::string(path.substr(tailStart));
}

std::string UpperCp1252(std::string_view bytes) {
  std::string out(bytes);
  for (char& c : out) {
    const auto b = static_cast<unsigned char>(c);
    if ((b >= 'a' && b <= 'z') || (b >= 0xE0 && b <= 0xFE && b != 0xF7)) c = static_cast<char>(b - 0x20);
    else if (b == 0x9A || b == 0x9C || b == 0x9E) c = static_cast<char>(b - 0x10);  // š œ ž
    else if (b == 0xFF) c = static_cast<char>(0x9F);                                // ÿ
  }
  return out;
}

bool ValidRomDiskName(std::string_view name) {
  if (name.empty() || name.size() > static_cast<std::size_t>(kRomDiskNameLength)) return false;
  const auto dot = name.rfind('.');
  return dot == std::string_view::npos || name.size() - dot <= static_cast<std::size_t>(kMaxExtensionLength);
}

std::string PadRomDiskName(std::string_view name) {
  std::string padded(name.substr(0, kRomDiskNameLength));
  padded.resize(kRomDiskNameLength, ' ');
  return padded;
}

}  // namespace mirte
