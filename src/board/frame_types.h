#pragma once
// The command frames the board serves, one row per type byte: the parameter bytes that
// follow the type, the record that travels with the frame either way, whether the frame
// names a file, and what its reply holds. The frame collector, the frame report and the
// monitor all read this table, so a new type is a new row here, its case where frames are
// carried out and its file-service operation. A type byte without a row is not served:
// its frame ends at that byte and the bytes after it are console output.
#include <array>
#include <cstdint>

#include "board/file_service.h"
#include "common/monitor_texts.h"

namespace mirte {

// The board's type numbers; the switches over this enum name every type, so the compiler
// points at a switch that misses one.
enum class TFrameType : std::uint8_t {
  Print = 5,
  DiskReset = 13,
  SelectDrive = 14,
  Open = 15,
  Close = 16,
  SearchFirst = 17,
  SearchNext = 18,
  Delete = 19,
  ReadNext = 20,
  WriteNext = 21,
  Make = 22,
  Rename = 23,
  DriveVector = 24,
  CurrentDrive = 25,
  ReadOnlyDrives = 29,
  Attributes = 30,
  UserNumber = 32,
  ReadRandom = 33,
  WriteRandom = 34,
  FileSize = 35,
  CurrentRecord = 36,
  ResetDrives = 37,
  WriteZeroFill = 40,
};

enum class TReplyShape : std::uint8_t {
  None,             // nothing is sent back
  Result,           // one result byte
  ResultAndName,    // the result, then the 12 bytes of the name block found
  ResultAndRecord,  // the result, then the 128 bytes of the record
  DriveVector,      // two bytes, one bit per drive A to P, low byte first
  DriveNumber,      // one byte, 0 = A
  ThreeBytes,       // a record count or number, low byte first
};

struct TFrameKind {
  TFrameType Type;
  TTextPair Name;
  std::uint8_t ParamBytes;
  bool RecordIn;       // 128 data bytes follow the parameters
  bool RecordOut;      // the reply carries a record
  bool NamesFile;      // parameter bytes 0 to 11 are a name block
  bool RandomAccess;   // parameter bytes 12 and 13 are a record number, low byte first
  TReplyShape Reply;
};

inline constexpr std::array<TFrameKind, 23> kFrameKinds{{
    // type                        name                  par   in     out    file   random reply
    {TFrameType::Print,            kFramePrint,           1, false, false, false, false, TReplyShape::None},
    {TFrameType::DiskReset,        kFrameDiskReset,       0, false, false, false, false, TReplyShape::None},
    {TFrameType::SelectDrive,      kFrameSelectDrive,     1, false, false, false, false, TReplyShape::None},
    {TFrameType::Open,             kFrameOpen,           12, false, false, true,  false, TReplyShape::Result},
    {TFrameType::Close,            kFrameClose,          12, false, false, true,  false, TReplyShape::Result},
    {TFrameType::SearchFirst,      kFrameSearchFirst,    12, false, false, true,  false, TReplyShape::ResultAndName},
    {TFrameType::SearchNext,       kFrameSearchNext,     12, false, false, true,  false, TReplyShape::ResultAndName},
    {TFrameType::Delete,           kFrameDelete,         12, false, false, true,  false, TReplyShape::Result},
    {TFrameType::ReadNext,         kFrameRead,           12, false, true,  true,  false, TReplyShape::ResultAndRecord},
    {TFrameType::WriteNext,        kFrameWrite,          12, true,  false, true,  false, TReplyShape::Result},
    {TFrameType::Make,             kFrameMake,           12, false, false, true,  false, TReplyShape::Result},
    {TFrameType::Rename,           kFrameRename,         23, false, false, true,  false, TReplyShape::Result},
    {TFrameType::DriveVector,      kFrameDrives,          0, false, false, false, false, TReplyShape::DriveVector},
    {TFrameType::CurrentDrive,     kFrameCurrentDrive,    0, false, false, false, false, TReplyShape::DriveNumber},
    {TFrameType::ReadOnlyDrives,   kFrameReadOnlyDrives,  0, false, false, false, false, TReplyShape::DriveVector},
    {TFrameType::Attributes,       kFrameAttributes,     12, false, false, true,  false, TReplyShape::Result},
    {TFrameType::UserNumber,       kFrameUserNumber,      0, false, false, false, false, TReplyShape::Result},
    {TFrameType::ReadRandom,       kFrameRandomRead,     14, false, true,  true,  true,  TReplyShape::ResultAndRecord},
    {TFrameType::WriteRandom,      kFrameRandomWrite,    14, true,  false, true,  true,  TReplyShape::Result},
    {TFrameType::FileSize,         kFrameFileSize,       12, false, false, true,  false, TReplyShape::ThreeBytes},
    {TFrameType::CurrentRecord,    kFrameCurrentRecord,  12, false, false, true,  false, TReplyShape::ThreeBytes},
    // The drive vector and the name block these two carry are ignored.
    {TFrameType::ResetDrives,      kFrameResetDrives,     2, false, false, false, false, TReplyShape::Result},
    {TFrameType::WriteZeroFill,    kFrameZeroFillWrite,  12, false, false, false, false, TReplyShape::Result},
}};

namespace frame_types_detail {
// Row index + 1 for each type byte, 0 for a byte that is not served: one look-up per frame,
// however many rows the table has.
inline constexpr std::array<std::uint8_t, 256> kRowOfByte = [] {
  std::array<std::uint8_t, 256> rows{};
  for (std::size_t i = 0; i < kFrameKinds.size(); ++i)
    rows[static_cast<std::uint8_t>(kFrameKinds[i].Type)] = static_cast<std::uint8_t>(i + 1);
  return rows;
}();
}  // namespace frame_types_detail

// The row of a type byte; nullptr for a byte that no served type has.
constexpr const TFrameKind* FindFrameKind(std::uint8_t type) {
  const std::uint8_t row = frame_types_detail::kRowOfByte[type];
  return row == 0 ? nullptr : &kFrameKinds[row - 1];
}

// DLE, DC1 and the type byte: all a frame of a type that is not served has.
constexpr std::uint32_t kFrameLeadInBytes = 3;

// Bytes of a served frame from DLE on: the lead-in, the parameters, the record.
constexpr std::uint32_t FrameBytesIn(const TFrameKind& kind) {
  return kFrameLeadInBytes + kind.ParamBytes + (kind.RecordIn ? static_cast<std::uint32_t>(kRecordSize) : 0u);
}

}  // namespace mirte
