// SPDX-License-Identifier: GPL-3.0-or-later
#include "encoders/flac/flac_joiner.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <stdexcept>
#include <vector>

#include "encoders/custom_coder.h"
#include "encoders/flac/flac_coder.h"
#include "encoders/flac/flac_lib.h"

extern "C" {
#include <libavutil/md5.h>
#include <libavutil/mem.h>
}

namespace {

// A stream in memory, as a file would hold it, with where each frame lies.
class TMemorySink final : public TFLACSink {
 public:
  std::vector<uint8_t> Bytes;
  std::vector<std::pair<size_t, size_t>> Frames;  // offset, length

  void Write(const uint8_t *Data, size_t Count, unsigned Samples) override {
    if (Samples > 0) Frames.emplace_back(At, Count);
    if (Bytes.size() < At + Count) Bytes.resize(At + Count);
    std::memcpy(Bytes.data() + At, Data, Count);
    At += Count;
  }
  void Seek(int64_t Position) override { At = size_t(Position); }
  int64_t Position() override { return int64_t(At); }

 private:
  size_t At = 0;
};

// The frame checksums: CRC-8 (polynomial 0x07) of the header and CRC-16
// (0x8005) of the whole frame, both most significant bit first from zero.
template <typename T, unsigned Polynomial>
constexpr std::array<T, 256> CrcTable() {
  std::array<T, 256> table{};
  constexpr unsigned top = sizeof(T) * 8 - 8;
  for (unsigned i = 0; i < 256; ++i) {
    unsigned crc = i << top;
    for (int bit = 0; bit < 8; ++bit)
      crc = crc & (1u << (top + 7)) ? (crc << 1) ^ Polynomial : crc << 1;
    table[i] = T(crc);
  }
  return table;
}
constexpr std::array<uint8_t, 256> kCrc8 = CrcTable<uint8_t, 0x07>();
constexpr std::array<uint16_t, 256> kCrc16 = CrcTable<uint16_t, 0x8005>();

uint8_t Crc8(const uint8_t *Data, size_t Count) {
  uint8_t crc = 0;
  for (size_t i = 0; i < Count; ++i) crc = kCrc8[crc ^ Data[i]];
  return crc;
}

uint16_t Crc16(const uint8_t *Data, size_t Count) {
  uint16_t crc = 0;
  for (size_t i = 0; i < Count; ++i) crc = uint16_t(crc << 8) ^ kCrc16[(crc >> 8) ^ Data[i]];
  return crc;
}

// Products of CRC-16 remainders, modulo the polynomial.
uint16_t Crc16Multiply(uint16_t A, uint16_t B) {
  uint16_t product = 0;
  for (int bit = 15; bit >= 0; --bit) {
    product = uint16_t(product << 1) ^ (product & 0x8000 ? 0x8005 : 0);
    if (B >> bit & 1) product ^= A;
  }
  return product;
}

// x to the power of 8 * Bytes, modulo the polynomial: what a remainder is
// multiplied by when Bytes bytes follow.
uint16_t Crc16Shift(size_t Bytes) {
  uint16_t result = 1, power = 0x100;  // x^8
  for (; Bytes; Bytes >>= 1, power = Crc16Multiply(power, power))
    if (Bytes & 1) result = Crc16Multiply(result, power);
  return result;
}

// The frame number as a frame header codes it (UTF-8 style, up to 31 bits).
void PutFrameNumber(uint32_t Number, std::vector<uint8_t> &Out) {
  if (Number < 0x80) {
    Out.push_back(uint8_t(Number));
    return;
  }
  int extra = Number < 0x800 ? 1 : Number < 0x10000 ? 2 : Number < 0x200000 ? 3 : Number < 0x4000000 ? 4 : 5;
  Out.push_back(uint8_t((0xFF00 >> (extra + 1)) | (Number >> (6 * extra))));
  for (int i = extra - 1; i >= 0; --i) Out.push_back(uint8_t(0x80 | ((Number >> (6 * i)) & 0x3F)));
}

size_t FrameNumberLength(uint8_t First) {
  size_t ones = 0;
  while (ones < 8 && (First & (0x80 >> ones))) ++ones;
  return ones == 0 ? 1 : ones;
}

// Appends Frame to Out with its number changed to Number and both checksums
// made again. The CRC-16 is linear: only the header's part of it changes, so
// the body is not read again, however long it is.
void AppendRenumbered(const uint8_t *Frame, size_t Length, uint32_t Number, std::vector<uint8_t> &Out) {
  if (Length < 7 || Frame[0] != 0xFF || Frame[1] != 0xF8)
    throw std::runtime_error("FLAC frame of a fixed block size expected");
  const size_t oldNumber = FrameNumberLength(Frame[4]);
  const unsigned blockCode = Frame[2] >> 4, rateCode = Frame[2] & 0x0F;
  const size_t tail = (blockCode == 6 ? 1 : blockCode == 7 ? 2 : 0) +
                      (rateCode == 12 ? 1 : rateCode == 13 || rateCode == 14 ? 2 : 0);
  const size_t headerEnd = 4 + oldNumber + tail;  // where the header's CRC-8 is
  if (headerEnd + 3 > Length) throw std::runtime_error("FLAC frame cut short");
  const size_t start = Out.size();
  Out.insert(Out.end(), Frame, Frame + 4);
  PutFrameNumber(Number, Out);
  Out.insert(Out.end(), Frame + 4 + oldNumber, Frame + headerEnd);
  Out.push_back(Crc8(Out.data() + start, Out.size() - start));
  const size_t body = Length - 2 - (headerEnd + 1);
  Out.insert(Out.end(), Frame + headerEnd + 1, Frame + Length - 2);
  const uint16_t headers = Crc16(Frame, headerEnd + 1) ^ Crc16(Out.data() + start, Out.size() - start - body);
  const uint16_t crc = uint16_t(Frame[Length - 2] << 8 | Frame[Length - 1]) ^
                       Crc16Multiply(headers, Crc16Shift(body));
  Out.push_back(uint8_t(crc >> 8));
  Out.push_back(uint8_t(crc));
}

struct TFLACSpan : TEncodedSpan {
  std::vector<uint8_t> Frames;  // numbered for their place in the file
  uint32_t MinFrame = (1u << 24) - 1, MaxFrame = 0;  // where the library starts them
};

// Where the fields completed at the end lie in the stream information block,
// which follows "fLaC" and its block header.
constexpr size_t kFrameSizesAt = 8 + 4, kTotalSamplesAt = 8 + 13, kMd5At = 8 + 18;

class TFLACJoiner final : public TSpanJoiner {
 public:
  TFLACJoiner(const std::string &FileName, const TAudioInfo &AudioInfo, const TFLACOptions &Options)
      : FileName(FileName), AudioInfo(AudioInfo), Options(Options),
        Stream(AudioInfo.Streams.at(size_t(AudioInfo.Index))) {}
  ~TFLACJoiner() override { av_free(Md5); }

