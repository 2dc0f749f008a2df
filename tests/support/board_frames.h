#pragma once
// What a test board sends and reads back: command frames as they stand on the line, the
// name blocks and records they carry, and the replies a test reads most often (a result
// byte, a directory listing). The replies are read through whatever exchange the test's
// rig gives, so a test played over a port in this process and one played against a
// program of its own read them the same way.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace mirte::testing {

// The lead-in, the type byte and the parameters as the board writes them.
std::string Frame(std::uint8_t type, std::string_view params = {});
// A drive byte (0 the current drive, 1 A: and on) and an 11-character name as a file
// control block spells it: eight characters of name, three of extension, padded with blanks.
std::string NameBlock(std::uint8_t drive, std::string_view fcb);
// The same on the current drive.
std::string NameBlock(std::string_view fcb);
// One record of 128 bytes, each `fill`.
std::string Record(char fill);

// The board sends `bytes` and reads up to `replySize` bytes back; fewer when the time the
// rig allows runs out.
using TBoardExchange = std::function<std::vector<std::uint8_t>(const std::string& bytes, std::size_t replySize)>;

// The one-byte result of a frame; 0xEE, a byte no command answers, when none came.
std::uint8_t ResultOf(const TBoardExchange& exchange, std::uint8_t type, std::string_view params);
// Search first and then next for every name on the drive the drive byte names, as a
// directory listing does: each name shown, in the order shown. The reply that ended the
// search goes to `last` when given (empty when none came), so a caller can tell the
// board's end of the list from a missing reply.
std::vector<std::string> ListNames(const TBoardExchange& exchange, std::uint8_t drive,
                                   std::vector<std::uint8_t>* last = nullptr);

// The same frames as byte vectors, for tests that build frames and expected replies from
// bytes. They have a namespace of their own: as overloads of the text forms, a call such
// as Frame(25, {}) would fit both.
namespace bytes {

using Bytes = std::vector<std::uint8_t>;

// The lead-in, the type byte, the parameters, then the record or text the frame carries.
Bytes Frame(std::uint8_t type, const Bytes& params, const Bytes& data = {});
// A drive byte and a name and extension, each padded with blanks to 8 + 3 characters.
Bytes NameBlock(std::uint8_t drive, std::string_view name, std::string_view ext);
// The same on the current drive.
Bytes NameBlock(std::string_view name, std::string_view ext);
// One list-output frame for each character of `text`, as a board prints it.
Bytes ListOutput(std::string_view text);
// `first`, then `second`.
Bytes Plus(Bytes first, const Bytes& second);

}  // namespace bytes

}  // namespace mirte::testing
