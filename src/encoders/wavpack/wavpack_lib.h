// SPDX-License-Identifier: GPL-3.0-or-later
// TWAVPACK_Coder feeds libwavpack (TWAVPACKCoder feeds it from the worker,
// the joiner's span threads too): the library's context, and the blocks it
// writes into an output stream it does not own, or into memory.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <wavpack/wavpack.h>

#include "base/misc.h"
#include "encoders/file_stream.h"

class TWAVPACK_Coder {
 public:
  TWAVPACK_Coder() = default;
  ~TWAVPACK_Coder();  // closes the context Finish has not
  TWAVPACK_Coder(const TWAVPACK_Coder &) = delete;
  TWAVPACK_Coder &operator=(const TWAVPACK_Coder &) = delete;

  // Settings.
  uint8_t Compression = 1;
  bool Hybrid = false;
  int32_t Bitrate = 9600;  // kbit/s, with Hybrid
  TAudioInfo AudioInfo;
  TFileStream *Output = nullptr;  // not owned
  TFileStream *Correction = nullptr;  // with Hybrid, the correction file; not owned
  std::vector<uint8_t> *Memory = nullptr;  // without Output, the blocks are appended here; not owned
  // The library stores the source's WAV header in the first block; blocks
  // that continue a file must not carry another.
  bool WavHeader = true;

  // Bytes of samples the worker hands over at once: each Pack writes whole blocks.
  static constexpr int BufferBytes = 524288;

  // Configures the library; raises with its words when it refuses.
  void Start();
  // Packs Size bytes of 8-, 16-, packed 24-bit or float samples and writes
  // their blocks; after a failed write nothing more is packed.
  void Pack(const uint8_t *Buffer, int Size);
  // Writes the sample count into the first block, in the file too, and closes
  // the context (not the output). Blocks in memory are left as they are.
  void Finish();

  static TCoderVersionRec Version();

 private:
  struct TBlockOutput {
    TFileStream *Stream = nullptr;
    std::vector<uint8_t> *Memory = nullptr;  // when Stream is null
    std::vector<uint8_t> FirstBlock;  // as written, for the final sample count
    std::string Error;                // the first write failure
  };
  static int WriteBlock(void *Id, void *Data, int32_t Count);
  [[noreturn]] void Fail(const char *Where);

  WavpackContext *Context = nullptr;
  WavpackConfig Config{};
  TBlockOutput Blocks, Corrections;
  std::vector<int32_t> Samples;  // reused for every block
  int FrameBytes = 4;
  bool Failed = false;
};
