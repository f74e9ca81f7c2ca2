// SPDX-License-Identifier: GPL-3.0-or-later
#include "encoders/aac/aac_format.h"

#include <cctype>
#include <string>

#include "encoders/aac/aac_encoder.h"
#include "encoders/aac/aac_joiner.h"

namespace {

const int32_t kBandwidths[] = {0, 6000, 16000, 44100};

std::string ContainerName(TAACContainer Container) { return Container == TAACContainer::MP4 ? "MP4" : "ADTS"; }
// Anything but "MP4" is the first-known ADTS.
TAACContainer ContainerOf(const std::string &Name) {
  return Name == "MP4" ? TAACContainer::MP4 : TAACContainer::ADTS;
}

using format_row::Field;
constexpr TOptionField kFields[] = {
    Field<&TAACOptions::Bitrate>("AACBitrate", 0, 152),
    Field<&TAACOptions::Bandwidth, &AACBandwidthPosition, &AACBandwidthAt>("AACBandwidth", 0, 3),
    Field<&TAACOptions::Quality>("AACQuality", 0, 500),
    Field<&TAACOptions::Container, &ContainerName, &ContainerOf>("AACContainer"),
};

constexpr const char *kKeys[] = {"Quality", "Bandwidth", "Bitrate", "Container"};
constexpr TKeyHelp kKeyHelp[] = {
    {"Quality", "AACQuality", "quantizer quality (0: the encoder's default)"},
    {"Bandwidth", nullptr, "Hz (0: chosen by the encoder)"},
    {"Bitrate", "AACBitrate", "kbit/s per channel (0: by quality)"},
    {"Container", nullptr, "adts (raw .aac, as before) or m4a (MPEG-4, gapless, tags as MP4 atoms)"},
};

void ReadKeys(const TKeyLookup &Keys, TAACOptions &o, std::string &Error) {
  ReadNumberKey(Keys, "Quality", o.Quality, Error);
  ReadNumberKey(Keys, "Bandwidth", o.Bandwidth, Error);
  ReadNumberKey(Keys, "Bitrate", o.Bitrate, Error);
  if (const std::optional<std::string> container = Keys.Value("Container")) {
    std::string v = *container;
    for (char &c : v) c = char(std::tolower(static_cast<unsigned char>(c)));
    if (v == "adts") o.Container = TAACContainer::ADTS;
    else if (v == "m4a") o.Container = TAACContainer::MP4;
    else Error = "/container takes adts or m4a, not \"" + *container + "\"";
  }
}

const char *ExtensionOf(const void *Options) {
  return static_cast<const TAACOptions *>(Options)->Container == TAACContainer::MP4 ? "m4a" : "aac";
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
    .WriteTags = &tag_writers::MP4OrID3Head,
    .Version = &Version,
    .NewOptions = &format_row::NewOptions<TAACOptions>,
    .Fields = kFields,
    .Keys = kKeys,
    .ReadKeys = &format_row::ReadKeys<TAACOptions, &ReadKeys>,
    .KeyHelp = kKeyHelp,
    .Takes = &Takes,
    .DelayAndPadding = 1024 * 3,  // priming and the last frame's padding
    .CreateJoiner = &CreateAACJoiner,
    .ExtensionOf = &ExtensionOf,
};
