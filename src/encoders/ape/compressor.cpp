// SPDX-License-Identifier: GPL-3.0-or-later
#include "encoders/ape/compressor.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <stdexcept>

#include "platform/file_write.h"

extern "C" {
#include <libavutil/md5.h>
#include <libavutil/mem.h>
}

namespace ape {

namespace {

constexpr uint16_t kFileVersion = 3990;
constexpr uint32_t kDescriptorBytes = 52;
constexpr uint32_t kHeaderBytes = 24;
constexpr uint16_t kCreateWavHeader = 32;  // no WAV header stored: decoders make one

void PutLE(std::vector<uint8_t> &out, uint64_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(uint8_t(v >> (8 * i)));
}

}  // namespace

TCompressor::TCompressor() : Md5(av_md5_alloc()) {}

TCompressor::~TCompressor() { av_free(Md5); }

int TCompressor::Start(const std::string &FileName_, const TWaveFormat &Format_, int64_t MaxAudioBytes,
                       int Level_) {
  if (Level_ < 1000 || Level_ > 5000 || Level_ % 1000 != 0) return ErrorBadParameter;
  if (Format_.BitsPerSample != 16 && Format_.BitsPerSample != 24) return ErrorUnsupportedBitDepth;
  if (Format_.Channels < 1 || Format_.Channels > 2) return ErrorUnsupportedChannelCount;
  if (Format_.SamplesPerSec == 0) return ErrorUnsupportedSampleRate;
  FileName = FileName_;
  Format = Format_;
  Format.BlockAlign = uint16_t(Format.Channels * Format.BitsPerSample / 8);
  Level = Level_;
  FrameBlocks = BlocksPerFrame(Level);
  Encoder = std::make_unique<TFrameEncoder>(Level, Format.Channels, Format.BitsPerSample);
  Input.assign(size_t(FrameBlocks) * Format.BlockAlign, 0);
  av_md5_init(Md5);

  // Room for one seek entry per frame of the expected audio, or for 2 GiB of it.
  const int64_t frameBytes = FrameBlocks * Format.BlockAlign;
  const int64_t expected = MaxAudioBytes > 0 ? MaxAudioBytes : (int64_t(1) << 31);
  SeekEntries = uint32_t(expected / frameBytes + 2);
  try {
    Output = std::make_unique<TFileStream>(FileName);
  } catch (const std::exception &e) {
    return Failed(ErrorInvalidOutputFile, e);
  }
  try {
    const std::vector<uint8_t> reserved(kDescriptorBytes + kHeaderBytes + 4 * size_t(SeekEntries), 0);
    Output->Write(reserved.data(), reserved.size());
  } catch (const std::exception &e) {
    Output.reset();
    std::error_code ec;
    std::filesystem::remove(FileName, ec);
    return Failed(ErrorIoWrite, e);
  }
  return ErrorSuccess;
}

uint8_t *TCompressor::LockBuffer(int64_t &Available) {
  Available = Output ? int64_t(Input.size() - InputUsed) : 0;
  return Input.data() + InputUsed;
}

int TCompressor::UnlockBuffer(int64_t Bytes, bool Process) {
  if (!Output) return ErrorBadParameter;
  if (Bytes < 0 || size_t(Bytes) > Input.size() - InputUsed) return ErrorTooMuchData;
  InputUsed += size_t(Bytes);
  if (Process && InputUsed == Input.size()) {
    const int r = EncodeFrame(FrameBlocks);
    InputUsed = 0;
    return r;
  }
  return ErrorSuccess;
}

int TCompressor::EncodeFrame(int64_t Blocks) {
  FrameStarts.push_back(uint32_t(LogicalOffset + int64_t(Logical.size())));
  LastFrameBlocks = Blocks;
  Encoder->Encode(Input.data(), Blocks, Logical);
  return WriteFrameBytes(false);
}

int TCompressor::AppendFrame(const uint8_t *Frame, size_t Bytes, int64_t Blocks) {
  if (!Output || Finished) return ErrorBadParameter;
  if (InputUsed != 0 || Blocks <= 0 || Blocks > FrameBlocks) return ErrorBadParameter;
  FrameStarts.push_back(uint32_t(LogicalOffset + int64_t(Logical.size())));
  LastFrameBlocks = Blocks;
  Logical.insert(Logical.end(), Frame, Frame + Bytes);
  return WriteFrameBytes(false);
}

// Writes the logical bytes as 32-bit words, each stored little-endian; a
// partial word waits for the next frame (or, at the end, zero padding).
int TCompressor::WriteFrameBytes(bool Final) {
  if (Final) Logical.resize((Logical.size() / 4 + 1) * 4, 0);  // always at least one padding byte
  const size_t whole = Logical.size() / 4 * 4;
  for (size_t i = 0; i < whole; i += 4) std::swap(Logical[i], Logical[i + 3]), std::swap(Logical[i + 1], Logical[i + 2]);
  try {
    Output->Write(Logical.data(), whole);
  } catch (const std::exception &e) {
    return Failed(ErrorIoWrite, e);
  }
  av_md5_update(Md5, Logical.data(), whole);
  FrameDataBytes += int64_t(whole);
  LogicalOffset += int64_t(whole);
  Logical.erase(Logical.begin(), Logical.begin() + std::ptrdiff_t(whole));
  return ErrorSuccess;
}

std::vector<uint8_t> TCompressor::Headers(uint32_t Entries) {
  const uint32_t firstFrame = kDescriptorBytes + kHeaderBytes + 4 * Entries;
  std::vector<uint8_t> header;  // the 24-byte header, then the seek table
  PutLE(header, uint16_t(Level), 2);
  PutLE(header, kCreateWavHeader, 2);
  PutLE(header, uint32_t(FrameBlocks), 4);
  PutLE(header, uint32_t(LastFrameBlocks), 4);
  PutLE(header, uint32_t(FrameStarts.size()), 4);
  PutLE(header, Format.BitsPerSample, 2);
  PutLE(header, Format.Channels, 2);
  PutLE(header, Format.SamplesPerSec, 4);
  for (uint32_t i = 0; i < Entries; ++i)
    PutLE(header, i < FrameStarts.size() ? firstFrame + FrameStarts[i] : 0, 4);

  // The MD5 covers the frame data (already hashed), the header and the seek table.
  uint8_t md5[16];
  av_md5_update(Md5, header.data(), header.size());
  av_md5_final(Md5, md5);

  std::vector<uint8_t> descriptor = {'M', 'A', 'C', ' '};
  descriptor.reserve(kDescriptorBytes + header.size());
  PutLE(descriptor, kFileVersion, 2);
  PutLE(descriptor, 0, 2);
  PutLE(descriptor, kDescriptorBytes, 4);
  PutLE(descriptor, kHeaderBytes, 4);
  PutLE(descriptor, 4 * uint64_t(Entries), 4);
  PutLE(descriptor, 0, 4);  // no WAV header data
  PutLE(descriptor, uint64_t(FrameDataBytes) & 0xFFFFFFFFu, 4);
  PutLE(descriptor, uint64_t(FrameDataBytes) >> 32, 4);
  PutLE(descriptor, 0, 4);  // no terminating data
  descriptor.insert(descriptor.end(), md5, md5 + 16);
  descriptor.insert(descriptor.end(), header.begin(), header.end());
  return descriptor;
}

// More frames than the reserved seek table holds: the frame data moves back
// by the table's growth (frames do not move within their stream, so nothing
// else changes). It moves from the end, so no byte is overwritten before it
// has been read, and the file never needs more room than its final size.
int TCompressor::RewriteWithLargerSeekTable() {
  const uint32_t entries = uint32_t(FrameStarts.size());
  const int64_t oldFirst = kDescriptorBytes + kHeaderBytes + 4 * int64_t(SeekEntries);
  const int64_t shift = 4 * (int64_t(entries) - int64_t(SeekEntries));
  auto fail = [&](const char *what) { throw std::runtime_error(FileErrorText(what, FileName, errno)); };
  int fd = -1;
  try {
    Output->Close();
    Output.reset();
    fd = ::open(FileName.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) fail("Cannot open file");
    std::vector<uint8_t> chunk(1 << 20);
    for (int64_t at = oldFirst + FrameDataBytes; at > oldFirst;) {
      const size_t n = size_t(std::min<int64_t>(int64_t(chunk.size()), at - oldFirst));
      at -= int64_t(n);
      if (pread(fd, chunk.data(), n, at) != ssize_t(n)) fail("Cannot read file");
      if (!WriteAllAt(fd, chunk.data(), n, at + shift)) fail("Cannot write to file");
    }
    const std::vector<uint8_t> headers = Headers(entries);
    if (!WriteAllAt(fd, headers.data(), headers.size(), 0)) fail("Cannot write to file");
    const int closing = fd;
    fd = -1;
    if (::close(closing) != 0) fail("Cannot write to file");
  } catch (const std::exception &e) {
    if (fd >= 0) ::close(fd);
    return Failed(ErrorIoWrite, e);
  }
  return ErrorSuccess;
}

int TCompressor::Failed(int Code, const std::exception &e) {
  if (IoError.empty()) IoError = e.what();
  return Code;
}

int TCompressor::Finish() {
  if (!Output || Finished) return ErrorSuccess;
  Finished = true;
  const int64_t blocks = int64_t(InputUsed / Format.BlockAlign);
  int r = blocks > 0 ? EncodeFrame(blocks) : ErrorSuccess;
  if (r == ErrorSuccess && FrameStarts.empty()) r = ErrorInputTooSmall;  // no frame: no valid file
  if (r == ErrorSuccess) r = WriteFrameBytes(true);
  if (r != ErrorSuccess) {
    Output.reset();
    return r;
  }
  if (FrameStarts.size() > SeekEntries) return RewriteWithLargerSeekTable();
  try {
    const std::vector<uint8_t> headers = Headers(SeekEntries);
    Output->Seek(0);
    Output->Write(headers.data(), headers.size());
    Output->Close();
  } catch (const std::exception &e) {
    r = Failed(ErrorIoWrite, e);
  }
  Output.reset();
  return r;
}

}  // namespace ape
