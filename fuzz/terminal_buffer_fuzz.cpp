// Every terminal buffer operation, in any order and with any arguments, including the
// resizing and region operations the console interpreter never reaches. Sizes stay below a
// few hundred so one input cannot exhaust memory; everything else is taken as it comes.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "fuzz_check.h"
#include "fuzz_terminal_checks.h"
#include "terminal/terminal_buffer.h"

namespace {

using namespace mirte;
using namespace mirte::fuzzing;


int Argument(FuzzedDataProvider& input) {
  // Mostly screen-sized values, sometimes the extremes.
  switch (input.ConsumeIntegralInRange(0, 7)) {
    case 0:
      return input.ConsumeIntegral<int>();
    default:
      return input.ConsumeIntegralInRange(-3, 90);
  }
}

TTerminalBuffer FreshBuffer(bool wideChars) {
  TTerminalBuffer buffer(wideChars);
  buffer.tbSetSVRowCount(32);
  buffer.SetHistoryCapacity(64);
  return buffer;
}

void Resize(TTerminalBuffer& buffer, int which, int n) {
  try {
    if (which == 0) buffer.tbSetColCount(n);
    if (which == 1) buffer.tbSetRowCount(n);
    if (which == 2) buffer.tbSetSVRowCount(n);
  } catch (const ETerminalError&) {
    FUZZ_CHECK(n < 2);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  // Every input starts from a new buffer, copied over one of its kind kept for the whole
  // process: the copy reuses its storage and writes only the rows the last input wrote,
  // where building one anew would allocate (and, under the address sanitizer, poison and
  // quarantine) a few hundred kilobytes. A history of the default 2000 rows is allocated
  // whole at its first row; 64 rows fill and wrap just the same, and, set on the fresh
  // buffers, its storage too is kept from input to input. The fresh buffers keep 8 rows
  // above the screen, not the default 176: every input ends by reading every row, which
  // at the default size cost three quarters of an input that does nothing, and one
  // resize takes an input to any size up to 300.
  static const TTerminalBuffer fresh[2] = {FreshBuffer(false), FreshBuffer(true)};
  static TTerminalBuffer kept[2] = {fresh[0], fresh[1]};
  const int kind = input.ConsumeBool() ? 1 : 0;
  TTerminalBuffer& buffer = kept[kind];
  buffer = fresh[kind];
  int scrolls = 0;
  buffer.OnScroll = [&](TTerminalBuffer&, int, int, int) { ++scrolls; };
  while (input.remaining_bytes() > 0) {
    const int a = Argument(input);
    const int b = Argument(input);
    const bool p = input.ConsumeBool();
    const bool q = input.ConsumeBool();
    switch (input.ConsumeIntegralInRange(0, 53)) {
      case 0: buffer.GotoRowCol(a, b); break;
      case 1: buffer.SetCursorRow(a); break;
      case 2: buffer.SetCursorCol(a); break;
      case 3: buffer.CarriageReturn(); break;
      case 4: buffer.CursorBackspace(); break;
      case 5: buffer.LineFeed(); break;
      case 6: buffer.CursorUp(p); break;
      case 7: buffer.CursorDown(p); break;
      case 8: buffer.CursorLeft(p, q); break;
      case 9: buffer.CursorRight(p, q); break;
      case 10: buffer.TabForward(); break;
      case 11: buffer.TabBackward(); break;
      case 12: buffer.VTabForward(); break;
      case 13: buffer.VTabBackward(); break;
      case 14: buffer.SetTabStop(); break;
      case 15: buffer.ClearTabStop(); break;
      case 16: buffer.ClearAllTabStops(); break;
      case 17: buffer.SetVTabStop(); break;
      case 18: buffer.ClearVTabStop(); break;
      case 19: buffer.ClearAllVTabStops(); break;
      case 20: buffer.PutChar(std::uint16_t(a)); break;
      case 21: buffer.PutString(input.ConsumeRandomLengthString(200)); break;
      case 22: buffer.InsertChars(a); break;
      case 23: buffer.DeleteChars(a); break;
      case 24: buffer.InsertLines(a); break;
      case 25: buffer.DeleteLines(a); break;
      case 26: buffer.EraseChars(a); break;
      case 27: buffer.EraseLineFromCursor(); break;
      case 28: buffer.EraseLineToCursor(); break;
      case 29: buffer.EraseWholeLine(); break;
      case 30: buffer.EraseScreenFromCursor(); break;
      case 31: buffer.EraseScreenToCursor(); break;
      case 32: buffer.EraseScreen(); break;
      case 33: buffer.ClearScreenHome(); break;
      case 34: buffer.ResetBuffer(); break;
      case 35: buffer.SetCurrentAttributes(std::uint8_t(a)); break;
      case 36: buffer.SetDefaultAttributes(std::uint8_t(a)); break;
      case 37: buffer.SetCurrentCharSet(std::uint8_t(a)); break;
      case 38: buffer.SetCurrentForeColor(TColor(a)); break;
      case 39: buffer.SetCurrentBackColor(TColor(b)); break;
      case 40: buffer.SetDefaultForeColor(TColor(a)); break;
      case 41: buffer.SetDefaultBackColor(TColor(b)); break;
      case 42: buffer.SetDefaultChar(std::uint8_t(a)); break;
      case 43: buffer.SetScrollRegion(a, b); break;
      case 44: buffer.UseScrollRegion(p); break;
      case 45: Resize(buffer, input.ConsumeIntegralInRange(0, 2), a % 300); break;
      case 46: buffer.SetAbsoluteCoordinates(p); break;
      case 47: buffer.SetAutoWrap(p); buffer.SetWrapAtMargin(q); break;
      case 48: buffer.SetInsertMode(p); buffer.SetNewLineMode(q); break;
      case 49: buffer.SetCellAttributes(a, b, std::uint8_t(a)); break;
      case 50: buffer.Invalidate(a, b, a / 2 + b / 2, b / 2); break;
      case 51: (void)buffer.GetCell(a, b); break;
      case 52: buffer.SetHistoryCapacity(a % 64); break;
      default: CheckInvalidRect(buffer); break;
    }
    CheckEdgeRows(buffer);
  }
  CheckEveryRow(buffer);
  return 0;
}
