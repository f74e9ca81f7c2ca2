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
  // Into the comment header, written before the audio.
  for (const auto &[name, value] : OpusComments(Tags)) c.AddComment(name, value);
  CreateOutput();
  c.Output = OutStream.get();
  c.Start();
}

std::vector<std::pair<const char *, std::string>> OpusComments(const TTagRec &Tags) {
  std::vector<std::pair<const char *, std::string>> comments;
  if (!Tags.Carried) return comments;
  const std::pair<const char *, const std::string *> fields[] = {
      {"TITLE", &Tags.Title}, {"ARTIST", &Tags.Artist}, {"ALBUM", &Tags.Album}, {"DATE", &Tags.Year},
      {"TRACKNUMBER", &Tags.Track}, {"GENRE", &Tags.Genre}, {"COMMENT", &Tags.Comment}};
  for (const auto &[name, value] : fields)
    if (!value->empty() && !(value == &Tags.Track && *value == "0")) comments.emplace_back(name, *value);
  return comments;
}

void OpusFloats(const uint8_t *Samples, size_t Bytes, int Bits, int Channels, std::vector<float> &Floats) {
  Channels = std::clamp(Channels, 1, 8);
  const size_t sampleBytes = size_t(Bits / 8), frames = Bytes / sampleBytes / size_t(Channels);
  const int *order = kVorbisFromWav[Channels];
  const size_t at = Floats.size();
  Floats.resize(at + frames * size_t(Channels));
  float *out = Floats.data() + at;
  for (size_t f = 0; f < frames; ++f) {
    const uint8_t *frame = Samples + f * size_t(Channels) * sampleBytes;
    for (int c = 0; c < Channels; ++c) *out++ = SampleAt(frame + size_t(order[c]) * sampleBytes, Bits);
  }
}

void TOpusCoder::DoOutput(const void *Buffer, int Size, bool) {
  Floats.clear();
  OpusFloats(static_cast<const uint8_t *>(Buffer), size_t(Size), Stream().BitsPerSample, Stream().Channels, Floats);
  Coder->Encode(Floats.data(), int(Floats.size() / size_t(std::clamp(Stream().Channels, 1, 8))));
}

// A stopped conversion ends its stream too: what was encoded stays playable.
void TOpusCoder::Finish() {
  FinishOutput([&](TFileStream &) {
    Coder->End();
    Coder->Output = nullptr;
  });
}