  const char *ClassName() const override { return "TFLACCoder"; }
  int BufferSize() const override { return Options.BlockSize; }
  int64_t Quantum() const override { return Options.BlockSize; }

  void Start() override {
    File = CreateFileStream(FileName);
    // What the library writes before the first frame is the same for every
    // span: the file's beginning.
    TMemorySink sink;
    TFLAC_Coder probe;
    StartInMemory(probe, sink);
    Header = std::move(sink.Bytes);
    if (Header.size() < kMd5At + 16) throw std::runtime_error("FLAC stream information expected");
    File->Write(Header.data(), Header.size());
    Md5 = av_md5_alloc();
    if (!Md5) throw std::bad_alloc();
    av_md5_init(Md5);
  }

  std::unique_ptr<TEncodedSpan> Encode(int64_t FirstFrame, const uint8_t *Samples, size_t Bytes,
                                       const TSpanAround &) const override {
    TMemorySink sink;
    TFLAC_Coder coder;
    coder.SumSamples = false;  // Append sums the whole file's
    StartInMemory(coder, sink);
    coder.Encode(Samples, int(Bytes));
    if (!coder.Finish()) throw std::runtime_error(coder.FailureText());
    auto span = std::make_unique<TFLACSpan>();
    span->Frames.reserve(sink.Bytes.size() + sink.Frames.size() * 4);
    uint32_t number = uint32_t(FirstFrame / Options.BlockSize);
    for (const auto &[offset, length] : sink.Frames) {
      const size_t before = span->Frames.size();
      AppendRenumbered(sink.Bytes.data() + offset, length, number++, span->Frames);
      const auto size = uint32_t(span->Frames.size() - before);
      span->MinFrame = std::min(span->MinFrame, size);
      span->MaxFrame = std::max(span->MaxFrame, size);
    }
    return span;
  }

