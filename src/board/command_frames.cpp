// The frame collector, the executor and the replies: the states that follow DLE DC1.
#include <sched.h>
#include <time.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "common/line_texts.h"
#include "common/msg_table.h"
#include "board/board_service.h"
#include "board/frame_types.h"

namespace mirte {

namespace {

constexpr int kMsgWait = 22;  // "ATTENDERE !" / "WAIT !"

// Parameter bytes of each served type, -1 for a type that is not served (the frame ends
// at its type byte).
int ParameterCount(std::uint8_t type) {
  const TFrameKind* kind = FindFrameKind(type);
  return kind ? kind->ParamBytes : -1;
}

bool CarriesRecord(std::uint8_t type) {
  const TFrameKind* kind = FindFrameKind(type);
  return kind && kind->RecordIn;
}

// Waits until the steady clock reaches `deadline`, never less. The board turns its line
// around until then, so the wait must not end early; it should not end much later either,
// since every reply pays it. The thread sleeps to shortly before the deadline (an
// interrupted sleep sleeps on to the same point) and yields for the last stretch, which a
// sleep's wake-up latency would otherwise overshoot.
void SleepUntil(std::chrono::steady_clock::time_point deadline) {
  using namespace std::chrono;
  constexpr nanoseconds kLastStretch{250000};
  const time_point wakeAt = deadline - kLastStretch;
  if (wakeAt > steady_clock::now()) {
    // The steady clock is CLOCK_MONOTONIC, which lets the sleep be absolute.
    const auto sinceEpoch = duration_cast<nanoseconds>(wakeAt.time_since_epoch()).count();
    timespec until{static_cast<time_t>(sinceEpoch / 1000000000), static_cast<long>(sinceEpoch % 1000000000)};
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr) == EINTR) {
    }
  }
  while (steady_clock::now() < deadline) sched_yield();
}

}  // namespace

void TBoardService::ComPortTriggerAvail() {
  // A delivery that arrives while a reply wait inside this loop handles window messages
  // would feed its bytes to a frame still being answered, where they would be dropped. It
  // reads nothing: the loop below takes them once the reply has left, and the port
  // announces bytes a delivery leaves unread again.
  if (receiving_) return;
  receiving_ = true;
  struct EndOfLoop {
    bool& Flag;
    ~EndOfLoop() { Flag = false; }
  } endOfLoop{receiving_};
  if (port_) {
    std::uint8_t byte;
    while (port_->ReadChar(byte)) {
      // The board watches DTR change with every byte the PC takes, dropped bytes included.
      port_->SetDTR(!port_->DTR());
      ProcessBoardByte(byte);
      if (!port_->InputReady()) break;
    }
  }
  window_.Flags().DataSeen = true;
  window_.RestartDeSelectTimer();
}

void TBoardService::ProcessCommandByte(std::uint8_t byte) {
  if (FrameCutOffBySilence()) {
    AbandonSilentFrame();
    ProcessBoardByte(byte);
    return;
  }
  switch (state) {
    case CommandType:
      commandType = byte;
      ExecuteCommand();
      break;
    case Parameters:
      if (paramIndex < kParamBufferSize) paramBuffer[paramIndex++] = byte;
      if (paramIndex >= paramCount) {
        state = Data;
        ExecuteCommand();
      }
      break;
    case Data:
      if (dataIndex < kRecordSize) recordBuffer[dataIndex++] = byte;
      if (dataIndex >= dataCount) {
        state = Executing;
        ExecuteCommand();
      }
      break;
    default:  // Executing: bytes that arrive while a command runs are dropped
      break;
  }
}

