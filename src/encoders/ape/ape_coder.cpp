// SPDX-License-Identifier: GPL-3.0-or-later
#include "encoders/ape/ape_coder.h"

#include <cmath>

#include "encoders/ape/compressor.h"

int APELibraryLevel(int32_t Setting) {
  const int64_t level = int64_t(Setting) * 1000;
  return level >= 1000 && level <= 5000 ? int(level) : 2000;
}

TAPECompress::TAPECompress() {
  int error = 0;
  Compressor = c_APECompress_Create(&error);
  if (error != 0 || !Compressor) {
    c_APECompress_Destroy(Compressor);
    Compressor = nullptr;
    throw EAPEException("MACDll error: " + APEErrorText(error));
  }
}

TAPECompress::~TAPECompress() { c_APECompress_Destroy(Compressor); }

void TAPE_Coder::Start() {
  const TAudioInfoRec &s = AudioInfo.Streams.at(size_t(AudioInfo.Index));
  // Say so plainly rather than through the library's generic texts.
  if (s.Channels < 1 || s.Channels > 2)
    throw std::runtime_error("Monkey's Audio files hold one or two channels; the source has " +
                             std::to_string(s.Channels));
  Compress = std::make_unique<TAPECompress>();
  FillWaveFormatEx(&WaveFormat, s.SampleRate, s.BitsPerSample, s.Channels);
  const int result = c_APECompress_StartW(Compress->Handle(), FileName.c_str(), &WaveFormat, MaxAudioBytes,
                                          CompressionLevel, nullptr, CREATE_WAV_HEADER_ON_DECOMPRESSION);
  if (result != 0)
    throw std::runtime_error("Error starting APECompress.\r\n" + APEErrorText(result) + OutputError());
}

std::string TAPE_Coder::OutputError() const {
  const std::string &why = Compress ? Compress->Handle()->OutputError() : std::string();
  return why.empty() ? why : ". " + why;
}

void TAPE_Coder::Feed(const uint8_t *Buffer, int Size) {
  int remaining = Size;
  while (remaining > 0) {
    int64_t available = 0;
    unsigned char *target = c_APECompress_LockBuffer(Compress->Handle(), &available);
    const int64_t count = std::min<int64_t>(available, remaining);
    std::copy(Buffer, Buffer + count, target);
    const int result = c_APECompress_UnlockBuffer(Compress->Handle(), count, true);
    if (result != 0 || count == 0) {
      const std::string why = OutputError();
      Finish();
      throw std::runtime_error("APECompress.UnlockBuffer Error: " + std::to_string(result) + why);
    }
    Buffer += count;
    remaining -= int(count);
  }
}

void TAPE_Coder::AppendFrame(const uint8_t *Frame, size_t Bytes, int64_t Blocks) {
  const int result = Compress ? Compress->Handle()->AppendFrame(Frame, Bytes, Blocks) : ape::ErrorBadParameter;
  if (result != 0) {
    const std::string why = OutputError();
    Finish();
    throw std::runtime_error("APECompress.UnlockBuffer Error: " + std::to_string(result) + why);
  }
}

int TAPE_Coder::Finish(std::string *Why) {
  if (!Compress) return 0;
  const int result = c_APECompress_Finish(Compress->Handle(), nullptr, 0, 0);
  if (Why) *Why = OutputError();
  Compress.reset();
  return result;
}

void TAPECoder::Start() {
  Coder.CompressionLevel = APELibraryLevel(Options.Compression);
  Coder.AudioInfo = AudioInfo;
  Coder.FileName = FileName;
  Coder.MaxAudioBytes = APEMaxAudioBytes(Stream());
  Coder.Start();
}

void TAPECoder::DoOutput(const void *Buffer, int Size, bool) {
  Coder.Feed(static_cast<const uint8_t *>(Buffer), Size);
}

void TAPECoder::Finish() { FinishAPECoder(Coder); }

// A seek table sized for the source's length (more room is made if needed).
int64_t APEMaxAudioBytes(const TAudioInfoRec &s) {
  if (s.Duration <= 0) return MAX_AUDIO_BYTES_UNKNOWN;
  return int64_t(std::ceil(s.Duration * s.SampleRate)) * s.Channels * s.BitsPerSample / 8;
}

void FinishAPECoder(TAPE_Coder &Coder) {
  if (!Coder.Started()) return;
  // A compressor that could not complete the file leaves no valid output.
  std::string why;
  const int result = Coder.Finish(&why);
  if (result != 0) throw EAPEException("MACDll error: " + APEErrorText(result) + why);
}
