#pragma once
// The EPROM image writer: the ROM-disk directory and the image file built from a TRDRec.
// The first failure ends the build; the output keeps what was written until then, and
// nothing at all is written when it cannot be created. The buffers live only for one
// build. Progress and messages go to an IBinProgress, so the writer needs no window.
#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "eprom/rd_rec.h"

namespace mirte {

// What the progress window shows while an image is written. Texts are UTF-8.
class IBinProgress {
public:
  virtual ~IBinProgress() = default;
  virtual void SetProgressMax(std::int32_t max) = 0;
  virtual void SetProgress(std::int32_t position) = 0;
  // failed is true only for the final message of a failed build (shown in red).
  virtual void ShowMessage(const std::string& text, bool failed) = 0;
};

enum TBinState : std::uint8_t {
  kBinOk = 0,
  kBinWriteError = 1,
  kBinOSImageError = 2,
  kBinCreateError = 3,
  kBinRomFileError = 4,
};

constexpr std::int32_t kCopyBufferSize = 32768;

// Fills the 2304-byte directory: all zero for an empty list, else a header and one
// 36-byte entry per file with its start as 32 KB page offset and page number.
void MakeRomDir(const TRDRec& rec, std::span<std::uint8_t, kRomDirSize> dir);

class TBinWriter {
public:
  TBinWriter(const TRDRec& rec, int language, IBinProgress& progress);
  ~TBinWriter();
  TBinWriter(const TBinWriter&) = delete;
  TBinWriter& operator=(const TBinWriter&) = delete;

  // Writes the image file, reports the outcome and releases the buffers.
  void MakeBIN();

  TBinState State() const { return state; }
  const std::string& FinalMessage() const { return finalMessage_; }
  bool BuffersHeld() const { return copyBuffer_ != nullptr || dirBuffer_ != nullptr; }

private:
  void MakeRomDir();
  void WriteBlk();
  void FillFF(std::int32_t n);
  void Say(int message);
  bool CopyOSImage();
  bool CopyRomDiskFile(const TDirList& entry);
  void Finish(int failedEntry);

  const TRDRec& rec_;
  int language_;
  IBinProgress& progress_;

  std::unique_ptr<std::uint8_t[]> copyBuffer_;
  std::unique_ptr<std::uint8_t[]> dirBuffer_;
  int output_ = -1;
  std::int32_t position = 0;
  std::int32_t blockLength_ = 0;
  TBinState state = kBinOk;
  std::string finalMessage_;
};

}  // namespace mirte
