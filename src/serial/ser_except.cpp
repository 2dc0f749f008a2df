#include "serial/ser_except.h"

#include <cstdlib>
#include <cstring>
#include <new>

namespace mirte {

namespace {

struct ErrorText {
  int code;  // absolute value
  const char* text;
};

constexpr ErrorText errorTexts[] = {
    {1002, "Bad argument passed to function"},
    {2001, "Specified comport doesn't exist"},
    {2007, "Device not open"},
    {2008, "Device already open"},
    {2011, "The ComNumber property of the TComPort has not been set"},
    {3004, "Failed to put entire block"},
    {3006, "Output buffer too small for block"},
    {3007, "Buffer is empty"},
    {4002, "The device does not exist"},
    {4005, "The device is held by another open"},
};

std::string systemText(int error) {
  char buffer[256] = {};
  // The GNU strerror_r may return a static string instead of filling the buffer.
  const char* text = strerror_r(error, buffer, sizeof buffer);
  std::string cleaned;
  for (const char* p = text; *p; ++p) {
    char c = static_cast<unsigned char>(*p) < 32 ? ' ' : *p;
    if (c == ' ' && !cleaned.empty() && cleaned.back() == ' ') continue;
    cleaned += c;
  }
  while (!cleaned.empty() && cleaned.back() == ' ') cleaned.pop_back();
  return cleaned;
}

}  // namespace

std::string ErrorMessage(int ErrorCode) {
  int code = std::abs(ErrorCode);
  for (const auto& entry : errorTexts)
    if (entry.code == code) return entry.text;
  return systemText(code);
}

int CheckException(int ErrorCode) {
  if (ErrorCode >= 0) return ErrorCode;
  switch (ErrorCode) {
    case ecOutOfMemory: throw std::bad_alloc();
    case ecBadArgument: throw EBadArgument(ErrorCode, ErrorMessage(ErrorCode));
    case ecBadId: throw EBadId(ErrorCode, ErrorMessage(ErrorCode));
    case ecCommNotOpen: throw ECommNotOpen(ErrorCode, ErrorMessage(ErrorCode));
    case ecAlreadyOpen: throw EAlreadyOpen(ErrorCode, ErrorMessage(ErrorCode));
    case ecNoPortSelected: throw ENoPortSelected(ErrorCode, ErrorMessage(ErrorCode));
    case ecPutBlockFail: throw EPutBlockFail(ErrorCode, ErrorMessage(ErrorCode));
    case ecOutputBufferTooSmall: throw EOutputBufferTooSmall(ErrorCode, ErrorMessage(ErrorCode));
    case ecBufferIsEmpty: throw EBufferIsEmpty(ErrorCode, ErrorMessage(ErrorCode));
    default: break;
  }
  if (ErrorCode >= ecLowestSystemError) throw EInOutError(-ErrorCode, ErrorMessage(ErrorCode));
  throw ESerialException(0, "Serial exception");
}

}  // namespace mirte
