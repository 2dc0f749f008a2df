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
#include "fuzz_check.h"
#include "terminal/terminal_buffer.h"

namespace {

using namespace mirte;

class QuietWindow : public IBoardWindow {
public:
  TShellFlags& Flags() override { return flags_; }
  int Language() const override { return kLanguageEnglish; }
  void SetCursorShape(TCursorType) override {}
  void RemoveSelect() override {}
  void Beep() override {}
  std::string StatusText() const override { return status_; }
  void SetStatusText(std::string_view text) override { status_ = text; }
  void RestartDeSelectTimer() override {}
  void SetPrintJobOpen(bool) override {}
  void WaitForPortNews() override {}
  void ProcessPendingEvents() override {}

private:
  static constexpr int kLanguageEnglish = 2;
  TShellFlags flags_;
  std::string status_;
};


constexpr std::uint8_t kUnservedType = 0;

void CheckInShape(const TTerminalBuffer& buffer, const TBoardService& service) {
  const int row = buffer.GetCursorRow();
  const int col = buffer.GetCursorCol();
  FUZZ_CHECK(row >= 1 && row <= buffer.RowCount());
  FUZZ_CHECK(col >= 1 && col <= buffer.ColCount());
  FUZZ_CHECK(!buffer.GetPendingWrap() || col == buffer.ColCount());
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
  static QuietWindow window;
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
    TInvalidRect rect;
    if (buffer.GetInvalidRect(rect)) {
      FUZZ_CHECK(rect.Left >= 1 && rect.Left <= rect.Right && rect.Right <= buffer.ColCount());
      FUZZ_CHECK(rect.Top >= 1 && rect.Top <= rect.Bottom && rect.Bottom <= buffer.RowCount());
    }
    if (header & 0x80) {
      service.ResetConsole();
      FUZZ_CHECK(service.GetState() == TBoardService::Console);
      FUZZ_CHECK(buffer.GetCursorRow() == 1 && buffer.GetCursorCol() == 1);
    }
  }
  return 0;
}