void TBoardService::ExecuteCommand() {
  if (state == CommandType) {
    savedStatusMessage = StatusMessageShown();
    int count = ParameterCount(commandType);
    if (count > 0) {
      paramCount = static_cast<std::uint8_t>(count);
      paramIndex = 0;
      state = Parameters;
    } else {
      state = count == 0 ? Executing : Console;
      if (state == Console && observer_) ReportUnservedFrame();
    }
  }
  if (state == Data) {
    if (CarriesRecord(commandType)) {
      ShowMessage(kMsgWait);
      dataCount = static_cast<std::uint8_t>(kRecordSize);
      dataIndex = 0;
    } else {
      state = Executing;
    }
  }
  if (state == Executing) {
    const auto lastByte = LastByteTime();
    if (observer_) OpenFrameReport(lastByte);
    // The board needs the delay to turn its line around before a reply, and only then:
    // the command itself is carried out at once, and a frame without a reply (list
    // output above all) never waits, or a listing at line rate would outrun the buffers.
    replyDue_ = lastByte + replyDelay_;
    RestoreStatusMessage();
    replyLength_ = 0;
    replyCarriesRecord_ = false;
    CarryOutCommand();
    SendReply();
    if (reportOpen_) CloseFrameReport();
    // A reset during a reply that pumped events has already left this frame; whatever
    // the board began since then is not cut short.
    if (state == Executing) state = Console;
  }
}

// When the frame's last byte came in, as near as the port can tell: the turn-around wait
// counts from there, not from when this loop reached the byte, since delivery to the main
// thread takes time of its own. The port's newest read came after that byte, so a wait
// counted from it is never shorter than the board needs.
std::chrono::steady_clock::time_point TBoardService::LastByteTime() {
  const auto now = std::chrono::steady_clock::now();
  const auto received = port_ ? port_->LastReceiveTime() : std::chrono::steady_clock::time_point{};
  if (received == std::chrono::steady_clock::time_point{} || received > now) return now;
  return received;
}

void TBoardService::CarryOutCommand() {
  // Only served types reach this point: the collector ends every other frame at its type.
  switch (static_cast<TFrameType>(commandType)) {
    case TFrameType::Print:
      listOutput_.ListOutput(paramBuffer[0]);
      break;
    case TFrameType::DiskReset:
      break;
    case TFrameType::SelectDrive:
      fileService_.SelectBoardDrive();
      break;
    case TFrameType::Open:
      SendResult(fileService_.OpenBoardFile());
      break;
    case TFrameType::Close:
      SendResult(fileService_.CloseBoardFile());
      break;
    case TFrameType::SearchFirst:
      SendResult(fileService_.SearchFirstFile());
      SendParamBytes(12);
      break;
    case TFrameType::SearchNext:
      SendResult(fileService_.SearchNextFile());
      SendParamBytes(12);
      break;
    case TFrameType::Delete:
      SendResult(fileService_.DeleteBoardFiles());
      break;
    case TFrameType::ReadNext:
      SendResult(fileService_.ReadNextRecord());
      SendRecord();
      break;
    case TFrameType::WriteNext:
      SendResult(fileService_.WriteNextRecord());
      break;
    case TFrameType::Make:
      SendResult(fileService_.MakeBoardFile());
      break;
    case TFrameType::Rename:
      SendResult(fileService_.RenameBoardFile());
      break;
    case TFrameType::DriveVector: {
      std::uint16_t vector = fileService_.GetDriveVector();
      const std::uint8_t reply[2] = {static_cast<std::uint8_t>(vector), static_cast<std::uint8_t>(vector >> 8)};
      SendBytes(reply, sizeof reply);
      break;
    }
    case TFrameType::CurrentDrive:
      SendResult(fileService_.GetCurrentDrive());
      break;
    case TFrameType::ReadOnlyDrives: {
      const std::uint8_t noReadOnlyDrives[2] = {0, 0};
      SendBytes(noReadOnlyDrives, sizeof noReadOnlyDrives);
      break;
    }
    case TFrameType::Attributes:
      SendResult(fileService_.SetBoardFileAttr());
      break;
    case TFrameType::ReadRandom:
      SendResult(fileService_.ReadRandomRecord());
      SendRecord();
      break;
    case TFrameType::WriteRandom:
      SendResult(fileService_.WriteRandomRecord());
      break;
    case TFrameType::FileSize:
      fileService_.ComputeFileSize();
      SendParamBytes(3);
      break;
    case TFrameType::CurrentRecord:
      fileService_.GetCurrentRecord();
      SendParamBytes(3);
      break;
    case TFrameType::UserNumber:     // always 0
    case TFrameType::ResetDrives:    // nothing to do
    case TFrameType::WriteZeroFill:  // not served, reported as done
      SendResult(0);
      break;
  }
}

