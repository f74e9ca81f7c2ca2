// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/bass/ogg_end_page.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <vector>

bool OggEndsWithEndPage(const std::string &path) {
  constexpr int64_t kLargestPage = 27 + 255 + 255 * 255;
  std::ifstream file(path, std::ios::binary | std::ios::ate);
  if (!file) return false;
  const int64_t size = file.tellg();
  const int64_t tailSize = std::min(size, kLargestPage);
  std::vector<uint8_t> tail(static_cast<size_t>(tailSize));
  file.seekg(size - tailSize);
  if (!file.read(reinterpret_cast<char *>(tail.data()), tailSize)) return false;

  // Any page header whose page runs exactly to the end of the file.
  for (size_t at = 0; at + 27 <= tail.size(); ++at) {
    if (std::memcmp(&tail[at], "OggS", 4) != 0 || tail[at + 4] != 0) continue;
    const size_t segments = tail[at + 26];
    if (at + 27 + segments > tail.size()) continue;
    size_t pageSize = 27 + segments;
    for (size_t i = 0; i < segments; ++i) pageSize += tail[at + 27 + i];
    if (at + pageSize == tail.size()) return (tail[at + 5] & 0x04) != 0;
  }
  return false;
}
