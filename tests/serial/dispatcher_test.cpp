#include "serial/dispatcher.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <thread>

#include "serial/port_rig.h"
#include "serial/serial_dispatcher.h"

namespace mirte {
namespace {

using namespace std::chrono_literals;
using testing::PortRig;

// Reads what the board side has, up to `limit` bytes, waiting at most a millisecond.
void readAvailable(int fd, std::size_t limit, std::vector<std::uint8_t>& into) {
  pollfd p{fd, POLLIN, 0};
  if (::poll(&p, 1, 1) <= 0) return;
  std::uint8_t buffer[4096];
  ssize_t got = ::read(fd, buffer, std::min(limit, sizeof buffer));
  if (got > 0) into.insert(into.end(), buffer, buffer + got);
}

struct Announcements {
  std::vector<std::uint16_t> counts;
  std::vector<std::uint8_t> bytes;
};

TEST(Dispatcher, BytesLeftUnreadAreAnnouncedAgainWithoutWaitingForLaterBytes) {
  PortRig rig;
  Announcements seen;
  std::size_t readPerCall = 2;
  rig.port.SetOnTriggerAvail([&](TCustomComPort& port, std::uint16_t count) {
    seen.counts.push_back(count);
    for (std::size_t i = 0; i < readPerCall && port.InputReady(); ++i) seen.bytes.push_back(port.ReadChar());
  });
  rig.port.SetOpen(true);

  rig.board.write("abcde");
  ASSERT_TRUE(rig.pumpUntil([&] { return seen.bytes.size() == 5; }));
  EXPECT_EQ(seen.counts, (std::vector<std::uint16_t>{5, 3, 1})) << "each announcement counts what is still unread";
  rig.queue.PumpFor(150ms);
  EXPECT_EQ(seen.counts.size(), 3u) << "nothing unread, nothing announced";

  readPerCall = 100;
  rig.board.write("fg");
  ASSERT_TRUE(rig.pumpUntil([&] { return seen.counts.size() == 4; }));
  EXPECT_EQ(seen.counts[3], 2);
  EXPECT_EQ(std::string(seen.bytes.begin(), seen.bytes.end()), "abcdefg");
  auto* dispatcher = rig.port.CurrentDispatcher();
  // The worker moves the read position once the handler has returned.
  EXPECT_TRUE(rig.pumpUntil([&] { return dispatcher->InBuffFree() == ReceiveBufferSize; }));
  EXPECT_EQ(dispatcher->InBuffUsed(), 0u);
  EXPECT_FALSE(dispatcher->CharReady());
}

TEST(Dispatcher, HandlerReadsArePrivateUntilTheHandlerReturns) {
  PortRig rig;
  std::vector<std::uint32_t> usedInside;
  rig.port.SetOnTriggerAvail([&](TCustomComPort& port, std::uint16_t) {
    auto* dispatcher = port.CurrentDispatcher();
    std::uint8_t peeked = 0;
    EXPECT_EQ(dispatcher->PeekChar(2, peeked), 0);
    EXPECT_EQ(peeked, '2');
    std::uint8_t block[3];
    EXPECT_EQ(dispatcher->GetBlock(block, 3), 3);
    EXPECT_EQ(std::string(block, block + 3), "123");
    EXPECT_EQ(dispatcher->GetBlock(block, 3), ecBufferIsEmpty) << "all or nothing";
    usedInside.push_back(dispatcher->InBuffUsed());
    usedInside.push_back(dispatcher->InBuffFree());
  });
  rig.port.SetOpen(true);
  rig.board.write("1234");
  ASSERT_TRUE(rig.pumpUntil([&] { return usedInside.size() == 2; }));
  EXPECT_EQ(usedInside[0], 1u);
  EXPECT_EQ(usedInside[1], ReceiveBufferSize - 4) << "nothing leaves the ring during the handler";
  ASSERT_TRUE(rig.pumpUntil([&] { return rig.port.CurrentDispatcher()->InBuffUsed() == 1; }));
  EXPECT_EQ(rig.port.ReadChar(), '4');
}

TEST(Dispatcher, AFullRingLeavesTheRestInTheDriverUntilTheProgramReads) {
  PortRig rig;
  bool hold = true;
  std::vector<std::uint8_t> received;
  rig.port.SetOnTriggerAvail([&](TCustomComPort& port, std::uint16_t) {
    while (!hold && port.InputReady()) received.push_back(port.ReadChar());
  });
  rig.port.SetOpen(true);
  auto* dispatcher = rig.port.CurrentDispatcher();
  auto sent = testing::patternBytes(10000);
  rig.board.write(sent);
  ASSERT_TRUE(rig.pumpUntil([&] { return dispatcher->InBuffUsed() == ReceiveBufferSize; }));
  rig.queue.PumpFor(120ms);
  EXPECT_EQ(dispatcher->InBuffUsed(), ReceiveBufferSize);
  EXPECT_TRUE(dispatcher->CharReady());

  hold = false;
  // Outside a handler the reads free the ring at once; the rest then comes in and is
  // announced to the handler, which now reads everything.
  while (rig.port.InputReady()) received.push_back(rig.port.ReadChar());
  EXPECT_GE(received.size(), ReceiveBufferSize);
  ASSERT_TRUE(rig.pumpUntil([&] { return received.size() >= sent.size(); }))
      << received.size() << " of " << sent.size();
  EXPECT_EQ(received, sent) << "every byte once, in order";
}

TEST(Dispatcher, DiscardingInputInsideTheHandlerConsumesEveryUnreadByte) {
  PortRig rig;
  std::vector<std::uint16_t> counts;
  rig.port.SetOnTriggerAvail([&](TCustomComPort& port, std::uint16_t count) {
    counts.push_back(count);
    if (counts.size() == 1) {
      port.ReadChar();
      port.DiscardInput();
      EXPECT_FALSE(port.InputReady());
    } else {
      while (port.InputReady()) port.ReadChar();
    }
  });
  rig.port.SetOpen(true);
  rig.board.write("0123456789");
  ASSERT_TRUE(rig.pumpUntil([&] { return counts.size() == 1; }));
  ASSERT_TRUE(rig.pumpUntil([&] { return rig.port.CurrentDispatcher()->InBuffUsed() == 0; }));
  rig.board.write("x");
  ASSERT_TRUE(rig.pumpUntil([&] { return counts.size() == 2; }));
  EXPECT_EQ(counts[1], 1) << "the discarded bytes are not announced again";
}

TEST(Dispatcher, OutputThatWrapsTheRingLeavesOnceAndInOrder) {
  PortRig rig;
  rig.port.SetOutSize(61);  // an odd size, so blocks wrap at every position
  rig.port.SetOpen(true);
  // Hundreds of turns of the ring at every position; more only measures how slowly a
  // loaded machine schedules the board and the output worker by turns.
  auto sent = testing::patternBytes(20000, 3);
  std::vector<std::uint8_t> received;
  std::size_t queued = 0, step = 0;
  auto deadline = std::chrono::steady_clock::now() + 20s;
  while (received.size() < sent.size() && std::chrono::steady_clock::now() < deadline) {
    if (queued < sent.size()) {
      std::uint32_t room = 61 - rig.port.OutputPending();
      std::size_t chunk = std::min<std::size_t>({room, sent.size() - queued, 1 + (step++ * 7) % 40});
      if (chunk > 0) {
        rig.port.WriteBlock(&sent[queued], static_cast<std::uint16_t>(chunk));
        queued += chunk;
      }
    }
    // The board reads in small bites, so the pty fills and the ring keeps partly written
    // data at every position.
    readAvailable(rig.board.master(), queued < sent.size() ? 173 : 4096, received);
  }
  ASSERT_EQ(received.size(), sent.size());
  EXPECT_EQ(received, sent);
  EXPECT_TRUE(rig.pumpUntil([&] { return rig.port.OutputPending() == 0; }));
}

// A main-thread wait for output to leave must end when the ring empties, not at its limit;
// a wake that comes before the wait is kept for it, and taken only once.
TEST(Dispatcher, TheMainThreadWaitEndsWhenTheOutputRingEmpties) {
  PortRig rig;
  rig.port.SetOpen(true);
  rig.queue.PumpFor(50ms);
  std::vector<std::uint8_t> record(128, 'r');
  for (int i = 0; i < 5; ++i) {
    rig.queue.WaitForMessages(0ms);  // a wake left from earlier output
    auto start = std::chrono::steady_clock::now();
    rig.port.WriteBlock(record.data(), static_cast<std::uint16_t>(record.size()));
    while (rig.port.OutputPending() != 0 && std::chrono::steady_clock::now() - start < 20s)
      rig.queue.WaitForMessages(20s);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);
    EXPECT_EQ(rig.port.OutputPending(), 0u);
    EXPECT_EQ(rig.board.read(128, 2000ms).size(), 128u);
  }
  rig.queue.PumpFor(20ms);  // takes a wake that came just after the ring was seen empty
  auto start = std::chrono::steady_clock::now();
  rig.queue.WaitForMessages(30ms);
  EXPECT_GE(std::chrono::steady_clock::now() - start, 25ms) << "the wake was taken by the wait it ended";
}

TEST(PlainMainThreadQueue, AWakeFromAnotherThreadEndsTheWaitWithoutAMessage) {
  TPlainMainThreadQueue queue;
  std::thread worker([&] {
    std::this_thread::sleep_for(20ms);
    queue.Wake();
  });
  auto start = std::chrono::steady_clock::now();
  queue.WaitForMessages(20s);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);
  worker.join();
  EXPECT_FALSE(queue.HandleOneMessage());
}

