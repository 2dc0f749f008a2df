#include "app/monitor_log.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/msg_table.h"
#include "support/board_frames.h"

namespace mirte {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;
using Clock = TMonitorLog::Clock;
using testing::bytes::NameBlock;
using testing::bytes::Plus;

const Clock::time_point kStart = Clock::now();

// A finished frame: its parameters, the reply's first bytes and its size, when its last
// byte came (after kStart) and how long its reply took.
TFrameFacts Facts(std::uint8_t type, const Bytes& params, const Bytes& reply, std::chrono::microseconds at = 0us,
                  std::chrono::microseconds took = 5000us, std::string path = {}) {
  TFrameFacts facts;
  facts.Type = type;
  facts.ParamCount = static_cast<std::uint8_t>(params.size());
  std::copy(params.begin(), params.end(), facts.Params.begin());
  for (std::size_t i = 0; i < reply.size() && i < facts.ReplyHead.size(); ++i) facts.ReplyHead[i] = reply[i];
  facts.BytesOut = static_cast<std::uint32_t>(reply.size());
  facts.BytesIn = static_cast<std::uint32_t>(3 + params.size() + (type == 21 || type == 34 ? 128 : 0));
  if (type == 20 || type == 21) facts.SequentialRecord = 0;
  facts.CurrentDrive = 'C';
  facts.Path = std::move(path);
  facts.LastByte = kStart + at;
  facts.ReplyEnd = facts.LastByte + took;
  return facts;
}

TFrameFacts AtRecord(TFrameFacts facts, std::int64_t record) {
  facts.SequentialRecord = record;
  return facts;
}

TFrameFacts Unserved(std::uint8_t type, std::chrono::microseconds at = 0us) {
  TFrameFacts facts = Facts(type, {}, {}, at, 0us);
  facts.Served = false;
  return facts;
}

TFrameFacts Print(std::chrono::microseconds at = 0us) { return Facts(5, {'x'}, {}, at); }

std::vector<std::string> Cells(const TMonitorRow& row, int language) {
  std::vector<std::string> cells;
  for (int column = 0; column < kMonitorColumnCount; ++column) cells.push_back(MonitorCell(row, column, language));
  return cells;
}

struct RowCase {
  const char* what;
  TFrameFacts facts;
  std::vector<std::string> english;  // type, file, record, path, result
  std::vector<std::string> italian;
};

TEST(MonitorLogTest, RowsNameEachFrameItsFileAndItsAnswerInEitherLanguage) {
  const Bytes record(128, 'r');
  const RowCase cases[] = {
      {"open on the current drive", Facts(15, NameBlock(0, "SOURCE", "TXT"), {0}, 0us, 5000us, "/w/SOURCE.TXT"),
       {"Open", "C:SOURCE.TXT", "", "/w/SOURCE.TXT", "ok (0)"},
       {"Apri", "C:SOURCE.TXT", "", "/w/SOURCE.TXT", "ok (0)"}},
      {"read at the end", Facts(20, NameBlock(1, "SOURCE", "TXT"), Plus({1}, record)),
       {"Read", "A:SOURCE.TXT", "0", "\u2014", "end of file (1)"},
       {"Leggi", "A:SOURCE.TXT", "0", "\u2014", "fine file (1)"}},
      {"sequential read from the file's position", AtRecord(Facts(20, NameBlock(1, "SOURCE", "TXT"), Plus({0}, record)), 4),
       {"Read", "A:SOURCE.TXT", "4", "\u2014", "ok (0)"},
       {"Leggi", "A:SOURCE.TXT", "4", "\u2014", "ok (0)"}},
      {"sequential write of a file not open", AtRecord(Facts(21, NameBlock(0, "X", ""), {255}), -1),
       {"Write", "C:X", "", "\u2014", "failed (255)"},
       {"Scrivi", "C:X", "", "\u2014", "fallito (255)"}},
      {"a name in lower case, as the service looks it up", Facts(15, NameBlock(0, "read", "me"), {0}),
       {"Open", "C:READ.ME", "", "\u2014", "ok (0)"},
       {"Apri", "C:READ.ME", "", "\u2014", "ok (0)"}},
      {"random read of record 300", Facts(33, Plus(NameBlock(2, "DATA", ""), {44, 1}), Plus({0}, record)),
       {"Random read", "B:DATA", "300", "\u2014", "ok (0)"},
       {"Lettura casuale", "B:DATA", "300", "\u2014", "ok (0)"}},
      {"short random write", Facts(34, Plus(NameBlock(2, "DATA", ""), {2, 0}), {6}),
       {"Random write", "B:DATA", "2", "\u2014", "short write (6)"},
       {"Scrittura casuale", "B:DATA", "2", "\u2014", "scrittura parziale (6)"}},
      {"search with wildcards as sent, read-only flag left out",
       Facts(17, NameBlock(0, "AB??????", "T\xD8?"), Plus({255}, NameBlock(0, "AB??????", "TX?"))),
       {"Search first", "C:AB??????.TX?", "", "\u2014", "failed (255)"},
       {"Cerca primo", "C:AB??????.TX?", "", "\u2014", "fallito (255)"}},
      {"rename",
       Facts(23, Plus(NameBlock(3, "OLD", "TXT"), Bytes{'N', 'E', 'W', ' ', ' ', ' ', ' ', ' ', 'T', 'X', 'T'}), {0}),
       {"Rename", "C:OLD.TXT \u2192 NEW.TXT", "", "\u2014", "ok (0)"},
       {"Rinomina", "C:OLD.TXT \u2192 NEW.TXT", "", "\u2014", "ok (0)"}},
      {"stray bytes in a name", Facts(22, NameBlock(0, "A\x01Z", "TXT"), {255}),
       {"Make", "C:A\\x01Z.TXT", "", "\u2014", "failed (255)"},
       {"Crea", "C:A\\x01Z.TXT", "", "\u2014", "fallito (255)"}},
      {"file size", Facts(35, NameBlock(0, "BIG", "DAT"), {0x10, 0x27, 0}),
       {"File size", "C:BIG.DAT", "10000", "\u2014", "\u2014"},
       {"Dimensione file", "C:BIG.DAT", "10000", "\u2014", "\u2014"}},
      {"drives present", Facts(24, {}, {0x05, 0x80}),
       {"Drives", "", "", "\u2014", "A C P"},
       {"Unit\u00E0", "", "", "\u2014", "A C P"}},
      {"current drive", Facts(25, {}, {2}),
       {"Current drive", "", "", "\u2014", "C:"},
       {"Unit\u00E0 corrente", "", "", "\u2014", "C:"}},
      {"select drive", Facts(14, {3}, {}, 0us, 5000us, "/d"),
       {"Select drive", "D:", "", "/d", "\u2014"},
       {"Seleziona unit\u00E0", "D:", "", "/d", "\u2014"}},
      {"a drive beyond P", Facts(15, NameBlock(17, "X", ""), {255}),
       {"Open", "#17:X", "", "\u2014", "failed (255)"},
       {"Apri", "#17:X", "", "\u2014", "fallito (255)"}},
      {"not served", Unserved(7),
       {"unknown 7", "", "", "\u2014", "\u2014"},
       {"sconosciuto 7", "", "", "\u2014", "\u2014"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TMonitorLog log;
    log.Add(c.facts);
    ASSERT_EQ(log.EndIndex(), 1u);
    for (int language : {kLanguageEnglish, kLanguageItalian}) {
      auto cells = Cells(log.Row(0), language);
      const auto& expected = language == kLanguageEnglish ? c.english : c.italian;
      EXPECT_EQ(std::vector<std::string>(cells.begin() + 1, cells.end() - 1), expected) << "language " << language;
    }
  }
}

TEST(MonitorLogTest, TimesCountFromTheFirstRowInTenthsOfAMillisecond) {
  TMonitorLog log;
  log.Add(Facts(15, NameBlock(0, "A", ""), {0}, 1000000us, 5230us));
  log.Add(Facts(16, NameBlock(0, "A", ""), {0}, 1012349us, 5000us));
  log.Add(Unserved(9, 1012400us));
  EXPECT_EQ(MonitorCell(log.Row(0), kColumnTime, kLanguageEnglish), "0.0");
  EXPECT_EQ(MonitorCell(log.Row(0), kColumnReply, kLanguageEnglish), "5.2");
  EXPECT_EQ(MonitorCell(log.Row(1), kColumnTime, kLanguageEnglish), "12.3");
  EXPECT_EQ(MonitorCell(log.Row(1), kColumnTime, kLanguageItalian), "12,3");
  EXPECT_EQ(MonitorCell(log.Row(2), kColumnReply, kLanguageEnglish), "\u2014")
      << "a frame that ended at its type has no reply";
  EXPECT_EQ(MonitorLine(log.Row(1), kLanguageEnglish), "12.3\tClose\tC:A\t\t\u2014\tok (0)\t5.0");

  log.Clear();
  log.Add(Facts(16, NameBlock(0, "A", ""), {0}, 3000000us));
  EXPECT_EQ(MonitorCell(log.Row(log.FirstIndex()), kColumnTime, kLanguageEnglish), "0.0") << "Clear restarts the clock";
}

TEST(MonitorLogTest, OnlyFramesWhoseReplyLeftShowAReplyTime) {
  TMonitorLog log;
  log.Add(Facts(14, {2}, {}, 0us, 3000us));
  log.Add(Print(10us));
  log.Add(Print(20us));
  log.Add(Facts(15, NameBlock(0, "A", ""), {}, 30us, 4000us));  // the port refused the reply
  log.Add(Facts(15, NameBlock(0, "A", ""), {0}, 40us, 4000us));
  log.Add(Facts(25, {}, {2}, 50us, 4000us));
  std::vector<std::string> replies;
  for (auto i = log.FirstIndex(); i < log.EndIndex(); ++i) replies.push_back(MonitorCell(log.Row(i), kColumnReply, kLanguageEnglish));
  EXPECT_EQ(replies, (std::vector<std::string>{"\u2014", "\u2014", "\u2014", "4.0", "4.0"}));
}

TEST(MonitorLogTest, ListCharactersGrowOneRowUntilAnotherFrameComes) {
  TMonitorLog log;
  for (int i = 0; i < 2341; ++i) log.Add(Print());
  EXPECT_EQ(log.EndIndex(), 1u);
  EXPECT_TRUE(log.TakeLastRowGrown());
  EXPECT_FALSE(log.TakeLastRowGrown()) << "told once";
  EXPECT_EQ(MonitorCell(log.Row(0), kColumnType, kLanguageEnglish), "Print, 2,341 characters");
  EXPECT_EQ(MonitorCell(log.Row(0), kColumnType, kLanguageItalian), "Stampa, 2.341 caratteri");
  log.Add(Facts(13, {}, {}));
  log.Add(Print());
  EXPECT_EQ(log.EndIndex(), 3u);
  EXPECT_EQ(MonitorCell(log.Row(2), kColumnType, kLanguageEnglish), "Print, 1 character");
  EXPECT_EQ(log.Totals().Frames, 2343u);
  EXPECT_EQ(log.Totals().BytesIn, 2342u * 4 + 3);
}

TEST(MonitorLogTest, PauseStopsRowsButTheTotalsCountOn) {
  TMonitorLog log;
  const Bytes record(128, 'r');
  log.Add(Print());
  log.SetPaused(true);
  log.Add(Print());
  log.Add(Facts(20, NameBlock(0, "A", ""), Plus({0}, record)));
  log.Add(Facts(21, NameBlock(0, "A", ""), {0}));
  log.SetPaused(false);
  log.Add(Print());
  ASSERT_EQ(log.EndIndex(), 2u) << "a run of list characters cut by the pause is not continued";
  EXPECT_EQ(MonitorCell(log.Row(0), kColumnType, kLanguageEnglish), "Print, 1 character");
  const TMonitorTotals& totals = log.Totals();
  EXPECT_EQ(totals.Frames, 5u);
  EXPECT_EQ(totals.RecordsRead, 1u);
  EXPECT_EQ(totals.RecordsWritten, 1u);
  EXPECT_EQ(totals.BytesIn, 3 * 4u + 15 + 15 + 128);
  EXPECT_EQ(totals.BytesOut, 129u + 1);

  log.Clear();
  EXPECT_EQ(log.FirstIndex(), log.EndIndex());
  EXPECT_EQ(log.Totals().Frames, 0u);
  EXPECT_EQ(log.FirstIndex(), 2u) << "row indexes are not reused";
}

TEST(MonitorLogTest, OnlyRecordsThatMovedCount) {
  TMonitorLog log;
  const Bytes record(128, 'r');
  log.Add(Facts(20, NameBlock(0, "A", ""), Plus({1}, record)));    // end of file
  log.Add(Facts(33, Plus(NameBlock(0, "A", ""), {0, 0}), {255}));  // failed
  log.Add(Facts(21, NameBlock(0, "A", ""), {255}));
  log.Add(Facts(34, Plus(NameBlock(0, "A", ""), {0, 0}), {6}));  // short, but written
  EXPECT_EQ(log.Totals().RecordsRead, 0u);
  EXPECT_EQ(log.Totals().RecordsWritten, 1u);
}

TEST(MonitorLogTest, RecordsPerSecondCountsTheLastSecondOnly) {
  TMonitorLog log;
  const Bytes record(128, 'r');
  for (int i = 0; i < 10; ++i)
    log.Add(Facts(20, NameBlock(0, "A", ""), Plus({0}, record), std::chrono::microseconds(i * 200000), 0us));
  const Clock::time_point last = kStart + 1800000us;
  EXPECT_EQ(log.RecordsPerSecond(last), 5u) << "the records after 0.8 s";
  EXPECT_EQ(log.RecordsPerSecond(last + 500ms), 3u);
  EXPECT_EQ(log.RecordsPerSecond(last + 2s), 0u);
}

TEST(MonitorLogTest, TheOldestRowsGoBeyondTheLimit) {
  TMonitorLog log(3);
  for (int i = 0; i < 5; ++i) log.Add(Unserved(static_cast<std::uint8_t>(100 + i)));
  EXPECT_EQ(log.FirstIndex(), 2u);
  EXPECT_EQ(log.EndIndex(), 5u);
  EXPECT_EQ(MonitorCell(log.Row(2), kColumnType, kLanguageEnglish), "unknown 102");
  EXPECT_EQ(log.Totals().Frames, 5u);

  TMonitorLog full;
  for (std::size_t i = 0; i < TMonitorLog::kMaxRows + 10; ++i) full.Add(Unserved(7));
  EXPECT_EQ(full.EndIndex() - full.FirstIndex(), 100000u);
}

TEST(MonitorLogTest, TotalsLineGroupsItsDigitsAndEndsWithTheLineErrors) {
  TMonitorTotals totals{12345, 2, 3, 1234567, 89, 4096, 7, 0, 12};
  EXPECT_EQ(MonitorTotalsText(totals, 1500, kLanguageEnglish),
            "Frames: 12,345    Records read: 2    written: 3    Bytes from board: 1,234,567    to board: 89    "
            "Records/s: 1,500\nLine errors: overrun 4,096, framing 7, parity 0, break 12");
  EXPECT_EQ(MonitorTotalsText(totals, 0, kLanguageItalian),
            "Frame: 12.345    Record letti: 2    scritti: 3    Byte dalla scheda: 1.234.567    alla scheda: 89    "
            "Record/s: 0\nErrori di linea: overrun 4.096, frame 7, parit\u00E0 0, break 12");
}

TEST(MonitorLogTest, LineErrorsCountWhatThePortsCountsGrewBy) {
  TMonitorLog log;
  log.LineErrorsNow({3, 1, 0, 2});
  log.LineErrorsNow({3, 1, 0, 2});
  const std::string text = MonitorTotalsText(log.Totals(), 0, kLanguageEnglish);
  EXPECT_TRUE(text.ends_with("\nLine errors: overrun 3, framing 1, parity 0, break 2"))
      << text << ": the same counts again are nothing new";

  log.Clear();
  log.LineErrorsNow({5, 1, 4, 2});
  EXPECT_EQ(log.Totals().Overrun, 2u) << "Clear starts from the counts at that moment";
  EXPECT_EQ(log.Totals().Framing, 0u);
  EXPECT_EQ(log.Totals().Parity, 4u);
  EXPECT_EQ(log.Totals().Break, 0u);

  // The port opened again counts from zero: its counts are all new.
  log.LineErrorsNow({1, 0, 0, 0});
  EXPECT_EQ(log.Totals().Overrun, 3u);
  log.SetPaused(true);
  log.LineErrorsNow({2, 0, 0, 1});
  EXPECT_EQ(log.Totals().Overrun, 4u) << "the totals count on while paused";
  EXPECT_EQ(log.Totals().Break, 1u);
}

}  // namespace
}  // namespace mirte
