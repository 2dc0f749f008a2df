#include "app/monitor_log.h"

#include <cstdio>

#include "board/board_name.h"
#include "board/frame_types.h"
#include "common/monitor_texts.h"

namespace mirte {

namespace {

constexpr const char* kNone = "\u2014";

bool Is(std::uint8_t type, TFrameType kind) { return type == static_cast<std::uint8_t>(kind); }

const TFrameKind* KindOf(std::uint8_t type, bool served) { return served ? FindFrameKind(type) : nullptr; }

bool AnswersWithResult(const TFrameKind& kind) {
  switch (kind.Reply) {
    case TReplyShape::Result:
    case TReplyShape::ResultAndName:
    case TReplyShape::ResultAndRecord:
      return true;
    case TReplyShape::None:
    case TReplyShape::DriveVector:
    case TReplyShape::DriveNumber:
    case TReplyShape::ThreeBytes:
      return false;
  }
  return false;
}

std::string Replace(std::string_view pattern, const std::string& value) {
  std::string text(pattern);
  if (auto at = text.find("%1"); at != std::string::npos) text.replace(at, 2, value);
  return text;
}

// Board bytes that are no plain characters are shown by their value, so that a name with
// stray bytes can be told from one without.
void AppendBoardByte(std::string& out, std::uint8_t byte) {
  if (byte >= 0x20 && byte < 0x7F) {
    out += static_cast<char>(byte);
  } else {
    char hex[8];
    std::snprintf(hex, sizeof hex, "\\x%02X", byte);
    out += hex;
  }
}

// A board name as the service looks it up, wildcards as sent; bytes that are no plain
// characters are shown by their value.
std::string ShownBoardName(const std::uint8_t* name, const std::uint8_t* ext) {
  std::string shown;
  for (char c : BoardName(std::span(name, 8), std::span(ext, 3), false)) AppendBoardByte(shown, static_cast<std::uint8_t>(c));
  return shown;
}

// Drive `index` (0 = A) as a letter; a byte naming no drive A to P is shown as sent.
std::string DriveText(int index, std::uint8_t sent) {
  if (index >= 0 && index < kBoardDriveCount) return std::string{static_cast<char>('A' + index), ':'};
  return "#" + std::to_string(sent) + ":";
}

std::string FileText(const TFrameKind& kind, const TFrameFacts& facts) {
  const auto& p = facts.Params;
  if (kind.Type == TFrameType::SelectDrive) return DriveText(p[0], p[0]);
  if (!kind.NamesFile) return {};
  std::string drive = p[0] == 0 ? std::string{facts.CurrentDrive, ':'} : DriveText(p[0] - 1, p[0]);
  std::string text = drive + ShownBoardName(&p[1], &p[9]);
  if (kind.Type == TFrameType::Rename) text += " \u2192 " + ShownBoardName(&p[12], &p[20]);
  return text;
}

std::int64_t RecordOf(const TFrameKind& kind, const TFrameFacts& facts) {
  const auto& p = facts.Params;
  if (kind.RandomAccess) return p[12] + 256 * p[13];
  if (kind.RecordIn || kind.RecordOut) return facts.SequentialRecord;
  if (kind.Reply == TReplyShape::ThreeBytes && facts.BytesOut >= 3)
    return facts.ReplyHead[0] + 256 * facts.ReplyHead[1] + 65536 * facts.ReplyHead[2];
  return -1;
}

std::string AnswerOf(const TFrameKind& kind, const TFrameFacts& facts) {
  if (kind.Reply == TReplyShape::DriveNumber && facts.BytesOut >= 1)
    return DriveText(facts.ReplyHead[0], facts.ReplyHead[0]);
  if (kind.Type == TFrameType::DriveVector && facts.BytesOut >= 2) {
    const unsigned vector = facts.ReplyHead[0] | facts.ReplyHead[1] << 8;
    std::string letters;
    for (int i = 0; i < kBoardDriveCount; ++i)
      if (vector & (1u << i)) {
        if (!letters.empty()) letters += ' ';
        letters += static_cast<char>('A' + i);
      }
    return letters;
  }
  return {};
}

// Digits in groups of three, as each language writes them.
std::string Grouped(std::uint64_t value, int language) {
  std::string digits = std::to_string(value);
  const char separator = language == kLanguageItalian ? '.' : ',';
  for (auto at = static_cast<std::ptrdiff_t>(digits.size()) - 3; at > 0; at -= 3)
    digits.insert(static_cast<std::size_t>(at), 1, separator);
  return digits;
}

std::string Milliseconds(std::chrono::nanoseconds span, int language) {
  const long long tenths = (span.count() + 50000) / 100000;
  std::string text = std::to_string(tenths / 10) + (language == kLanguageItalian ? "," : ".") +
                     std::to_string(tenths % 10);
  return text;
}

std::string ResultText(const TMonitorRow& row, int language) {
  if (row.Result < 0) return row.Answer.empty() ? std::string(kNone) : row.Answer;
  const TFrameKind* kind = KindOf(row.Type, row.Served);
  const TTextPair* word = &kResultOtherWord;
  if (row.Result == kResultOk)
    word = &kResultOkWord;
  else if (row.Result == kResultFailed)
    word = &kResultFailedWord;
  else if (row.Result == kResultEndOfFile && kind && kind->RecordOut)
    word = &kResultEndOfFileWord;
  else if (row.Result == kResultShortWrite && Is(row.Type, TFrameType::WriteRandom))
    word = &kResultShortWriteWord;
  return std::string(word->Pick(language)) + " (" + std::to_string(row.Result) + ")";
}

}  // namespace

TMonitorLog::TMonitorLog(std::size_t maxRows) : maxRows_(maxRows < 1 ? 1 : maxRows) {}

void TMonitorLog::Add(const TFrameFacts& facts) {
  ++totals_.Frames;
  totals_.BytesIn += facts.BytesIn;
  totals_.BytesOut += facts.BytesOut;
  const TFrameKind* kind = KindOf(facts.Type, facts.Served);
  const bool answered = facts.BytesOut > 0;
  const std::uint8_t result = facts.ReplyHead[0];
  bool recordMoved = false;
  if (kind && kind->RecordOut && answered && result == kResultOk) {
    ++totals_.RecordsRead;
    recordMoved = true;
  } else if (kind && kind->RecordIn && answered &&
             (result == kResultOk || (kind->Type == TFrameType::WriteRandom && result == kResultShortWrite))) {
    ++totals_.RecordsWritten;
    recordMoved = true;
  }
  if (recordMoved) {
    DropRecordsBefore(facts.ReplyEnd - std::chrono::seconds(1));
    recentRecords_.push_back(facts.ReplyEnd);
  }

  const bool print = kind && kind->Type == TFrameType::Print;
  if (paused_) {
    // A run of list characters that pauses in the middle is not continued afterwards.
    printRunOpen_ = false;
    return;
  }
  if (print && printRunOpen_ && !rows_.empty()) {
    ++rows_.back().Characters;
    lastRowGrown_ = true;
    return;
  }
  TMonitorRow row;
  row.Type = facts.Type;
  row.Served = kind != nullptr;
  if (kind) {
    row.File = FileText(*kind, facts);
    row.Record = RecordOf(*kind, facts);
    row.Path = facts.Path;
    if (AnswersWithResult(*kind) && answered) row.Result = result;
    row.Answer = AnswerOf(*kind, facts);
    // A frame that has no reply, or whose reply the port refused, shows no reply time.
    if (kind->Reply != TReplyShape::None && answered) row.Reply = facts.ReplyEnd - facts.LastByte;
    row.Characters = print ? 1 : 0;
  }
  AppendRow(std::move(row), facts);
  printRunOpen_ = print;
}

void TMonitorLog::AppendRow(TMonitorRow row, const TFrameFacts& facts) {
  if (!hasOrigin_) {
    origin_ = facts.LastByte;
    hasOrigin_ = true;
  }
  row.At = facts.LastByte - origin_;
  rows_.push_back(std::move(row));
  lastRowGrown_ = false;
  if (rows_.size() > maxRows_) {
    rows_.pop_front();
    ++first_;
  }
}

void TMonitorLog::LineErrorsNow(const TLineErrorCounts& counts) {
  const auto grown = [](int now, int last) { return static_cast<std::uint64_t>(now >= last ? now - last : now); };
  totals_.Overrun += grown(counts.Overrun, lastLineErrors_.Overrun);
  totals_.Framing += grown(counts.Framing, lastLineErrors_.Framing);
  totals_.Parity += grown(counts.Parity, lastLineErrors_.Parity);
  totals_.Break += grown(counts.Break, lastLineErrors_.Break);
  lastLineErrors_ = counts;
}

void TMonitorLog::Clear() {
  first_ += rows_.size();
  rows_.clear();
  hasOrigin_ = false;
  printRunOpen_ = false;
  lastRowGrown_ = false;
  totals_ = {};
  recentRecords_.clear();
}

bool TMonitorLog::TakeLastRowGrown() {
  const bool grown = lastRowGrown_;
  lastRowGrown_ = false;
  return grown;
}

void TMonitorLog::DropRecordsBefore(Clock::time_point limit) {
  while (!recentRecords_.empty() && recentRecords_.front() <= limit) recentRecords_.pop_front();
}

std::size_t TMonitorLog::RecordsPerSecond(Clock::time_point now) {
  DropRecordsBefore(now - std::chrono::seconds(1));
  return recentRecords_.size();
}

std::string FrameTypeName(std::uint8_t type, bool served, int language) {
  const TFrameKind* kind = KindOf(type, served);
  if (!kind) return Replace(kFrameUnknown.Pick(language), std::to_string(type));
  return std::string(kind->Name.Pick(language));
}

std::string MonitorCell(const TMonitorRow& row, int column, int language) {
  switch (column) {
    case kColumnTime:
      return Milliseconds(row.At, language);
    case kColumnType:
      if (row.Served && Is(row.Type, TFrameType::Print))
        return row.Characters == 1 ? std::string(kFramePrintOne.Pick(language))
                                   : Replace(kFramePrintRun.Pick(language), Grouped(row.Characters, language));
      return FrameTypeName(row.Type, row.Served, language);
    case kColumnFile:
      return row.File;
    case kColumnRecord:
      return row.Record < 0 ? std::string() : std::to_string(row.Record);
    case kColumnPath:
      return row.Path.empty() ? std::string(kNone) : row.Path;
    case kColumnResult:
      return ResultText(row, language);
    case kColumnReply:
      return row.Reply.count() < 0 ? std::string(kNone) : Milliseconds(row.Reply, language);
    default:
      return {};
  }
}

std::string MonitorLine(const TMonitorRow& row, int language) {
  std::string line;
  for (int column = 0; column < kMonitorColumnCount; ++column) {
    if (column > 0) line += '\t';
    line += MonitorCell(row, column, language);
  }
  return line;
}

std::string MonitorHeading(int column, int language) {
  static constexpr const TTextPair* kHeadings[kMonitorColumnCount] = {
      &kMonitorTimeColumn, &kMonitorTypeColumn,   &kMonitorFileColumn, &kMonitorRecordColumn,
      &kMonitorPathColumn, &kMonitorResultColumn, &kMonitorReplyColumn};
  if (column < 0 || column >= kMonitorColumnCount) return {};
  return std::string(kHeadings[column]->Pick(language));
}

std::string MonitorTotalsText(const TMonitorTotals& totals, std::size_t recordsPerSecond, int language) {
  const auto filled = [language](std::string_view pattern, std::initializer_list<std::uint64_t> values) {
    std::string text(pattern);
    int mark = 1;
    for (std::uint64_t value : values) {
      const std::string name = "%" + std::to_string(mark++);
      if (auto at = text.find(name); at != std::string::npos) text.replace(at, name.size(), Grouped(value, language));
    }
    return text;
  };
  return filled(kMonitorTotals.Pick(language), {totals.Frames, totals.RecordsRead, totals.RecordsWritten,
                                                totals.BytesIn, totals.BytesOut, recordsPerSecond}) +
         // A line of its own: beside the rest it would not fit the window's width.
         '\n' + filled(kMonitorLineErrors.Pick(language), {totals.Overrun, totals.Framing, totals.Parity, totals.Break});
}

}  // namespace mirte
