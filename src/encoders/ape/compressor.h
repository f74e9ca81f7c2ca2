// SPDX-License-Identifier: GPL-3.0-or-later
// A Monkey's Audio file (version 3990) written as PCM arrives: descriptor,
// header, seek table, then the frames as 32-bit words. The WAV header is not
// stored (decoders create one). Frames are encoded as soon as they are full.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "encoders/ape/frame_encoder.h"
#include "encoders/file_stream.h"

struct AVMD5;

namespace ape {

// The wave format record the library fills and takes (WAVEFORMATEX, 18 bytes).
#pragma pack(push, 1)
struct TWaveFormat {
  uint16_t FormatTag = 1;
  uint16_t Channels = 0;
  uint32_t SamplesPerSec = 0;
  uint32_t AvgBytesPerSec = 0;
  uint16_t BlockAlign = 0;
  uint16_t BitsPerSample = 0;
  uint16_t Size = 0;
};
#pragma pack(pop)
static_assert(sizeof(TWaveFormat) == 18);

// Error codes of the compressor (those of the library's error table).
constexpr int ErrorSuccess = 0;
constexpr int ErrorIoWrite = 1001;
constexpr int ErrorInvalidOutputFile = 1003;
constexpr int ErrorUnsupportedBitDepth = 1005;
constexpr int ErrorUnsupportedSampleRate = 1006;
constexpr int ErrorUnsupportedChannelCount = 1007;
constexpr int ErrorInputTooSmall = 1008;
constexpr int ErrorBadParameter = 5000;
constexpr int ErrorTooMuchData = 6000;

class TCompressor {
 public:
  TCompressor();
  ~TCompressor();  // an unfinished file stays as far as it was written
  TCompressor(const TCompressor &) = delete;
  TCompressor &operator=(const TCompressor &) = delete;

  // Creates the output. MaxAudioBytes sizes the seek table (-1: not known).
  int Start(const std::string &FileName, const TWaveFormat &Format, int64_t MaxAudioBytes, int Level);
  // Where up to `Available` bytes of PCM may be placed for UnlockBuffer.
  uint8_t *LockBuffer(int64_t &Available);
  int UnlockBuffer(int64_t Bytes, bool Process);
  // Appends a frame encoded elsewhere (TFrameEncoder, in its logical bytes)
  // of `Blocks` blocks. Only whole frames may precede it.
  int AppendFrame(const uint8_t *Frame, size_t Bytes, int64_t Blocks);
  // Encodes what is left and completes the file.
  int Finish();
  // Why the output could not be created or written ("" when it could): the
  // file and the system's reason, behind ErrorInvalidOutputFile and ErrorIoWrite.
  const std::string &OutputError() const { return IoError; }

 private:
  int EncodeFrame(int64_t Blocks);
  int WriteFrameBytes(bool Final);
  // The descriptor, header and a seek table of `Entries`; completes the MD5.
  std::vector<uint8_t> Headers(uint32_t Entries);
  int RewriteWithLargerSeekTable();
  // Notes the first output failure; returns Code.
  int Failed(int Code, const std::exception &e);

  std::string FileName;
  std::unique_ptr<TFileStream> Output;
  std::unique_ptr<TFrameEncoder> Encoder;
  AVMD5 *Md5 = nullptr;
  TWaveFormat Format;
  int Level = 2000;
  int64_t FrameBlocks = 0;
  std::vector<uint8_t> Input;       // PCM of the frame being filled
  size_t InputUsed = 0;
  std::vector<uint8_t> Logical;     // frame stream bytes not yet written as words
  int64_t LogicalOffset = 0;        // logical stream bytes before Logical[0]
  int64_t FrameDataBytes = 0;       // bytes of frame data written to the file
  std::vector<uint32_t> FrameStarts;  // logical offset of every frame
  int64_t LastFrameBlocks = 0;
  uint32_t SeekEntries = 0;         // room reserved for the seek table
  bool Finished = false;
  std::string IoError;
};

}  // namespace ape