void TBoardService::SendBytes(const std::uint8_t* data, std::size_t size) {
  size = std::min(size, sizeof reply_ - replyLength_);
  std::memcpy(reply_ + replyLength_, data, size);
  replyLength_ += size;
}

void TBoardService::SendResult(std::uint8_t result) {
  SendBytes(&result, 1);
}

void TBoardService::SendParamBytes(std::size_t count) {
  SendBytes(paramBuffer, count);
}

void TBoardService::SendRecord() {
  SendBytes(recordBuffer, kRecordSize);
  replyCarriesRecord_ = true;
}

bool TBoardService::SendReply() {
  if (replyLength_ == 0) return true;
  // The status line changes while the board waits for its delay, not after it: every
  // microsecond after the delay is paid by the reply.
  if (replyCarriesRecord_) {
    savedStatusMessage = StatusMessageShown();
    ShowMessage(kMsgWait);
  }
  SleepUntil(replyDue_);
  if (!replyCarriesRecord_) {
    bool queued = port_ && port_->WriteBlock(reply_, replyLength_);
    if (queued && reportOpen_) ReportReply();
    return queued;
  }

  bool queued = port_ && port_->WriteBlock(reply_, replyLength_);
  if (queued && reportOpen_) ReportReply();
  if (queued) {
    // A reply sent from inside another wait (a user string, a nested frame) must not end
    // that wait's busy state.
    TShellFlags& flags = window_.Flags();
    bool wasBusy = flags.TxBusy;
    flags.TxBusy = true;
    while (!flags.CloseRequested && port_->OutputPending() != 0) {
      port_->ServicePort();
      window_.WaitForPortNews();
      // A record normally leaves within microseconds. Events (a paint of the status line
      // above all) are handled only when it has not: handled at once, they would take the
      // processor from the output worker and the board while the reply is on its way.
      if (port_->OutputPending() == 0) break;
      window_.ProcessPendingEvents();
    }
    flags.TxBusy = wasBusy;
  }
  RestoreStatusMessage();
  return queued;
}

bool TBoardService::FrameCutOffBySilence() {
  // A lost byte would otherwise let the board's next frame complete this one, and a
  // command line could end up written to a file as a record. Silence counts only when the
  // previous frame byte left nothing waiting, in the port or still in the device, so bytes
  // that merely waited for a busy window or a port held up by a loaded machine are never
  // taken for a pause of the board. The device is asked only once the port runs dry.
  const bool midFrame = state == Parameters || state == Data;
  const bool waitedDry = midFrame && frameStarved_;
  frameStarved_ = port_ && !port_->InputReady() && !port_->InputOnTheWay();
  // A byte's time counts only after a byte that left the port dry, so the clock is read
  // only for such bytes and for the byte just after one.
  if (!waitedDry && !frameStarved_) return false;
  const auto received = LastByteTime();
  const bool silent = waitedDry && received - frameByteReceived_ > kFrameSilenceLimit;
  frameByteReceived_ = received;
  return silent;
}

bool TBoardService::AbandonFrameIfSilent(std::chrono::steady_clock::time_point now) {
  const bool midFrame = state == Parameters || state == Data;
  if (!midFrame || receiving_ || !frameStarved_ || (port_ && (port_->InputReady() || port_->InputOnTheWay())))
    return false;
  if (now - frameByteReceived_ <= kFrameSilenceLimit) return false;
  AbandonSilentFrame();
  return true;
}

void TBoardService::AbandonSilentFrame() {
  AbandonFrame();
  window_.SetStatusText(std::string(kFrameAbandoned.Pick(window_.Language())));
}

void TBoardService::ShowMessage(int index) {
  window_.SetStatusText(MsgTable(window_.Language(), index));
  shownMessage_ = index;
}

// Asked at every command: most often the status line still shows what this service put
// there, which one comparison confirms; any other text is looked up in the whole table.
int TBoardService::StatusMessageShown() const {
  const std::string text = window_.StatusText();
  if (shownMessage_ > 0 && !text.empty() && text == MsgTable(window_.Language(), shownMessage_))
    return shownMessage_;
  return FindMessageIndex(text);
}

void TBoardService::RestoreStatusMessage() {
  if (savedStatusMessage < 0)
    window_.SetStatusText("");
  else
    ShowMessage(savedStatusMessage);
}

}  // namespace mirte
