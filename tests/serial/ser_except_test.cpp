#include "serial/ser_except.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <new>

namespace mirte {
namespace {

template <typename E>
void expectRaises(int code, const std::string& message, int carriedCode) {
  try {
    CheckException(code);
    ADD_FAILURE() << code << " raised nothing";
  } catch (const E& e) {
    EXPECT_EQ(std::string(e.what()), message) << code;
    EXPECT_EQ(e.ErrorCode(), carriedCode) << code;
  } catch (...) {
    ADD_FAILURE() << code << " raised the wrong exception";
  }
}

TEST(SerialExceptions, EachCodeRaisesItsOwnExceptionAndText) {
  expectRaises<EBadArgument>(-1002, "Bad argument passed to function", -1002);
  expectRaises<EBadId>(-2001, "Specified comport doesn't exist", -2001);
  expectRaises<ECommNotOpen>(-2007, "Device not open", -2007);
  expectRaises<EAlreadyOpen>(-2008, "Device already open", -2008);
  expectRaises<ENoPortSelected>(-2011, "The ComNumber property of the TComPort has not been set", -2011);
  expectRaises<EPutBlockFail>(-3004, "Failed to put entire block", -3004);
  expectRaises<EOutputBufferTooSmall>(-3006, "Output buffer too small for block", -3006);
  expectRaises<EBufferIsEmpty>(-3007, "Buffer is empty", -3007);
}

TEST(SerialExceptions, SystemErrorsCarryTheSystemTextAndThePositiveNumber) {
  expectRaises<EInOutError>(-EACCES, "Permission denied", EACCES);
  expectRaises<EInOutError>(-EIO, "Input/output error", EIO);
  expectRaises<EInOutError>(-ENOEXEC, "Exec format error", ENOEXEC);
  expectRaises<ESerialException>(-4096, "Serial exception", 0);
  EXPECT_THROW(CheckException(ecOutOfMemory), std::bad_alloc);
}

TEST(SerialExceptions, ResultsOfZeroOrAbovePassThrough) {
  EXPECT_EQ(CheckException(0), 0);
  EXPECT_EQ(CheckException(1), 1);
  EXPECT_EQ(CheckException(4096), 4096);
}

TEST(SerialExceptions, MessagesAreLookedUpByAbsoluteValue) {
  EXPECT_EQ(ErrorMessage(2008), "Device already open");
  EXPECT_EQ(ErrorMessage(-ENOENT), "No such file or directory");
}

}  // namespace
}  // namespace mirte
