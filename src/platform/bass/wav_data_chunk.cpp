// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/bass/wav_data_chunk.h"

#include <cstring>
#include <fstream>

bool ReadWavDataChunk(const std::string &path, int64_t &dataOffset, int64_t &declaredBytes) {
  std::ifstream file(path, std::ios::binary);
  uint8_t riff[12];
  if (!file.read(reinterpret_cast<char *>(riff), sizeof riff)) return false;
  if (std::memcmp(riff, "RIFF", 4) != 0 || std::memcmp(riff + 8, "WAVE", 4) != 0) return false;
  int64_t offset = 12;
  for (int chunks = 0; chunks < 1000; ++chunks) {
    uint8_t header[8];
    file.seekg(offset);
    if (!file.read(reinterpret_cast<char *>(header), sizeof header)) return false;
    const uint32_t size = uint32_t(header[4]) | uint32_t(header[5]) << 8 |
                          uint32_t(header[6]) << 16 | uint32_t(header[7]) << 24;
    if (std::memcmp(header, "data", 4) == 0) {
      if (size == 0 || size == 0xFFFFFFFFu) return false;
      dataOffset = offset + 8;
      declaredBytes = size;
      return true;
    }
    offset += 8 + int64_t(size) + (size & 1);
  }
  return false;
}
