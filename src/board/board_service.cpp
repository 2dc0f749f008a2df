#include "board/board_service.h"

#include <algorithm>
#include <array>
#include <memory>
#include <string>

namespace mirte {

namespace {

struct TAttributePair {
  std::uint8_t On;   // applied by SO
  std::uint8_t Off;  // applied by SI
};

// Indexed by attributeMode. Mode 1, the one after reset, is the odd one out: SO dims the
// text and SI makes it bright again; every other mode switches something on with SO and
// back to plain dim text with SI.
constexpr std::array<TAttributePair, 13> kAttributePairs = {{
    {TAttr::Bold, 0},                                                // 0 "@"
    {0, TAttr::Bold},                                                // 1 "A"
    {TAttr::Bold | TAttr::Strikethrough, 0},                         // 2 "B"
    {TAttr::Strikethrough, 0},                                       // 3 "C"
    {TAttr::Bold | TAttr::Reverse, 0},                               // 4 "P"
    {TAttr::Reverse, 0},                                             // 5 "Q"
    {TAttr::Bold | TAttr::Strikethrough | TAttr::Reverse, 0},        // 6 "R"
    {TAttr::Strikethrough | TAttr::Reverse, 0},                      // 7 "S"
    {TAttr::Bold | TAttr::Underline, 0},                             // 8 grave accent
    {TAttr::Underline, 0},                                           // 9 "a"
    {TAttr::Bold | TAttr::Underline | TAttr::Strikethrough, 0},      // 10 "b"
    {TAttr::Underline | TAttr::Strikethrough, 0},                    // 11 "c"
    {TAttr::Invisible, 0},                                           // 12 "D"
}};

// The attribute mode a letter after ESC "0" selects, or -1 for a letter that selects none.
int AttributeModeOf(std::uint8_t letter) {
  switch (letter) {
    case '@': return 0;
    case 'A': return 1;
    case 'B': return 2;
    case 'C': return 3;
    case 'D': return 12;
    case 'P': return 4;
    case 'Q': return 5;
    case 'R': return 6;
    case 'S': return 7;
    case '`': return 8;
    case 'a': return 9;
    case 'b': return 10;
    case 'c': return 11;
    default: return -1;
  }
}

// Cursor address bytes carry row and column offset by 32; the board's screen is 24 x 80.
constexpr std::uint8_t kAddressOffset = 31;
constexpr std::uint8_t kFirstAddressByte = 32;
constexpr std::uint8_t kLastRowByte = 32 + 23;
constexpr std::uint8_t kLastColumnByte = 32 + 79;

class TNoConsoleEvents : public IConsoleEvents {
public:
  void Printed(std::uint8_t, std::uint8_t) override {}
  void Home() override {}
  void CursorRight() override {}
  void Backspace() override {}
  void LineFeed() override {}
  void Cleared() override {}
  void CarriageReturn() override {}
  void LineBlanked() override {}
  void CursorUp() override {}
  void NewLine() override {}
  void ErasedToEnd(bool) override {}
  void Addressed(int, int) override {}
};

// List output without a printer: the layout runs, nothing is drawn.
class TNoPrinter : public IPrinterCanvas {
public:
  void BeginDoc(const std::string&) override {}
  void NewPage() override {}
  void EndDoc() override {}
  void Abort() override {}
  int PageWidth() const override { return 2400; }
  int PageHeight() const override { return 3300; }
  int TextHeight(std::string_view) const override { return 50; }
  int TextWidth(std::string_view text) const override { return 25 * static_cast<int>(text.size()); }
  void TextOut(int, int, std::string_view) override {}
};

}  // namespace

TBoardService::TBoardService(TTerminalBuffer& buffer, IBoardWindow& window, TBoardLinks links)
    : buffer_(buffer),
      window_(window),
      port_(links.Port),
      noConsoleEvents_(std::make_unique<TNoConsoleEvents>()),
      consoleEvents_(noConsoleEvents_.get()),
      noPrinter_(links.Printer ? nullptr : std::make_unique<TNoPrinter>()),
      fileService_(paramBuffer, recordBuffer, std::move(links.ProgramFiles)),
      listOutput_(window, links.Printer ? *links.Printer : *noPrinter_,
                 links.Settings ? *links.Settings : noSettings_) {}

TBoardService::~TBoardService() = default;

void TBoardService::SetConsoleEvents(IConsoleEvents* events) {
  consoleEvents_ = events != nullptr ? events : noConsoleEvents_.get();
}

void TBoardService::InitFileService() {
  fileService_.InitFileService();
  listOutput_.printJobOpen = false;
  // Nothing of a board served before reaches the replies of the next one.
  std::fill(std::begin(paramBuffer), std::end(paramBuffer), std::uint8_t{0});
  std::fill(std::begin(recordBuffer), std::end(recordBuffer), std::uint8_t{0});
}

void TBoardService::ProcessBoardByte(std::uint8_t byte) {
  // A DLE is held back: it may lead in a frame, and one that does not is not shown either.
  if (consoleTap_ != nullptr && state <= CursorAddress && !(state == Console && byte == 16))
    consoleTap_->ConsoleOutput(byte);
  switch (state) {
    case Console:
      ConsoleByte(byte);
      break;
    case Escape:
      EscapeByte(byte);
      break;
    case AttributeSelect:
      AttributeSelectByte(byte);
      break;
    case CursorAddress:
      CursorAddressByte(byte);
      break;
    case LeadIn:
      // Neither the DLE nor a byte other than DC1 is shown.
      state = byte == 17 ? CommandType : Console;
      break;
    default:
      ProcessCommandByte(byte);
      break;
  }
}

void TBoardService::ConsoleByte(std::uint8_t byte) {
  switch (byte) {
    case 1:  // SOH: home; the buffer clamps row 0, column 0 to the top-left cell
      buffer_.GotoRowCol(0, 0);
      consoleEvents_->Home();
      break;
    case 6:  // ACK: cursor right, wrapping and scrolling
      buffer_.CursorRight(true, true);
      consoleEvents_->CursorRight();
      break;
    case 7:  // BEL
      window_.Beep();
      break;
    case 8:   // BS
    case 21:  // NAK: both step left without erasing
      buffer_.CursorBackspace();
      consoleEvents_->Backspace();
      break;
    case 10:  // LF
      buffer_.LineFeed();
      consoleEvents_->LineFeed();
      break;
    case 12:  // FF: clear the screen, cursor home
      buffer_.ClearScreenHome();
      consoleEvents_->Cleared();
      break;
    case 13:  // CR
      buffer_.CarriageReturn();
      consoleEvents_->CarriageReturn();
      break;
    case 14:  // SO: attribute on
      buffer_.SetCurrentAttributes(kAttributePairs[attributeMode].On);
      break;
    case 15:  // SI: attribute off
      buffer_.SetCurrentAttributes(kAttributePairs[attributeMode].Off);
      break;
    case 16:  // DLE: a command frame may follow
      state = LeadIn;
      break;
    case 25:  // EM: blank the row, cursor to column 1
      buffer_.EraseWholeLine();
      buffer_.CarriageReturn();
      consoleEvents_->LineBlanked();
      break;
    case 26:  // SUB: cursor up, stopping at the first row
      buffer_.CursorUp(false);
      consoleEvents_->CursorUp();
      break;
    case 27:  // ESC
      state = Escape;
      break;
    case 29:  // GS: new line
      buffer_.CarriageReturn();
      buffer_.LineFeed();
      consoleEvents_->NewLine();
      break;
    default:  // everything else is shown as it comes, TAB and NUL included
      buffer_.PutChar(byte);
      consoleEvents_->Printed(byte, buffer_.GetCurrentAttributes());
      break;
  }
}

void TBoardService::EscapeByte(std::uint8_t byte) {
  state = Console;
  switch (byte) {
    case '0':
      state = AttributeSelect;
      break;
    case 'K':
      buffer_.EraseLineFromCursor();
      consoleEvents_->ErasedToEnd(false);
      break;
    case 'k':
      buffer_.EraseScreenFromCursor();
      consoleEvents_->ErasedToEnd(true);
      break;
    case 'M':
      window_.SetCursorShape(TCursorType::ctUnderline);
      break;
    case 'P':
      window_.SetCursorShape(TCursorType::ctNone);
      break;
    case 'Q':
      window_.SetCursorShape(TCursorType::ctBlock);
      break;
    case 'Y':
      state = CursorAddress;
      break;
    default:  // an unknown sequence is dropped, letter and all
      break;
  }
}

void TBoardService::AttributeSelectByte(std::uint8_t byte) {
  // The letter only chooses the pair; the current attributes change at the next SO or SI.
  if (const int mode = AttributeModeOf(byte); mode >= 0) attributeMode = std::uint8_t(mode);
  state = Console;
}

void TBoardService::CursorAddressByte(std::uint8_t byte) {
  // A row byte of 0 cannot be told from "no row yet", so the next byte is taken as the row.
  if (pendingRow == 0) {
    pendingRow = byte;
    return;
  }
  const bool rowValid = pendingRow >= kFirstAddressByte && pendingRow <= kLastRowByte;
  const bool colValid = byte >= kFirstAddressByte && byte <= kLastColumnByte;
  if (rowValid && colValid) {
    buffer_.GotoRowCol(pendingRow - kAddressOffset, byte - kAddressOffset);
    consoleEvents_->Addressed(pendingRow - kAddressOffset, byte - kAddressOffset);
  }
  pendingRow = 0;
  state = Console;
}

void TBoardService::ResetConsole() {
  window_.RemoveSelect();
  buffer_.SetDefaultAttributes(kDefaultAttributes);
  buffer_.ResetBuffer();
  buffer_.ClearScreenHome();
  window_.SetCursorShape(TCursorType::ctUnderline);
  window_.SetStatusText("");
  ReturnToConsole();
}

void TBoardService::AbandonFrame() {
  // A frame cut off while its record came in leaves "WAIT !" behind; the text from before
  // the frame comes back.
  if (state >= CommandType && state <= Data) RestoreStatusMessage();
  ReturnToConsole();
}

void TBoardService::ReturnToConsole() {
  state = Console;
  pendingRow = 0;
  attributeMode = 1;
  commandType = 0;
  paramCount = 0;
  dataCount = 0;
  paramIndex = 0;
  dataIndex = 0;
}

}  // namespace mirte
