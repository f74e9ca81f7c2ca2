// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/bass/mp3_info_tag.h"

#include <array>
#include <cstring>
#include <fstream>

namespace {

uint32_t BigEndian32(const uint8_t *p) {
  return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

// Skips every ID3v2 tag at the start of the file; returns the offset of the
// first byte after them.
bool SkipId3v2(std::ifstream &file, int64_t &offset) {
  offset = 0;
  for (;;) {
    uint8_t header[10];
    file.seekg(offset);
    if (!file.read(reinterpret_cast<char *>(header), sizeof header)) return !file.bad();
    if (std::memcmp(header, "ID3", 3) != 0) return true;
    if ((header[6] | header[7] | header[8] | header[9]) & 0x80) return true;  // not syncsafe
    int64_t size = int64_t(header[6]) << 21 | int64_t(header[7]) << 14 |
                   int64_t(header[8]) << 7 | header[9];
    offset += 10 + size + ((header[5] & 0x10) ? 10 : 0);
  }
}

}  // namespace

bool ReadMp3InfoTag(const std::string &path, TMp3InfoTag &tag) {
  tag = TMp3InfoTag{};
  std::ifstream file(path, std::ios::binary);
  if (!file) return false;
  int64_t offset;
  if (!SkipId3v2(file, offset)) return false;
  file.clear();
  file.seekg(offset);

  // Frame header, side information, then the tag: at most 4 + 32 + 120 + 36 bytes.
  std::array<uint8_t, 256> buf{};
  file.read(reinterpret_cast<char *>(buf.data()), buf.size());
  const size_t got = static_cast<size_t>(file.gcount());
  if (got < 8) return false;

  const uint32_t header = BigEndian32(buf.data());
  if ((header & 0xFFE00000u) != 0xFFE00000u) return false;  // no frame sync
  const int version = (header >> 19) & 3;                     // 3 MPEG-1, 2 MPEG-2, 0 MPEG-2.5
  const int layer = (header >> 17) & 3;                       // 1 = layer III
  if (version == 1 || layer != 1) return false;
  const bool lowSamplingFrequency = version != 3;
  const bool mono = ((header >> 6) & 3) == 3;
  tag.SamplesPerFrame = lowSamplingFrequency ? 576 : 1152;

  // The tag follows the side information, whose size depends on version and channels.
  size_t p = 4 + (lowSamplingFrequency ? (mono ? 9 : 17) : (mono ? 17 : 32));
  auto need = [&](size_t n) { return p + n <= got; };
  if (!need(8)) return false;
  if (std::memcmp(&buf[p], "Xing", 4) != 0 && std::memcmp(&buf[p], "Info", 4) != 0) return false;
  const uint32_t flags = BigEndian32(&buf[p + 4]);
  p += 8;
  if (flags & 1) {  // frame count
    if (!need(4)) return false;
    tag.Frames = BigEndian32(&buf[p]);
    p += 4;
  }
  if (flags & 2) p += 4;    // byte count
  if (flags & 4) p += 100;  // table of contents
  if (flags & 8) p += 4;    // quality

  // LAME extension: 9-byte encoder name, 12 bytes we skip, then 12+12 bits of delays.
  if (!need(24)) return true;
  const bool knownEncoder = std::memcmp(&buf[p], "LAME", 4) == 0 ||
                            std::memcmp(&buf[p], "Lavf", 4) == 0 ||
                            std::memcmp(&buf[p], "Lavc", 4) == 0;
  if (knownEncoder) {
    const uint8_t *d = &buf[p + 21];
    const uint32_t delays = uint32_t(d[0]) << 16 | uint32_t(d[1]) << 8 | d[2];
    tag.HasEncoderDelays = true;
    tag.StartPadding = static_cast<int>(delays >> 12);
    tag.EndPadding = static_cast<int>(delays & 0xFFF);
  }
  return true;
}
