#include "serial/ser_except.h"

#include <cstdlib>
#include <cstring>
#include <new>

namespace mirte {

namespace {

struct ErrorText {
  int Code;  // absolute value
  const char* Text;
};

constexpr ErrorText kErrorTexts[] = {
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

std::string SystemText(int error) {
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

std::string ErrorMessage(int errorCode) {
  int code = std::abs(errorCode);
  for (const auto& entry : kErrorTexts)
    if (entry.Code == code) return entry.Text;
  return SystemText(code);
}

int CheckException(int errorCode) {
  if (errorCode >= 0) return errorCode;
  switch (errorCode) {
    case ecOutOfMemory: throw std::bad_alloc();
    case ecBadArgument: throw EBadArgument(errorCode, ErrorMessage(errorCode));
    case ecBadId: throw EBadId(errorCode, ErrorMessage(errorCode));
    case ecCommNotOpen: throw ECommNotOpen(errorCode, ErrorMessage(errorCode));
    case ecAlreadyOpen: throw EAlreadyOpen(errorCode, ErrorMessage(errorCode));
    case ecNoPortSelected: throw ENoPortSelected(errorCode, ErrorMessage(errorCode));
    case ecPutBlockFail: throw EPutBlockFail(errorCode, ErrorMessage(errorCode));
    case ecOutputBufferTooSmall: throw EOutputBufferTooSmall(errorCode, ErrorMessage(errorCode));
    case ecBufferIsEmpty: throw EBufferIsEmpty(errorCode, ErrorMessage(errorCode));
    default: break;
  }
  if (errorCode >= ecLowestSystemError) throw EInOutError(-errorCode, ErrorMessage(errorCode));
  throw ESerialException(0, "Serial exception");
}

}  // namespace mirte
