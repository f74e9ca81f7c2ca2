// SPDX-License-Identifier: GPL-3.0-or-later
// ffmpeg's report: the first line is the input's name, the rest the report.
#include <string>

#include "sources/ffmpeg_lib.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
  const std::string bytes(reinterpret_cast<const char *>(Data), Size);
  const size_t eol = bytes.find('\n');
  const std::string name = eol == std::string::npos ? bytes : bytes.substr(0, eol);
  const std::string report = eol == std::string::npos ? "" : bytes.substr(eol + 1);
  for (const auto &s : ffmpeg_lib::ParseFFmpegReport(report, name))
    if (s.Channels < 0 || s.SampleRate < 0 || s.Bitrate < 0 || s.BytesPerSample <= 0) __builtin_trap();
  return 0;
}
