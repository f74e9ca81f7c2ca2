// SPDX-License-Identifier: GPL-3.0-or-later
#include "encoders/wav/wav_coder.h"

#include <algorithm>
#include <vector>

namespace {

class THeaderWriter {
 public:
  void Text(const char *fourCC) { Bytes.insert(Bytes.end(), fourCC, fourCC + 4); }
  void U16(uint32_t v) { Put(v, 2); }
  void U32(uint32_t v) { Put(v, 4); }
  void Raw(const uint8_t *p, size_t n) { Bytes.insert(Bytes.end(), p, p + n); }
  std::vector<uint8_t> Bytes;

 private:
  void Put(uint32_t v, int n) {
    for (int i = 0; i < n; ++i) Bytes.push_back(uint8_t(v >> (8 * i)));
  }
};

constexpr uint16_t kFormatPcm = 1;
constexpr uint16_t kFormatFloat = 3;
constexpr uint16_t kFormatExtensible = 0xFFFE;
constexpr uint32_t kMaxChunkSize = 0xFFFFFFFFu;

// Speaker positions of the usual layouts for 3 to 8 channels, in the order
// sources deliver them (front left, front right, centre, LFE, back, side).
uint32_t ChannelMask(int channels) {
  switch (channels) {
    case 3: return 0x7;
    case 4: return 0x33;
    case 5: return 0x37;
    case 6: return 0x3F;
    case 7: return 0x70F;
    case 8: return 0x63F;
    default: return 0;
  }
}

// The sub-format GUID after its first four bytes (the format code and a zero
// word), the same for PCM and IEEE float.
const uint8_t kSubFormatTail[12] = {0x00, 0x00, 0x10, 0x00, 0x80, 0x00,
                                    0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

}  // namespace

void TWAVCoder::Start() {
  const TAudioInfoRec &s = Stream();
  const uint32_t channels = uint32_t(std::max(1, s.Channels));
  const uint32_t bits = uint32_t(s.BitsPerSample);
  const uint32_t blockAlign = channels * bits / 8;
  // 32 bits per sample means float samples here.
  const uint16_t format = bits == 32 ? kFormatFloat : kFormatPcm;
  // More than two channels need the extensible header, which also states the
  // speaker positions; float samples otherwise take the 18-byte format chunk
  // and a "fact" chunk with the frame count, as readers expect of them.
  const bool extensible = channels > 2;
  const bool isFloat = format == kFormatFloat;

  THeaderWriter h;
  h.Text("RIFF");
  h.U32(0);  // patched by Finish
  h.Text("WAVE");
  h.Text("fmt ");
  h.U32(extensible ? 40 : isFloat ? 18 : 16);
  h.U16(extensible ? kFormatExtensible : format);
  h.U16(channels);
  h.U32(uint32_t(s.SampleRate));
  h.U32(uint32_t(s.SampleRate) * blockAlign);
  h.U16(blockAlign);
  h.U16(bits);
  if (extensible) {
    h.U16(22);
    h.U16(bits);
    h.U32(ChannelMask(int(channels)));
    h.U16(format);
    h.U16(0);
    h.Raw(kSubFormatTail, sizeof kSubFormatTail);
  } else if (isFloat) {
    h.U16(0);
  }
  FactOffset = 0;
  if (isFloat) {
    h.Text("fact");
    h.U32(4);
    FactOffset = int64_t(h.Bytes.size());
    h.U32(0);  // patched by Finish
  }
  h.Text("data");
  h.U32(0);  // patched by Finish
  DataOffset = int64_t(h.Bytes.size());
  BlockAlign = blockAlign;

  CreateOutput();
  OutStream->Write(h.Bytes.data(), h.Bytes.size());
}

void TWAVCoder::DoOutput(const void *Buffer, int Size, bool WriteData) {
  if (WriteData && Size > 0) OutStream->Write(Buffer, size_t(Size));
}

void TWAVCoder::Finish() {
  FinishOutput([this](TFileStream &stream) {
    const int64_t end = stream.Size();
    const int64_t dataBytes = end - DataOffset;
    int64_t fileBytes = end;
    if (dataBytes & 1) {  // chunks are word-aligned: pad, without counting the pad as data
      const uint8_t pad = 0;
      stream.Seek(end);
      stream.Write(&pad, 1);
      ++fileBytes;
    }
    auto patch = [&](int64_t offset, int64_t value) {
      const uint32_t v = uint32_t(std::min<int64_t>(value, kMaxChunkSize));
      const uint8_t le[4] = {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
      stream.Seek(offset);
      stream.Write(le, 4);
    };
    patch(4, fileBytes - 8);
    if (FactOffset) patch(FactOffset, dataBytes / std::max(1, BlockAlign));
    patch(DataOffset - 4, dataBytes);
  });
}
