#pragma once
// Result codes of the serial layer and the exceptions the port component turns them into.
// Inside the layer everything reports a negative code: a system error as -errno (always
// above -4096), the layer's own results below that range, so the two never meet; CheckException is the one place
// where a code becomes an exception. Texts come from the layer's own table, else from the
// operating system's text for the error number.
#include <stdexcept>
#include <string>

namespace mirte {

inline constexpr int ecOK = 0;
inline constexpr int ecOutOfMemory = -4008;
inline constexpr int ecBadArgument = -1002;
inline constexpr int ecBadId = -2001;
inline constexpr int ecCommNotOpen = -2007;
inline constexpr int ecAlreadyOpen = -2008;
inline constexpr int ecNoPortSelected = -2011;
inline constexpr int ecPutBlockFail = -3004;
inline constexpr int ecOutputBufferTooSmall = -3006;
inline constexpr int ecBufferIsEmpty = -3007;
// What the device layer answers for a device that another open holds and for a device
// that does not exist.
inline constexpr int ecDeviceBusy = -4005;
inline constexpr int ecNoDevice = -4002;
// The range of -errno results.
inline constexpr int ecLowestSystemError = -4095;

class ESerialException : public std::runtime_error {
public:
  ESerialException(int errorCode, const std::string& message) : std::runtime_error(message), code_(errorCode) {}
  int ErrorCode() const { return code_; }

private:
  int code_;
};

class EBadArgument : public ESerialException {
public:
  using ESerialException::ESerialException;
};
class EBadId : public ESerialException {
public:
  using ESerialException::ESerialException;
};
class ECommNotOpen : public ESerialException {
public:
  using ESerialException::ESerialException;
};
class EAlreadyOpen : public ESerialException {
public:
  using ESerialException::ESerialException;
};
class ENoPortSelected : public ESerialException {
public:
  using ESerialException::ESerialException;
};
class EPutBlockFail : public ESerialException {
public:
  using ESerialException::ESerialException;
};
class EOutputBufferTooSmall : public ESerialException {
public:
  using ESerialException::ESerialException;
};
class EBufferIsEmpty : public ESerialException {
public:
  using ESerialException::ESerialException;
};
// A failed system call of the open or setting calls; ErrorCode is the positive error number.
class EInOutError : public ESerialException {
public:
  using ESerialException::ESerialException;
};

// The message for a code: the layer's table by absolute value, else the system's text with
// control characters turned into blanks and runs of blanks reduced to one.
std::string ErrorMessage(int errorCode);

// Throws the exception for a negative code (std::bad_alloc for ecOutOfMemory); codes of 0 or above
// are returned unchanged.
int CheckException(int errorCode);

}  // namespace mirte
