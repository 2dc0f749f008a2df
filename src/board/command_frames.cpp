// The frame collector: the states that follow DLE DC1.
#include "board/board_service.h"

namespace mirte {

void TBoardService::ProcessCommandByte(std::uint8_t byte) {
  switch (state) {
    case CommandType:
      // No frame type is served yet, so every type ends the frame as an unknown one does
      // and the bytes after it are console output again.
      commandType = byte;
      state = Console;
      break;
    default:  // Executing: bytes that arrive while a command runs are dropped
      break;
  }
}

}  // namespace mirte