TEST(Dispatcher, ClosingWithAWritePendingOnAFullDeviceCompletes) {
  PortRig rig;
  rig.port.SetOpen(true);
  std::string chunk(4000, 'w');
  // The board never reads: the pty fills and the output worker waits for room.
  for (int i = 0; i < 200 && rig.port.OutputPending() < 3000; ++i) {
    if (4096 - rig.port.OutputPending() >= chunk.size()) rig.port.WriteString(chunk);
    rig.queue.PumpFor(1ms);
  }
  ASSERT_GT(rig.port.OutputPending(), 0u);
  rig.port.SetOpen(false);
  EXPECT_EQ(rig.port.PortState(), StateClosed);
}

TEST(Dispatcher, HandlesComeFromTheFirstFreeRegistrySlot) {
  auto a = std::make_unique<TSerialDispatcher>(nullptr);
  auto b = std::make_unique<TSerialDispatcher>(nullptr);
  auto c = std::make_unique<TSerialDispatcher>(nullptr);
  int handleB = b->Handle();
  EXPECT_EQ(b->Handle(), a->Handle() + 1);
  EXPECT_EQ(c->Handle(), b->Handle() + 1);
  b.reset();
  EXPECT_EQ(TBaseDispatcher::FindDispatcher(handleB), nullptr);
  auto d = std::make_unique<TSerialDispatcher>(nullptr);
  EXPECT_EQ(d->Handle(), handleB);
  EXPECT_EQ(TBaseDispatcher::FindDispatcher(handleB), d.get());
  EXPECT_EQ(TBaseDispatcher::FindDispatcher(-1), nullptr);
}

