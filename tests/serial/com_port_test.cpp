#include "serial/com_port.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <termios.h>

#include "serial/dispatcher.h"
#include "serial/port_diagnosis.h"
#include "serial/port_rig.h"
#include "serial/tty_device.h"

namespace mirte {
namespace {

using namespace std::chrono_literals;
using testing::PortRig;

// Records the notifications a user window gets.
struct RecordingWindow : IMessageTarget {
  std::vector<std::uint32_t> messages;
  std::intptr_t HandleMessage(std::uint32_t Msg, std::uintptr_t, std::intptr_t) override {
    messages.push_back(Msg);
    return 0;
  }
};

// The main window's handler: read until nothing is left, toggling DTR after every byte.
void readAllTogglingDtr(TCustomComPort& port, std::vector<std::uint8_t>& into) {
  while (port.InputReady()) {
    into.push_back(port.ReadChar());
    port.SetDTR(!port.DTR());
  }
}

TEST(ComPort, ExchangesBytesWithTheBoardAndTogglesDtrPerByteOnAPty) {
  PortRig rig;
  std::vector<std::uint8_t> received;
  rig.port.SetOnTriggerAvail([&](TCustomComPort& port, std::uint16_t) { readAllTogglingDtr(port, received); });
  rig.port.SetOpen(true);
  ASSERT_TRUE(rig.port.Open());
  bool dtrBefore = rig.port.DTR();

  rig.board.write("hello board");
  ASSERT_TRUE(rig.pumpUntil([&] { return received.size() == 11; }));
  EXPECT_EQ(std::string(received.begin(), received.end()), "hello board");
  EXPECT_EQ(rig.port.DTR(), !dtrBefore) << "11 toggles leave DTR inverted";

  rig.port.WriteString("reply");
  rig.port.WriteChar('!');
  std::uint8_t block[] = {0, 0xFF, 0x10, 0x11};
  EXPECT_EQ(rig.port.WriteBlock(block, sizeof block), 0);
  auto out = rig.board.read(10, 2000ms);
  EXPECT_EQ(out, (std::vector<std::uint8_t>{'r', 'e', 'p', 'l', 'y', '!', 0, 0xFF, 0x10, 0x11}));
  EXPECT_TRUE(rig.pumpUntil([&] { return rig.port.OutputPending() == 0; }));
}

TEST(ComPort, AppliesLineSettingsToTheDriverIncludingArbitrarySpeeds) {
  PortRig rig;
  rig.port.SetOpen(true);
  termios tio{};
  ASSERT_EQ(tcgetattr(rig.board.master(), &tio), 0);
  EXPECT_EQ(cfgetospeed(&tio), static_cast<speed_t>(B115200));
  EXPECT_EQ(tio.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  EXPECT_TRUE(tio.c_cflag & CSTOPB);
  EXPECT_FALSE(tio.c_cflag & PARENB);
  EXPECT_FALSE(tio.c_cflag & CRTSCTS);

  // A pty keeps no parity, so only speed and stop bits can be seen from the board's side.
  rig.port.SetParity(pEven);
  rig.port.SetStopBits(1);
  rig.port.SetBaud(250000);
  EXPECT_EQ(TtyArbitrarySpeed(rig.board.master()), 250000);
  ASSERT_EQ(tcgetattr(rig.board.master(), &tio), 0);
  EXPECT_FALSE(tio.c_cflag & CSTOPB);
  EXPECT_EQ(rig.port.Parity(), pEven);
}

TEST(ComPort, FailedOpensLeaveThePortClosedWithTheirOwnException) {
  struct Case {
    const char* what;
    std::uint16_t com;
    int expectedCode;
  };
  for (const Case& c : {Case{"no port number", 0, ecNoPortSelected}, Case{"dangling link", 9, ecBadId},
                        Case{"no link, no device", 49, ecBadId}}) {
    SCOPED_TRACE(c.what);
    PortRig rig;
    rig.link(9, rig.folder / "no-such-device");
    rig.port.SetPromptForPort(false);
    rig.port.SetComNumber(c.com);
    try {
      rig.port.SetOpen(true);
      ADD_FAILURE() << "open succeeded";
    } catch (const ESerialException& e) {
      EXPECT_EQ(e.ErrorCode(), c.expectedCode);
    }
    EXPECT_FALSE(rig.port.Open());
    EXPECT_EQ(rig.port.CurrentDispatcher(), nullptr);
    EXPECT_THROW(rig.port.InputReady(), ECommNotOpen);
    EXPECT_THROW(rig.port.WriteChar('x'), ECommNotOpen);
    EXPECT_EQ(rig.port.OutputPending(), 0u);
  }
}

TEST(ComPort, AnInputOutputErrorAtOpenIsReportedAsItselfNotAsABusyPort) {
  // The slave of a pty whose master was never unlocked answers every open with EIO, as an
  // adapter does that goes away while it is being opened.
  int master = ::posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(master, 0);
  ASSERT_EQ(::grantpt(master), 0);
  const std::string slave = ::ptsname(master);
  PortRig rig;
  rig.link(PortRig::BoardCom, slave);
  try {
    rig.port.SetOpen(true);
    ADD_FAILURE() << "open succeeded";
  } catch (const EAlreadyOpen&) {
    ADD_FAILURE() << "reported as a port in use";
  } catch (const EInOutError& e) {
    EXPECT_EQ(e.ErrorCode(), EIO);
  }
  EXPECT_FALSE(rig.port.Open());
  const TPortDiagnosis why = DiagnosePort(PortRig::BoardCom);
  EXPECT_EQ(why.Fault, TPortFault::Other);
  EXPECT_EQ(why.Error, EIO);
  ::close(master);
}

TEST(ComPort, APortHeldByAnotherOpenIsRefusedButStillExists) {
  PortRig rig;
  rig.port.SetOpen(true);
  TComPort second(&rig.queue);
  second.SetComNumber(PortRig::BoardCom);
  second.SetAutoOpen(false);
  for (int attempt = 0; attempt < 3; ++attempt) {
    EXPECT_THROW(second.SetOpen(true), EAlreadyOpen);
    EXPECT_FALSE(second.Open());
  }
  EXPECT_TRUE(PortAvailable(PortRig::BoardCom));
  EXPECT_TRUE(rig.port.Open()) << "the probe must not disturb the open port";

  rig.port.SetOpen(false);
  second.SetOpen(true);
  EXPECT_TRUE(second.Open());
}

TEST(ComPort, PromptsForAPortWhenNoneIsSet) {
  PortRig rig;
  rig.port.SetComNumber(0);
  int asked = 0;
  rig.port.SetPortPrompt([&] {
    ++asked;
    return 0;
  });
  EXPECT_THROW(rig.port.SetOpen(true), ENoPortSelected);
  rig.port.SetPortPrompt([&] {
    ++asked;
    return PortRig::BoardCom;
  });
  rig.port.SetOpen(true);
  EXPECT_EQ(asked, 2);
  EXPECT_TRUE(rig.port.Open());
  EXPECT_EQ(rig.port.ComNumber(), PortRig::BoardCom);
}

TEST(ComPort, OpensOnceClosesOnceAndTellsUserWindowsInOrder) {
  PortRig rig;
  RecordingWindow window;
  int opened = 0, closed = 0;
  rig.port.AddUserWindow(&window);
  rig.port.SetOnPortOpen([&](TCustomComPort&) { ++opened; });
  rig.port.SetOnPortClose([&](TCustomComPort&) { ++closed; });
  rig.port.SetOpen(true);
  rig.port.SetOpen(true);
  rig.port.SetOpen(false);
  rig.port.SetOpen(false);
  EXPECT_EQ(opened, 1);
  EXPECT_EQ(closed, 1);
  EXPECT_EQ(window.messages, (std::vector<std::uint32_t>{PortOpenedMsg, PortClosingMsg, PortClosedMsg}));
  rig.port.RemoveUserWindow(&window);
  rig.port.SetOpen(true);
  EXPECT_EQ(window.messages.size(), 3u);
}

TEST(ComPort, AutoOpenOpensOnTheFirstOperation) {
  PortRig rig;
  rig.port.SetAutoOpen(true);
  EXPECT_FALSE(rig.port.InputReady());
  EXPECT_TRUE(rig.port.Open());
}

TEST(ComPort, WritesThatDoNotFitQueueNothing) {
  PortRig rig;
  rig.port.SetOpen(true);
  EXPECT_THROW(rig.port.WriteString(std::string(4097, 'x')), EOutputBufferTooSmall);
  EXPECT_EQ(rig.port.OutputPending(), 0u);
  EXPECT_TRUE(rig.board.read(1, 100ms).empty()) << "nothing of the refused block may reach the board";

  auto bytes = testing::patternBytes(4096);
  rig.port.WriteString(std::string(bytes.begin(), bytes.end()));
  EXPECT_EQ(rig.board.read(4096, 3000ms), bytes);
}

TEST(ComPort, ReadingAnEmptyBufferRaisesAndInputReadyIsFalse) {
  PortRig rig;
  rig.port.SetOpen(true);
  EXPECT_FALSE(rig.port.InputReady());
  EXPECT_THROW(rig.port.ReadChar(), EBufferIsEmpty);
}

TEST(ComPort, DtrUnderHardwareFlowKeepsItsState) {
  PortRig rig;
  rig.port.SetHWFlowOptions(hwfUseDTR);
  EXPECT_EQ(rig.port.BufferFull(), 3686);
  EXPECT_EQ(rig.port.BufferResume(), 410);
  rig.port.SetOpen(true);
  bool before = rig.port.DTR();
  rig.port.SetDTR(!before);
  EXPECT_EQ(rig.port.DTR(), before);
  rig.port.SetHWFlowOptions(0);
  rig.port.SetDTR(!before);
  EXPECT_EQ(rig.port.DTR(), !before);
}

TEST(ComPort, SoftwareFlowDerivesItsThresholdsAndReachesTheDriver) {
  PortRig rig;
  rig.port.SetSWFlowOptions(swfBoth);
  EXPECT_EQ(rig.port.BufferFull(), 3072);
  EXPECT_EQ(rig.port.BufferResume(), 1024);
  rig.port.SetOpen(true);
  termios tio{};
  ASSERT_EQ(tcgetattr(rig.board.master(), &tio), 0);
  EXPECT_TRUE(tio.c_iflag & IXON);
  EXPECT_TRUE(tio.c_iflag & IXOFF);
  rig.port.SetSWFlowOptions(swfNone);
  ASSERT_EQ(tcgetattr(rig.board.master(), &tio), 0);
  EXPECT_FALSE(tio.c_iflag & (IXON | IXOFF));
}

TEST(ComPort, ClosingFromInsideTheHandlerCompletesAfterItReturns) {
  PortRig rig;
  int closedEvents = 0;
  bool openInsideHandlerAfterClose = false;
  rig.port.SetOnPortClose([&](TCustomComPort&) { ++closedEvents; });
  rig.port.SetOnTriggerAvail([&](TCustomComPort& port, std::uint16_t) {
    port.SetOpen(false);
    openInsideHandlerAfterClose = port.Open();
    EXPECT_FALSE(port.InputReady()) << "a closing port reads nothing";
    EXPECT_EQ(port.ReadChar(), 0);
    port.WriteChar('x');  // ignored while closing
  });
  rig.port.SetOpen(true);
  rig.board.write("x");
  ASSERT_TRUE(rig.pumpUntil([&] { return closedEvents == 1; }));
  EXPECT_TRUE(openInsideHandlerAfterClose) << "Open stays true until the deferred close has run";
  ASSERT_TRUE(rig.pumpUntil([&] { return rig.port.PortState() == StateClosed; }));
  EXPECT_FALSE(rig.port.Open());
  EXPECT_TRUE(rig.board.read(1, 100ms).empty());

  rig.port.SetOnTriggerAvail({});
  rig.port.SetOpen(true);
  EXPECT_TRUE(rig.port.Open()) << "the device was released by the deferred close";
}

TEST(ComPort, AnOpenAskedForDuringADeferredCloseHappensAfterIt) {
  PortRig rig;
  rig.port.SetOnTriggerAvail([&](TCustomComPort& port, std::uint16_t) {
    port.SetOnTriggerAvail({});
    port.SetComNumber(PortRig::BoardCom);  // unchanged: nothing happens
    port.SetOpen(false);
  });
  rig.port.SetOpen(true);
  rig.board.write("x");
  ASSERT_TRUE(rig.pumpUntil([&] { return rig.port.PortState() == StateClosing; }));
  rig.port.SetOpen(false);
  ASSERT_TRUE(rig.pumpUntil([&] { return rig.port.PortState() == StateClosed; }));
  rig.port.SetOpen(true);
  EXPECT_EQ(rig.port.PortState(), StateOpen);
}

TEST(ComPort, ChangingComNumberWhileOpenReopensOnTheNewDevice) {
  PortRig rig;
  testing::PtyPair other;
  rig.link(8, other.slavePath());
  std::vector<std::uint8_t> received;
  rig.port.SetOnTriggerAvail([&](TCustomComPort& port, std::uint16_t) { readAllTogglingDtr(port, received); });
  rig.port.SetOpen(true);
  rig.port.SetComNumber(8);
  EXPECT_TRUE(rig.port.Open());
  other.write("B");
  ASSERT_TRUE(rig.pumpUntil([&] { return received.size() == 1; }));
  EXPECT_EQ(received[0], 'B');
  TComPort again(&rig.queue);
  again.SetComNumber(PortRig::BoardCom);
  again.SetOpen(true);
  EXPECT_TRUE(again.Open()) << "the old device was closed";
}

TEST(ComPort, AssignCopiesTheConfigurationOfAnOpenPortAndStaysClosed) {
  PortRig rig;
  RecordingWindow window;
  rig.port.AddUserWindow(&window);
  rig.port.SetBaud(57600);
  rig.port.SetParity(pOdd);
  rig.port.SetTapiMode(tmOff);
  rig.port.SetTraceName("X.TRC");
  int avails = 0;
  rig.port.SetOnTriggerAvail([&](TCustomComPort&, std::uint16_t) { ++avails; });
  rig.port.SetOpen(true);

  TComPort carrier;
  carrier.Assign(rig.port);
  EXPECT_FALSE(carrier.Open());
  EXPECT_EQ(carrier.ComNumber(), PortRig::BoardCom);
  EXPECT_EQ(carrier.Baud(), 57600);
  EXPECT_EQ(carrier.Parity(), pOdd);
  EXPECT_EQ(carrier.StopBits(), 2);
  EXPECT_EQ(carrier.TapiMode(), tmOff);
  EXPECT_EQ(carrier.TraceName(), "X.TRC");
  EXPECT_FALSE(carrier.AutoOpen());
  EXPECT_TRUE(static_cast<bool>(carrier.OnTriggerAvail()));

  rig.port.SetOpen(false);
  carrier.SetMainThreadQueue(&rig.queue);
  carrier.SetOpen(true);
  window.messages.clear();
  rig.board.write("z");
  ASSERT_TRUE(rig.pumpUntil([&] { return avails == 1; })) << "the copied triggers announce data";
  carrier.SetOpen(false);
  EXPECT_EQ(window.messages, (std::vector<std::uint32_t>{PortClosingMsg, PortClosedMsg}))
      << "the user list was copied";
}

TEST(ComPort, PropertiesStartAtTheirDefaultsAndBoundWhatTheyMust) {
  TComPort port;
  EXPECT_EQ(port.DeviceLayer(), dlWin32);
  EXPECT_EQ(port.ComNumber(), 0);
  EXPECT_EQ(port.Baud(), 19200);
  EXPECT_TRUE(port.PromptForPort());
  EXPECT_EQ(port.DataBits(), 8);
  EXPECT_EQ(port.StopBits(), 1);
  EXPECT_EQ(port.InSize(), 4096);
  EXPECT_EQ(port.OutSize(), 4096);
  EXPECT_TRUE(port.AutoOpen());
  EXPECT_TRUE(port.DTR());
  EXPECT_TRUE(port.RTS());
  EXPECT_EQ(port.XOnChar(), 17);
  EXPECT_EQ(port.XOffChar(), 19);
  EXPECT_EQ(port.TraceName(), "SERIAL.TRC");
  EXPECT_EQ(port.LogName(), "SERIAL.LOG");
  EXPECT_EQ(port.TapiMode(), tmAuto);
  EXPECT_EQ(port.CommNotificationLevel(), 10);

  port.SetDeviceLayer(dlWinsock);
  EXPECT_EQ(port.DeviceLayer(), dlWin32);
  port.SetTraceSize(5000000);
  EXPECT_EQ(port.TraceSize(), 4000000u);
  port.SetLogSize(20000000);
  EXPECT_EQ(port.LogSize(), 16000000u);
  port.SetHWFlowOptions(hwfUseRTS | hwfRequireDSR);
  port.SetRS485Mode(true);
  EXPECT_EQ(port.HWFlowOptions(), hwfRequireDSR);
  EXPECT_FALSE(port.RTS());
  port.SetHWFlowOptions(hwfRequireCTS);
  EXPECT_FALSE(port.RS485Mode());
}

TEST(ComPort, ExceptionsOfAHandlerReachTheExceptionHandler) {
  PortRig rig;
  std::string seen;
  rig.port.SetExceptionHandler([&](std::exception_ptr error) {
    try {
      std::rethrow_exception(error);
    } catch (const std::exception& e) {
      seen = e.what();
    }
  });
  rig.port.SetOnTriggerAvail([&](TCustomComPort& port, std::uint16_t) {
    while (true) port.ReadChar();  // reads past the end: EBufferIsEmpty
  });
  rig.port.SetOpen(true);
  rig.board.write("ab");
  ASSERT_TRUE(rig.pumpUntil([&] { return !seen.empty(); }));
  EXPECT_EQ(seen, "Buffer is empty");
}

}  // namespace
}  // namespace mirte

namespace mirte {
namespace {

TEST(ComPort, AnOpenStoredWhileLoadingHappensWhenLoadingEnds) {
  testing::PortRig rig;
  rig.port.BeginLoading();
  rig.port.SetOpen(true);
  EXPECT_FALSE(rig.port.Open());
  rig.port.Loaded();
  EXPECT_TRUE(rig.port.Open());

  TComPort broken(&rig.queue);
  broken.SetComNumber(49);  // nothing behind it
  int reported = 0;
  broken.SetExceptionHandler([&](std::exception_ptr) { ++reported; });
  broken.BeginLoading();
  broken.SetOpen(true);
  broken.Loaded();
  EXPECT_EQ(reported, 1);
  EXPECT_FALSE(broken.Open());
}

}  // namespace
}  // namespace mirte

namespace mirte {
namespace {

TEST(ComPort, DestroyingAnOpenPortWithAnnouncementPendingCallsNobody) {
  testing::PtyPair board;
  testing::TempFolder folder;
  std::filesystem::create_directory(folder / "dosdevices");
  SetComDevicesFolder(folder / "dosdevices");
  std::filesystem::create_symlink(board.slavePath(), folder / "dosdevices" / "com5");
  TPlainMainThreadQueue queue;
  int calls = 0;
  {
    TComPort port(&queue);
    port.SetComNumber(5);
    port.SetOnTriggerAvail([&](TCustomComPort&, std::uint16_t) { ++calls; });
    port.SetOnPortClose([&](TCustomComPort&) { ++calls; });
    port.SetOpen(true);
    board.write("pending");
    // Wait until the announcement is on its way, then destroy the port under it.
    queue.WaitForMessages(std::chrono::milliseconds(2000));
  }
  queue.ProcessMessages();
  EXPECT_EQ(calls, 0);
}

}  // namespace
}  // namespace mirte
