#pragma once
// The board monitor's record of command frames: one row per frame, a run of list
// characters in one growing row, the totals and the records of the last second. Rows keep
// facts, not texts, so that they read in whichever language is current when shown. The
// oldest rows go once the limit is reached; while paused, rows are not added but the
// totals still count. Row indexes grow from 0 for the whole life of the log and are never
// reused, so a view can tell which rows it has already seen.
#include <chrono>
#include <cstdint>
#include <deque>
#include <string>

#include "board/frame_observer.h"
#include "serial/dispatcher.h"

namespace mirte {

struct TMonitorRow {
  std::chrono::nanoseconds At{};  // since the first row
  std::uint8_t Type = 0;
  bool Served = true;
  std::string File;          // "A:SOURCE.TXT", "A:OLD.TXT → NEW.TXT", "C:"; empty: none
  std::int64_t Record = -1;  // random access record, record count, current record; -1 none
  std::string Path;          // PC path served from; empty for none
  int Result = -1;           // the result byte sent; -1 when the reply has none
  std::string Answer;        // a reply that is not a result: drives present, current drive
  std::chrono::nanoseconds Reply{-1};  // last byte to end of reply; negative: no reply
  std::uint32_t Characters = 0;        // list characters of a print row
};

struct TMonitorTotals {
  std::uint64_t Frames = 0;
  std::uint64_t RecordsRead = 0;
  std::uint64_t RecordsWritten = 0;
  std::uint64_t BytesIn = 0;   // from the board, frames from DLE on
  std::uint64_t BytesOut = 0;  // replies to the board
  // Line errors the port counted while the log watched: each is a byte lost on the way.
  std::uint64_t Overrun = 0;
  std::uint64_t Framing = 0;
  std::uint64_t Parity = 0;
  std::uint64_t Break = 0;
};

enum TMonitorColumn : int {
  kColumnTime,
  kColumnType,
  kColumnFile,
  kColumnRecord,
  kColumnPath,
  kColumnResult,
  kColumnReply,
  kMonitorColumnCount
};

class TMonitorLog {
public:
  using Clock = TFrameFacts::Clock;
  static constexpr std::size_t kMaxRows = 100000;

  explicit TMonitorLog(std::size_t maxRows = kMaxRows);

  void Add(const TFrameFacts& facts);
  // The port's line error counts now. The port counts from its opening, so only what they
  // grew by since the last report joins the totals: Clear starts them at zero, and counts
  // lower than the last ones (a port opened afresh) are all new.
  void LineErrorsNow(const TLineErrorCounts& counts);
  // No rows, no totals; the next row starts the clock again.
  void Clear();
  void SetPaused(bool paused) { paused_ = paused; }
  bool Paused() const { return paused_; }

  // Rows FirstIndex() to EndIndex() - 1 are held.
  std::uint64_t FirstIndex() const { return first_; }
  std::uint64_t EndIndex() const { return first_ + rows_.size(); }
  const TMonitorRow& Row(std::uint64_t index) const { return rows_[static_cast<std::size_t>(index - first_)]; }
  // True once after the last row took more list characters.
  bool TakeLastRowGrown();

  const TMonitorTotals& Totals() const { return totals_; }
  // Records read or written in the second before `now`.
  std::size_t RecordsPerSecond(Clock::time_point now);

private:
  void AppendRow(TMonitorRow row, const TFrameFacts& facts);
  void DropRecordsBefore(Clock::time_point limit);

  std::size_t maxRows_;
  std::deque<TMonitorRow> rows_;
  std::uint64_t first_ = 0;
  bool paused_ = false;
  bool hasOrigin_ = false;
  Clock::time_point origin_;
  // The last frame was list output and its row is the last row: the next one joins it.
  bool printRunOpen_ = false;
  bool lastRowGrown_ = false;
  TMonitorTotals totals_;
  TLineErrorCounts lastLineErrors_;
  std::deque<Clock::time_point> recentRecords_;
};

// The texts of a row in a language (1 Italian, 2 English), as UTF-8.
std::string MonitorCell(const TMonitorRow& row, int column, int language);
// The cells of a row joined by tabs.
std::string MonitorLine(const TMonitorRow& row, int language);
std::string MonitorHeading(int column, int language);
// Two lines: the frames, records and bytes, then the line errors.
std::string MonitorTotalsText(const TMonitorTotals& totals, std::size_t recordsPerSecond, int language);
// The name of a frame type, "unknown n" for one that is not served.
std::string FrameTypeName(std::uint8_t type, bool served, int language);

}  // namespace mirte