// Exposes the start of the workers, which a port never repeats.
class RestartingDispatcher : public TSerialDispatcher {
public:
  using TSerialDispatcher::StartWorkers;
  using TSerialDispatcher::TSerialDispatcher;
};

TEST(Dispatcher, RefusesASecondStartAndChecksItsSettings) {
  testing::PtyPair board;
  TPlainMainThreadQueue queue;
  RestartingDispatcher dispatcher(nullptr, &queue);
  ASSERT_EQ(dispatcher.InitPort(board.slavePath(), 115200, 3, 4096, 4096, 2, 8, 0), 0);
  EXPECT_THROW(dispatcher.StartWorkers(), std::logic_error);
  EXPECT_EQ(dispatcher.SetLineParams(0, TBaseDispatcher::KeepParity, 3, TBaseDispatcher::KeepDataBits), 0);
  EXPECT_EQ(dispatcher.SetLineParams(115200, 0, 2, 8), 0);
  EXPECT_EQ(dispatcher.LineSettings().StopBits, TwoStopBits);
  EXPECT_EQ(dispatcher.SetLineParams(9600, TBaseDispatcher::KeepParity, 1, TBaseDispatcher::KeepDataBits), 0);
  EXPECT_EQ(dispatcher.LineSettings().Baud, 9600);
  EXPECT_EQ(dispatcher.LineSettings().StopBits, OneStopBit);
  EXPECT_EQ(dispatcher.HWFlowOptions(100, 200, 0), ecBadArgument) << "resume above full";
  EXPECT_EQ(dispatcher.HWFlowOptions(5000, 10, 0), ecBadArgument) << "full above InSize";
  EXPECT_EQ(dispatcher.SetDTR(false), 0) << "a pty has no DTR line, yet the change succeeds";
  EXPECT_FALSE(dispatcher.DTRState());
  dispatcher.DonePort();
  EXPECT_FALSE(dispatcher.DeviceOpen());
}

}  // namespace
}  // namespace mirte

namespace mirte {
namespace {

TEST(Dispatcher, APtyCountsNoLineErrorsAndHoldsNoBytesBack) {
  testing::PortRig rig;
  rig.port.SetOpen(true);
  auto* dispatcher = rig.port.CurrentDispatcher();
  rig.board.write("abc");
  rig.pumpUntil([&] { return dispatcher->InBuffUsed() == 3; });
  EXPECT_EQ(dispatcher->LineErrorCounts(), TLineErrorCounts{});
  EXPECT_FALSE(dispatcher->AdapterHoldsBytesBack()) << "a driver without the low-latency flag is no adapter";
  EXPECT_EQ(dispatcher->ModemStatus() & 0xF0, 0) << "a pty has no modem lines to report";
}

}  // namespace
}  // namespace mirte
