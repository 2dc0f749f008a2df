#pragma once
// A file's board name from the 8 name bytes and 3 extension bytes of a name block, as the
// file service looks the file up and the monitor shows it. Blanks are skipped wherever they
// stand, extension bytes lose their flag bit, and trailing blanks and dots never reach the
// name (the board's own systems drop them too); "a" to "z" become upper case, every other
// byte is kept. With `wildcards`, a field that ends in a run of "?" from some point on
// stands for "anything": AB?????? becomes AB*, ??? becomes *. Without, "?" stays as sent.
#include <cstdint>
#include <span>
#include <string>

namespace mirte {

std::string BoardName(std::span<const std::uint8_t> name, std::span<const std::uint8_t> ext, bool wildcards);

}  // namespace mirte
