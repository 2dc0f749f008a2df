#include "support/board_frames.h"

#include <algorithm>
#include <utility>

namespace mirte::testing {

namespace {

// A search reply: the result, then the directory entry's user byte and its 11-character name.
constexpr std::size_t kSearchReply = 13;
constexpr std::uint8_t kSearchFirst = 17;
constexpr std::uint8_t kSearchNext = 18;

}  // namespace

std::string Frame(std::uint8_t type, std::string_view params) {
  std::string frame = "\x10\x11";
  frame += static_cast<char>(type);
  frame += params;
  return frame;
}

std::string NameBlock(std::uint8_t drive, std::string_view fcb) {
  return std::string(1, static_cast<char>(drive)) + std::string(fcb);
}

std::string NameBlock(std::string_view fcb) { return NameBlock(0, fcb); }

std::string Record(char fill) { return std::string(128, fill); }

std::uint8_t ResultOf(const TBoardExchange& exchange, std::uint8_t type, std::string_view params) {
  const std::vector<std::uint8_t> reply = exchange(Frame(type, params), 1);
  return reply.empty() ? 0xEE : reply[0];
}

std::vector<std::string> ListNames(const TBoardExchange& exchange, std::uint8_t drive, std::vector<std::uint8_t>* last) {
  const std::string any = NameBlock(drive, "???????????");
  std::vector<std::string> names;
  std::vector<std::uint8_t> reply = exchange(Frame(kSearchFirst, any), kSearchReply);
  while (reply.size() == kSearchReply && reply[0] == 0) {
    names.emplace_back(reply.begin() + 2, reply.end());
    reply = exchange(Frame(kSearchNext, any), kSearchReply);
  }
  if (last) *last = std::move(reply);
  return names;
}

namespace bytes {

Bytes Frame(std::uint8_t type, const Bytes& params, const Bytes& data) {
  Bytes frame{0x10, 0x11, type};
  frame.insert(frame.end(), params.begin(), params.end());
  frame.insert(frame.end(), data.begin(), data.end());
  return frame;
}

Bytes NameBlock(std::uint8_t drive, std::string_view name, std::string_view ext) {
  Bytes block(12, ' ');
  block[0] = drive;
  std::copy_n(name.begin(), std::min<std::size_t>(name.size(), 8), block.begin() + 1);
  std::copy_n(ext.begin(), std::min<std::size_t>(ext.size(), 3), block.begin() + 9);
  return block;
}

Bytes NameBlock(std::string_view name, std::string_view ext) { return NameBlock(0, name, ext); }

Bytes ListOutput(std::string_view text) {
  constexpr std::uint8_t kListOutput = 5;
  Bytes frames;
  for (char c : text) frames.insert(frames.end(), {0x10, 0x11, kListOutput, static_cast<std::uint8_t>(c)});
  return frames;
}

Bytes Plus(Bytes first, const Bytes& second) {
  first.insert(first.end(), second.begin(), second.end());
  return first;
}

}  // namespace bytes

}  // namespace mirte::testing
