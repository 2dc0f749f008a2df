#pragma once
// What the board service tells a watcher about every command frame, once the frame is done:
// the bytes the board sent, the PC path it was served from and the start of the reply.
// The service reports only while a watcher is attached; with none, a frame costs one
// pointer test. The watcher is called on the service's thread, in the middle of the
// frame's handling, so it must return quickly and must not feed the service bytes.
#include <array>
#include <chrono>
#include <cstdint>
#include <string>

#include "board/file_service.h"

namespace mirte {

struct TFrameFacts {
  using Clock = std::chrono::steady_clock;

  std::uint8_t Type = 0;
  // False for a type the service does not serve: the frame ended at its type byte.
  bool Served = true;
  // The parameter bytes as the board sent them, before the command wrote into them.
  std::array<std::uint8_t, kParamBufferSize> Params{};
  std::uint8_t ParamCount = 0;
  // The record a sequential read or write started at: the open file's position before the
  // transfer, in records; -1 for other frames and for a file the board had not open.
  std::int64_t SequentialRecord = -1;
  // The letter that drive byte 0 stood for when the frame was carried out; set for a name
  // block on drive 0 only.
  char CurrentDrive = 'C';
  // The PC file or pattern the command used (for a search that found a file, that file;
  // for a drive selection, the folder now current); empty when it named none.
  std::string Path;
  // The first bytes of the reply and how many bytes the reply had in all.
  std::array<std::uint8_t, 3> ReplyHead{};
  std::uint32_t BytesOut = 0;
  // Bytes of the frame from DLE on.
  std::uint32_t BytesIn = 0;
  // When the frame's last byte was taken, and when its reply had been handed to the port
  // (for a record, when the record had left).
  Clock::time_point LastByte;
  Clock::time_point ReplyEnd;
};

class IFrameObserver {
public:
  virtual ~IFrameObserver() = default;
  virtual void FrameDone(const TFrameFacts& facts) = 0;
};

}  // namespace mirte
