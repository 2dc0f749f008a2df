// The reports of finished frames to an attached watcher. Kept out of the frame collector so
// that serving a frame reads the same with or without one.
#include <algorithm>

#include "board/board_service.h"
#include "board/frame_types.h"

namespace mirte {

void TBoardService::OpenFrameReport(TFrameFacts::Clock::time_point lastByte) {
  report_.LastByte = lastByte;
  report_.Type = commandType;
  report_.Served = true;
  report_.ParamCount = paramCount;
  std::copy(std::begin(paramBuffer), std::end(paramBuffer), report_.Params.begin());
  const TFrameKind* kind = FindFrameKind(commandType);
  report_.BytesIn = kind ? FrameBytesIn(*kind) : kFrameLeadInBytes;
  report_.BytesOut = 0;
  report_.ReplyHead.fill(0);
  report_.SequentialRecord = -1;
  positionsBefore_.clear();
  // The positions are all the report can learn a sequential record from: the command moves
  // them, and a short last record leaves the file's end, not the record's, behind.
  if (kind && (kind->RecordIn || kind->RecordOut) && !kind->RandomAccess)
    for (const OpenFileEntry& entry : fileService_.OpenFileTable()) positionsBefore_.push_back(entry.position);
  fileService_.ForgetNamedPath();
  reportOpen_ = true;
}

void TBoardService::CloseFrameReport() {
  reportOpen_ = false;
  // The watcher may have gone while a record reply pumped events.
  if (!observer_) return;
  report_.ReplyEnd = TFrameFacts::Clock::now();
  // The path and drive the command itself resolved are taken as they are: resolving the
  // drives once more would cost the board a good part of a fast command's time.
  const char named = fileService_.LastNamedDrive();
  const TFrameKind* kind = FindFrameKind(report_.Type);
  const bool namesFile = kind && kind->NamesFile;
  // Only a name block on drive 0 needs the current drive, and asking the drives costs a
  // list character several times its own service.
  if (namesFile && report_.Params[0] == 0)
    report_.CurrentDrive = named != 0 ? named : static_cast<char>('A' + fileService_.GetCurrentDrive());
  const bool found = kind && kind->Reply == TReplyShape::ResultAndName && report_.BytesOut > 0 &&
                     report_.ReplyHead[0] == kResultOk;
  if (found)
    report_.Path = fileService_.FoundPath();
  else if (report_.Type == static_cast<std::uint8_t>(TFrameType::SelectDrive))
    report_.Path = fileService_.Drives().CurrentFolder();
  else if (namesFile && named != 0)
    report_.Path = fileService_.LastNamedPath();
  else if (namesFile)
    report_.Path = fileService_.PathOfNameBlock(std::span<const std::uint8_t, 12>(report_.Params.data(), 12));
  else
    report_.Path.clear();
  if (!positionsBefore_.empty() && named != 0) report_.SequentialRecord = RecordBefore(fileService_.LastNamedPath());
  observer_->FrameDone(report_);
}

std::int64_t TBoardService::RecordBefore(const std::string& path) const {
  if (path.empty()) return -1;
  const auto& table = fileService_.OpenFileTable();
  const auto entry = std::find_if(table.begin(), table.end(), [&](const OpenFileEntry& e) { return e.path == path; });
  const auto index = static_cast<std::size_t>(entry - table.begin());
  if (entry == table.end() || index >= positionsBefore_.size()) return -1;
  return positionsBefore_[index] / static_cast<std::int64_t>(kRecordSize);
}

void TBoardService::ReportReply() {
  const std::size_t head = std::min(replyLength_, report_.ReplyHead.size());
  std::copy(reply_, reply_ + head, report_.ReplyHead.begin());
  report_.BytesOut = static_cast<std::uint32_t>(replyLength_);
}

void TBoardService::ReportUnservedFrame() {
  report_.LastByte = TFrameFacts::Clock::now();
  report_.ReplyEnd = report_.LastByte;
  report_.Type = commandType;
  report_.Served = false;
  report_.ParamCount = 0;
  report_.BytesIn = kFrameLeadInBytes;
  report_.BytesOut = 0;
  report_.ReplyHead.fill(0);
  report_.Path.clear();
  observer_->FrameDone(report_);
}

}  // namespace mirte
