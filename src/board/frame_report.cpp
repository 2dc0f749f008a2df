// The reports of finished frames to an attached watcher. Kept out of the frame collector so
// that serving a frame reads the same with or without one.
#include <algorithm>

#include "board/board_service.h"

namespace mirte {

namespace {

constexpr std::uint32_t kLeadInBytes = 3;  // DLE, DC1, type

bool NamesAFile(std::uint8_t type) {
  return (type >= 15 && type <= 23) || type == 30 || (type >= 33 && type <= 36);
}

}  // namespace

void TBoardService::OpenFrameReport(TFrameFacts::Clock::time_point lastByte) {
  report_.LastByte = lastByte;
  report_.Type = commandType;
  report_.Served = true;
  report_.ParamCount = paramCount;
  std::copy(std::begin(paramBuffer), std::end(paramBuffer), report_.Params.begin());
  const bool carriesRecord = commandType == 21 || commandType == 34;
  report_.BytesIn = kLeadInBytes + paramCount + (carriesRecord ? static_cast<std::uint32_t>(kRecordSize) : 0);
  report_.BytesOut = 0;
  report_.ReplyHead.fill(0);
  fileService.ForgetNamedPath();
  reportOpen_ = true;
}

void TBoardService::CloseFrameReport() {
  reportOpen_ = false;
  // The watcher may have gone while a record reply pumped events.
  if (!observer_) return;
  report_.ReplyEnd = TFrameFacts::Clock::now();
  // The path and drive the command itself resolved are taken as they are: resolving the
  // drives once more would cost the board a good part of a fast command's time.
  const char named = fileService.LastNamedDrive();
  report_.CurrentDrive = named != 0 && report_.Params[0] == 0 ? named : static_cast<char>('A' + fileService.GetCurrentDrive());
  const bool found = (report_.Type == 17 || report_.Type == 18) && report_.BytesOut > 0 && report_.ReplyHead[0] == 0;
  if (found)
    report_.Path = fileService.FoundPath();
  else if (report_.Type == 14)
    report_.Path = fileService.Drives().CurrentFolder();
  else if (NamesAFile(report_.Type) && named != 0)
    report_.Path = fileService.LastNamedPath();
  else if (NamesAFile(report_.Type))
    report_.Path = fileService.PathOfNameBlock(std::span<const std::uint8_t, 12>(report_.Params.data(), 12));
  else
    report_.Path.clear();
  observer_->FrameDone(report_);
}

void TBoardService::ReportReply() {
  const std::size_t head = std::min(replyLength, report_.ReplyHead.size());
  std::copy(reply, reply + head, report_.ReplyHead.begin());
  report_.BytesOut = static_cast<std::uint32_t>(replyLength);
}

void TBoardService::ReportUnservedFrame() {
  report_.LastByte = TFrameFacts::Clock::now();
  report_.ReplyEnd = report_.LastByte;
  report_.Type = commandType;
  report_.Served = false;
  report_.ParamCount = 0;
  report_.BytesIn = kLeadInBytes;
  report_.BytesOut = 0;
  report_.ReplyHead.fill(0);
  report_.Path.clear();
  observer_->FrameDone(report_);
}

}  // namespace mirte
