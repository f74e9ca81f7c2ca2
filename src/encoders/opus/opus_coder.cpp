// SPDX-License-Identifier: GPL-3.0-or-later
#include "encoders/opus/opus_coder.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "encoders/vorbis_order.h"

namespace {

// A 16-bit or float sample.
float SampleAt(const uint8_t *s, int Bits) {
  if (Bits == 32) {
    float f;
    std::memcpy(&f, s, 4);
    return f;
  }
  return float(int16_t(uint16_t(s[0] | s[1] << 8))) / 32768.0f;
}

}  // namespace

TOpusCoder::TOpusCoder(const std::string &FileName, const TTagRec &Tags, const TAudioInfo &AudioInfo,
                       const TOpusOptions &Options)
    : TCustomCoder(FileName, Tags, AudioInfo), Coder(std::make_unique<TOpus_Coder>()), Options(Options) {}

void TOpusCoder::Start() {
  TOpus_Coder &c = *Coder;
  c.Rate = Stream().SampleRate;
  c.Channels = Stream().Channels;
  c.Bitrate = OpusBitrateFor(Options, c.Channels);
  c.Vbr = Options.Mode != TOpusMode::CBR;
  c.Constrained = Options.Mode == TOpusMode::CVBR;
  c.Complexity = Options.Complexity;
  c.Voice = Options.Application == TOpusApplication::VoIP;
  c.FrameSize = Options.FrameSize;
  if (Tags.Carried) {  // into the comment header, written before the audio
    const std::pair<const char *, const std::string *> fields[] = {
        {"TITLE", &Tags.Title}, {"ARTIST", &Tags.Artist}, {"ALBUM", &Tags.Album}, {"DATE", &Tags.Year},
        {"TRACKNUMBER", &Tags.Track}, {"GENRE", &Tags.Genre}, {"COMMENT", &Tags.Comment}};
    for (const auto &[name, value] : fields)
      if (!value->empty() && !(value == &Tags.Track && *value == "0")) c.AddComment(name, *value);
  }
  CreateOutput();
  c.Output = OutStream.get();
  c.Start();
}

void TOpusCoder::DoOutput(const void *Buffer, int Size, bool) {
  const auto *bytes = static_cast<const uint8_t *>(Buffer);
  const int bits = Stream().BitsPerSample, channels = std::clamp(Stream().Channels, 1, 8);
  const size_t sampleBytes = size_t(bits / 8), frames = size_t(Size) / sampleBytes / size_t(channels);
  const int *order = kVorbisFromWav[channels];
  Floats.resize(frames * size_t(channels));
  for (size_t f = 0; f < frames; ++f) {
    const uint8_t *frame = bytes + f * size_t(channels) * sampleBytes;
    for (int c = 0; c < channels; ++c)
      Floats[f * size_t(channels) + size_t(c)] = SampleAt(frame + size_t(order[c]) * sampleBytes, bits);
  }
  Coder->Encode(Floats.data(), int(frames));
}

// A stopped conversion ends its stream too: what was encoded stays playable.
void TOpusCoder::Finish() {
  FinishOutput([&](TFileStream &) {
    Coder->End();
    Coder->Output = nullptr;
  });
}