  void Append(TEncodedSpan &Encoded, const uint8_t *Samples, size_t Bytes) override {
    const auto &span = static_cast<const TFLACSpan &>(Encoded);
    File->Write(span.Frames.data(), span.Frames.size());
    MinFrame = std::min(MinFrame, span.MinFrame);
    MaxFrame = std::max(MaxFrame, span.MaxFrame);
    TotalSamples += Bytes / size_t(Stream.Channels * Stream.BitsPerSample / 8);
    // 16-bit and packed 24-bit samples are the very bytes the library sums.
    av_md5_update(Md5, Samples, Bytes);
  }

  void Finish() override {
    if (!File) return;
    std::unique_ptr<TFileStream> file = std::move(File);
    CompleteHeader();
    file->Seek(0);
    file->Write(Header.data(), Header.size());
    file->Close();
  }

 private:
  // Starts the library as the one-piece coder does, writing into Sink.
  void StartInMemory(TFLAC_Coder &Coder, TMemorySink &Sink) const {
    Coder.Output = &Sink;
    ConfigureFLAC(Coder, Options, AudioInfo);
    Coder.Start();
  }

  // Fills in what the library fills in when it finishes, as it does (for no
  // frames too: the sizes stay at their starting values).
  void CompleteHeader() {
    uint8_t *sizes = Header.data() + kFrameSizesAt;
    for (int i = 0; i < 3; ++i) {
      sizes[i] = uint8_t(MinFrame >> (16 - 8 * i));
      sizes[3 + i] = uint8_t(MaxFrame >> (16 - 8 * i));
    }
    const uint64_t total = TotalSamples < (uint64_t(1) << 36) ? TotalSamples : 0;
    uint8_t *length = Header.data() + kTotalSamplesAt;
    length[0] = uint8_t((length[0] & 0xF0) | (total >> 32));
    for (int i = 1; i < 5; ++i) length[i] = uint8_t(total >> (32 - 8 * i));
    av_md5_final(Md5, Header.data() + kMd5At);
  }

  const std::string FileName;
  const TAudioInfo AudioInfo;
  const TFLACOptions Options;
  const TAudioInfoRec Stream;
  std::unique_ptr<TFileStream> File;
  std::vector<uint8_t> Header;
  AVMD5 *Md5 = nullptr;
  uint32_t MinFrame = (1u << 24) - 1, MaxFrame = 0;  // where the library starts them
  uint64_t TotalSamples = 0;
};

}  // namespace

std::unique_ptr<TSpanJoiner> CreateFLACJoiner(const std::string &FileName, const TTagRec &,
                                              const TAudioInfo &AudioInfo, const void *Options) {
  return std::make_unique<TFLACJoiner>(FileName, AudioInfo, *static_cast<const TFLACOptions *>(Options));
}
