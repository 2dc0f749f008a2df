#include "eprom/bin_writer.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "common/msg_table.h"
#include "platform/code_page.h"

namespace mirte {

namespace {

constexpr std::uint8_t kDriveN = 0x0E;  // drive N:, counting A: as 1
constexpr std::int32_t kPageSize = 32768;
constexpr std::size_t kEntrySize = 36;

// Stores an image offset as the board addresses it: offset within a 32 KB page, then the
// page. With the Q17 option the offset's bit 15 repeats the page's lowest bit.
void PutPageAddress(std::uint8_t* at, std::int32_t address, bool q17) {
  const std::int32_t page = address / kPageSize;
  const std::int32_t offset = address % kPageSize;
  at[0] = static_cast<std::uint8_t>(offset & 0xFF);
  at[1] = static_cast<std::uint8_t>((offset >> 8) | (q17 && (page & 1) ? 0x80 : 0x00));
  at[2] = static_cast<std::uint8_t>(page);
}

void PutWord(std::uint8_t* at, std::int32_t value) {
  at[0] = static_cast<std::uint8_t>(value & 0xFF);
  at[1] = static_cast<std::uint8_t>((value >> 8) & 0xFF);
}

// Name part and extension of a 12-byte padded name, as the board's directory splits it:
// the extension is the last '.' and the next three bytes (padding blanks included), and
// the name is what comes before the first place that text occurs.
void PutNameAndExtension(std::uint8_t* entry, const std::string& paddedName) {
  std::memset(entry + 1, ' ', 11);
  std::string name = paddedName;
  std::string extension;
  if (const auto dot = paddedName.rfind('.'); dot != std::string::npos) {
    extension = paddedName.substr(dot, 4);
    name = paddedName.substr(0, paddedName.find(extension));
  }
  std::memcpy(entry + 1, name.data(), std::min<std::size_t>(name.size(), 8));
  if (extension.size() > 1) std::memcpy(entry + 9, extension.data() + 1, std::min<std::size_t>(extension.size() - 1, 3));
}

// Reads up to count bytes; fewer only at the end of the file or on an error.
std::int64_t ReadFully(int fd, std::uint8_t* into, std::int64_t count) {
  std::int64_t got = 0;
  while (got < count) {
    const ssize_t n = ::read(fd, into + got, static_cast<std::size_t>(count - got));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += n;
  }
  return got;
}

std::int64_t WriteFully(int fd, const std::uint8_t* from, std::int64_t count) {
  std::int64_t put = 0;
  while (put < count) {
    const ssize_t n = ::write(fd, from + put, static_cast<std::size_t>(count - put));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    put += n;
  }
  return put;
}

// Opens for reading without ever blocking on a pipe or device that was listed by mistake.
int OpenForReading(const std::string& path) {
  int fd;
  do fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  while (fd < 0 && errno == EINTR);
  return fd;
}

// Length by seeking to the end and back to the start; -1 when either seek fails.
std::int64_t LengthAndRewind(int fd) {
  const off_t end = ::lseek(fd, 0, SEEK_END);
  if (end < 0 || ::lseek(fd, 0, SEEK_SET) != 0) return -1;
  return end;
}

class TFileCloser {
public:
  explicit TFileCloser(int fd) : fd_(fd) {}
  ~TFileCloser() {
    if (fd_ >= 0) ::close(fd_);
  }
  TFileCloser(const TFileCloser&) = delete;
  TFileCloser& operator=(const TFileCloser&) = delete;

private:
  int fd_;
};

}  // namespace

void MakeRomDir(const TRDRec& rec, std::span<std::uint8_t, kRomDirSize> dir) {
  std::fill(dir.begin(), dir.end(), std::uint8_t{0});
  const int count = std::min<int>(rec.FileCount, kMaxRomDiskFiles);
  if (count == 0) return;
  std::int32_t address = rec.EPROM().DataStart();
  for (int i = 1; i <= count; ++i) {
    const TDirList& file = rec.Files[static_cast<std::size_t>(i - 1)];
    std::uint8_t* entry = dir.data() + kEntrySize * static_cast<std::size_t>(i);
    entry[0] = kDriveN;
    PutNameAndExtension(entry, PadRomDiskName(file.Name));
    PutPageAddress(entry + 16, address, rec.Q17);
    PutWord(entry + 19, file.Size / kRomRecordSize);
    address += file.Size;
  }
  std::uint8_t* header = dir.data();
  header[0] = kDriveN;
  header[1] = static_cast<std::uint8_t>(count);
  PutWord(header + 2, 0x4000 + static_cast<std::int32_t>(kEntrySize) * (count + 1));
  header[4] = 0xFF;
  PutPageAddress(header + 5, address, rec.Q17);
  header[35] = 0x55;
}

TBinWriter::TBinWriter(const TRDRec& rec, int language, IBinProgress& progress)
    : rec_(rec), language_(language), progress_(progress) {}

TBinWriter::~TBinWriter() {
  if (output_ >= 0) ::close(output_);
}

void TBinWriter::Say(int message) { progress_.ShowMessage(std::string(MsgTable(language_, message)), false); }

void TBinWriter::MakeRomDir() {
  mirte::MakeRomDir(rec_, std::span<std::uint8_t, kRomDirSize>(dirBuffer_.get(), kRomDirSize));
}

void TBinWriter::WriteBlk() {
  if (::lseek(output_, position, SEEK_SET) != position) {
    state = kBinWriteError;
    return;
  }
  if (WriteFully(output_, copyBuffer_.get(), blockLength_) < blockLength_) {
    state = kBinWriteError;
    return;
  }
  position += blockLength_;
  progress_.SetProgress(position);
}

void TBinWriter::FillFF(std::int32_t n) {
  if (n <= 0) return;
  std::memset(copyBuffer_.get(), 0xFF, static_cast<std::size_t>(std::min(n, kCopyBufferSize)));
  blockLength_ = kCopyBufferSize;
  for (std::int32_t i = 0; i < n / kCopyBufferSize && state == kBinOk; ++i) WriteBlk();
  if (state == kBinOk && n % kCopyBufferSize > 0) {
    blockLength_ = n % kCopyBufferSize;
    WriteBlk();
  }
}

bool TBinWriter::CopyOSImage() {
  const int fd = OpenForReading(rec_.SOLVFile);
  if (fd < 0) return false;
  TFileCloser closer(fd);
  const std::int64_t length = LengthAndRewind(fd);
  // The size was checked when the image was chosen; one that has grown since would no
  // longer fit before the directory, so it is refused rather than cut.
  if (length < 0 || length > kMaxOSImageSize) return false;
  if (ReadFully(fd, copyBuffer_.get(), length) < length) return false;
  blockLength_ = static_cast<std::int32_t>(length);
  WriteBlk();
  return true;
}

bool TBinWriter::CopyRomDiskFile(const TDirList& entry) {
  const int fd = OpenForReading(entry.Path);
  if (fd < 0) return false;
  TFileCloser closer(fd);
  const std::int64_t length = LengthAndRewind(fd);
  // The directory was built from the listed size: a file whose slot has changed since
  // would put every later file somewhere other than where its entry says.
  if (length < 0 || RoundToRecords(length) != entry.Size) return false;
  for (std::int64_t block = 0; block < length / kCopyBufferSize && state == kBinOk; ++block) {
    if (ReadFully(fd, copyBuffer_.get(), kCopyBufferSize) < kCopyBufferSize) return false;
    blockLength_ = kCopyBufferSize;
    WriteBlk();
  }
  const auto rest = static_cast<std::int32_t>(length % kCopyBufferSize);
  if (state == kBinOk && rest > 0) {
    if (ReadFully(fd, copyBuffer_.get(), rest) < rest) return false;
    blockLength_ = RoundToRecords(rest);
    std::memset(copyBuffer_.get() + rest, 0x1A, static_cast<std::size_t>(blockLength_ - rest));
    WriteBlk();
  }
  return true;
}

void TBinWriter::MakeBIN() {
  copyBuffer_ = std::make_unique<std::uint8_t[]>(kCopyBufferSize);
  dirBuffer_ = std::make_unique<std::uint8_t[]>(kRomDirSize);
  state = kBinOk;
  position = 0;
  int failedEntry = 0;

  Say(78);
  MakeRomDir();
  const TEPROMKind& eprom = rec_.EPROM();
  progress_.SetProgressMax(eprom.ImageSize);
  progress_.SetProgress(0);

  do output_ = ::open(rec_.BinFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  while (output_ < 0 && errno == EINTR);
  if (output_ < 0) state = kBinCreateError;

  if (state == kBinOk) {
    Say(79);
    if (!CopyOSImage() && state == kBinOk) state = kBinOSImageError;
  }
  if (state == kBinOk && position < eprom.OSArea) {
    Say(80);
    FillFF(eprom.OSArea - position);
  }
  if (state == kBinOk) {
    Say(81);
    if (::lseek(output_, position, SEEK_SET) != position ||
        WriteFully(output_, dirBuffer_.get(), kRomDirSize) < kRomDirSize) {
      state = kBinWriteError;
    } else {
      position += kRomDirSize;
      progress_.SetProgress(position);
    }
  }
  const int count = std::min<int>(rec_.FileCount, kMaxRomDiskFiles);
  for (int i = 1; i <= count && state == kBinOk; ++i) {
    const TDirList& entry = rec_.Files[static_cast<std::size_t>(i - 1)];
    const std::string line = (" N:" + PadRomDiskName(entry.Name)).substr(0, 15);
    progress_.ShowMessage(Cp1252ToUtf8(line) + std::string(MsgTable(language_, 82)), false);
    if (!CopyRomDiskFile(entry) && state == kBinOk) {
      state = kBinRomFileError;
      failedEntry = i;
    }
  }
  if (state == kBinOk && position < eprom.ImageSize) {
    Say(83);
    FillFF(eprom.ImageSize - position);
  }
  Finish(failedEntry);
}

void TBinWriter::Finish(int failedEntry) {
  if (output_ >= 0) {
    ::close(output_);
    output_ = -1;
  }
  switch (state) {
    case kBinOk: finalMessage_ = MsgTable(language_, 84); break;
    case kBinWriteError:
    case kBinCreateError: finalMessage_ = MsgTable(language_, 85); break;
    case kBinOSImageError: finalMessage_ = MsgTable(language_, 86); break;
    case kBinRomFileError:
      finalMessage_ = std::string(MsgTable(language_, 59)) +
                     Cp1252ToUtf8(PadRomDiskName(rec_.Files[static_cast<std::size_t>(failedEntry - 1)].Name));
      break;
  }
  progress_.ShowMessage(finalMessage_, state != kBinOk);
  copyBuffer_.reset();
  dirBuffer_.reset();
}

}  // namespace mirte
