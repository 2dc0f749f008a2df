// Arbitrary board output through the console interpreter. The input is a series of chunks:
// a header byte (low 7 bits: length; top bit: reset the console after the chunk) and that
// many board bytes. After every byte the buffer must still be in shape. Command frames are
// cut short at their type byte, so no command runs.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "board/board_service.h"
#include "fuzz_board_parts.h"
#include "fuzz_check.h"
#include "fuzz_terminal_checks.h"
#include "terminal/terminal_buffer.h"

namespace {

using namespace mirte;
using namespace mirte::fuzzing;

constexpr std::uint8_t kUnservedType = 0;

void CheckInShape(const TTerminalBuffer& buffer, const TBoardService& service) {
  // The board addresses the screen only, never the rows above it.
  FUZZ_CHECK(buffer.GetCursorRow() >= 1 && buffer.GetCursorRow() <= buffer.RowCount());
  CheckCursorInShape(buffer);
  FUZZ_CHECK(service.GetState() <= TBoardService::Executing);
  FUZZ_CHECK(service.GetPendingRow() == 0 || service.GetState() == TBoardService::CursorAddress);
  FUZZ_CHECK(service.GetAttributeMode() <= 12);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // Built once: the interpreter touches nothing that ResetConsole does not put back, so
  // every input starts from the same screen, and the fuzzer spends its time on the bytes.
  static TTerminalBuffer buffer = [] {
    TTerminalBuffer sized;
    sized.tbSetSVRowCount(24);
    return sized;
  }();
  static QuietBoardWindow window;
  static TBoardService service(buffer, window);
  service.ResetConsole();
  TInvalidRect drained;
  buffer.GetInvalidRect(drained);

  std::size_t at = 0;
  while (at < size) {
    const std::uint8_t header = data[at++];
    const std::size_t length = header & 0x7F;
    for (std::size_t i = 0; i < length && at < size; ++i, ++at) {
      // Frames are board_fuzz's business, with the file service in a sandbox; here every
      // type byte is one that is not served, so the lead-in is taken and dropped again.
      const bool typeByte = service.GetState() == TBoardService::CommandType;
      service.ProcessBoardByte(typeByte ? kUnservedType : data[at]);
      CheckInShape(buffer, service);
    }
    CheckInvalidRect(buffer);
    if (header & 0x80) {
      service.ResetConsole();
      FUZZ_CHECK(service.GetState() == TBoardService::Console);
      FUZZ_CHECK(buffer.GetCursorRow() == 1 && buffer.GetCursorCol() == 1);
    }
  }
  CheckEveryRow(buffer);
  return 0;
}
