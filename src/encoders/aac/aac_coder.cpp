// SPDX-License-Identifier: GPL-3.0-or-later
#include "encoders/aac/aac_coder.h"

#include <fmt/printf.h>

#include <algorithm>
#include <cstring>
#include <stdexcept>

TACC_Coder::~TACC_Coder() {
  OutBuffer.clear();
  Samples.clear();
  if (Handle) faacEncClose(Handle);
}

void TACC_Coder::Start(TFileStream *Stream) {
  const TAudioInfoRec &s = AudioInfo.Streams.at(size_t(AudioInfo.Index));
  Handle = faacEncOpen(unsigned(s.SampleRate), unsigned(s.Channels), &InputSamples, &MaxOutputBytes);
  if (!Handle) throw std::runtime_error("ACC_Coder : FfaacEncHandle is nul");
  Config = faacEncGetCurrentConfiguration(Handle);
  Config->aacObjectType = LOW;
  Config->mpegVersion = MPEG2;
  Config->useTns = 0;
  Config->useLfe = 1;
  Config->quantqual = 100;
  Config->inputFormat = FAAC_INPUT_32BIT;
  Config->outputFormat = ADTS_STREAM;
  Config->bitRate = 0;
  Config->bandWidth = unsigned(s.SampleRate / 2);
  if (Quality > 0) Config->quantqual = unsigned(Quality);
  // The library counts bit/s per channel; the setting is in kbit/s.
  if (Bitrate > 0) Config->bitRate = unsigned(Bitrate) * 1000;
  Config->bandWidth = 16000;
  if (Bandwidth > 0) Config->bandWidth = unsigned(Bandwidth);
  if (!faacEncSetConfiguration(Handle, Config)) {
    faacEncClose(Handle);  // nothing is drained from a refused setup
    Handle = nullptr;
    throw std::runtime_error("ACC_Coder.faacEncSetConfiguration failed");
  }
  InputBlockSize = int(InputSamples) * s.BytesPerSample;
  OutBuffer.resize(MaxOutputBytes);
  Samples.resize(size_t(InputBlockSize));  // the block's samples as 32-bit integers, with room
  Output = Stream;
}

void TACC_Coder::Encode(const uint8_t *Buffer, int Size) {
  if (!Handle) throw std::runtime_error("ACC_Coder : FfaacEncHandle is nul");
  const int bytes = AudioInfo.Streams.at(size_t(AudioInfo.Index)).BytesPerSample;
  const int count = Size / bytes;
  if (size_t(count) > Samples.size()) Samples.resize(size_t(count));
  for (int i = 0; i < count; ++i) {
    switch (bytes) {
      case 1: Samples[size_t(i)] = (int32_t(Buffer[i]) - 128) * 65536; break;
      case 2: {
        int16_t v;
        std::memcpy(&v, Buffer + 2 * i, 2);
        Samples[size_t(i)] = int32_t(v) * 256;
        break;
      }
      case 4: std::memcpy(&Samples[size_t(i)], Buffer + 4 * i, 4); break;
      default:
        throw EAssertFailed(fmt::sprintf("Assert failed : bytes_per_sample=%d not supported (aac_coder)", bytes));
    }
  }
  // Never more than the library takes per call.
  for (int done = 0; done < count;) {
    const int part = std::min(count - done, int(InputSamples));
    Write(faacEncEncode(Handle, Samples.data() + done, unsigned(part), OutBuffer.data(), unsigned(MaxOutputBytes)));
    done += part;
  }
}

void TACC_Coder::Drain() {
  // A library that never opened holds nothing.
  if (!Handle) return;
  for (;;) {
    const int bytes = faacEncEncode(Handle, nullptr, 0, OutBuffer.data(), unsigned(MaxOutputBytes));
    if (bytes == 0) return;
    Write(bytes);
  }
}

void TACC_Coder::Write(int Bytes) {
  if (Bytes < 0) throw std::runtime_error("ACC_Coder.faacEncEncode failed");
  if (Bytes == 0) return;
  if (Sink) Sink(OutBuffer.data(), size_t(Bytes));
  else Output->Write(OutBuffer.data(), size_t(Bytes));
}
