// SPDX-License-Identifier: GPL-3.0-or-later
// The chunk list of a RIFF/WAVE file up to its "data" chunk: a chunk that is
// found is a "data" chunk header at the place it is said to be, with a
// definite size.
#include <cstring>

#include "fuzz_file.h"
#include "platform/bass/wav_data_chunk.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
  int64_t dataOffset = -1, declaredBytes = -1;
  if (!ReadWavDataChunk(FuzzFile("chunks.wav", Data, Size), dataOffset, declaredBytes)) return 0;
  if (dataOffset < 20 || uint64_t(dataOffset) > Size || std::memcmp(Data + dataOffset - 8, "data", 4) != 0)
    __builtin_trap();
  if (declaredBytes <= 0 || declaredBytes >= 0xFFFFFFFFll) __builtin_trap();
  return 0;
}
