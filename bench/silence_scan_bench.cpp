// SPDX-License-Identifier: GPL-3.0-or-later
// Times the silence scan of one source: silence_scan_bench FILE
#include <chrono>
#include <cstdio>

#include "sources/audio_info.h"
#include "sources/silence.h"

int main(int argc, char **argv) {
  if (argc < 2) return 2;
  BASS_Init(0, 44100, 0, nullptr, nullptr);
  TAudioInfo info;
  GetFileAudioInfo(argv[1], true, info);
  if (!info.ErrorText.empty()) {
    std::fprintf(stderr, "%s\n", info.ErrorText.c_str());
    return 1;
  }
  const double seconds = info.Streams[0].Duration;
  TCUEArr pieces;
  const auto start = std::chrono::steady_clock::now();
  SplitBySilenceScan(argv[1], 1, 1, TPreprocessOptions{}, TSilenceScanContext{}, pieces);
  const double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("silence scan: %.0f s of audio in %.3f s (%.0fx real time), %zu pieces\n", seconds, took,
              seconds / took, pieces.size());
}
