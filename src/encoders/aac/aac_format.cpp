// SPDX-License-Identifier: GPL-3.0-or-later
#include "encoders/aac/aac_format.h"

#include "encoders/aac/aac_encoder.h"

namespace {

const int32_t kBandwidths[] = {0, 6000, 16000, 44100};

using format_row::Field;
constexpr TOptionField kFields[] = {
    Field<&TAACOptions::Bitrate>("AACBitrate", 0, 152),
    Field<&TAACOptions::Bandwidth, &AACBandwidthPosition, &AACBandwidthAt>("AACBandwidth", 0, 3),
    Field<&TAACOptions::Quality>("AACQuality", 0, 500),
};

constexpr const char *kKeys[] = {"Quality", "Bandwidth", "Bitrate"};
constexpr TKeyHelp kKeyHelp[] = {
    {"Quality", "AACQuality", "quantizer quality (0: the encoder's default)"},
    {"Bandwidth", nullptr, "Hz (0: chosen by the encoder)"},
    {"Bitrate", "AACBitrate", "kbit/s per channel (0: by quality)"},
};

void ReadKeys(const TKeyLookup &Keys, TAACOptions &o, std::string &Error) {
  ReadNumberKey(Keys, "Quality", o.Quality, Error);
  ReadNumberKey(Keys, "Bandwidth", o.Bandwidth, Error);
  ReadNumberKey(Keys, "Bitrate", o.Bitrate, Error);
}

// The rates an ADTS header can state; up to 5.1.
const int32_t kRates[] = {7350, 8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000, 64000, 88200, 96000};
TEncoderRange Takes(const void *) { return {.Rates = kRates, .MaxChannels = 6}; }

TCoderVersionRec Version() {
  const char *id = "";
  faacEncGetVersion(&id, nullptr);
  return {std::string(id) + ")", 0, 0, "libavcodec"};
}

}  // namespace

int32_t AACBandwidthAt(int32_t Position) { return Position >= 0 && Position < 4 ? kBandwidths[Position] : 0; }

int32_t AACBandwidthPosition(int32_t Hz) { return PositionIn(kBandwidths, Hz, 0, 0); }

constinit const TFormatRow AACFormat = {
    .Code = dfAAC,
    .Name = "AAC",
    .Extension = "aac",
    .Samples = {.FromFloat = 32, .From24 = 32, .Wide = TWideSamples::Int24In32},
    .CreateCoder = &format_row::CreateCoder<TACCCoder, TAACOptions>,
    .WriteTags = &tag_writers::ID3Head,
    .Version = &Version,
    .NewOptions = &format_row::NewOptions<TAACOptions>,
    .Fields = kFields,
    .Keys = kKeys,
    .ReadKeys = &format_row::ReadKeys<TAACOptions, &ReadKeys>,
    .KeyHelp = kKeyHelp,
    .Takes = &Takes,
    .DelayAndPadding = 1024 * 3,  // priming and the last frame's padding
};
