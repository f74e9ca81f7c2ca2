// SPDX-License-Identifier: GPL-3.0-or-later
#include "encoders/wavpack/wavpack_format.h"

#include "encoders/wavpack/wavpack_coder.h"
#include "encoders/wavpack/wavpack_joiner.h"

namespace {

using format_row::Field;
constexpr TOptionField kFields[] = {
    Field<&TWavPackOptions::Compression>("WVCompression", 0, 2),
    Field<&TWavPackOptions::Hybrid>("WVHybrid"),
    Field<&TWavPackOptions::Bitrate>("WVBitrate", 24, 9600),
    Field<&TWavPackOptions::CorrectionFile>("WVCorrection"),
};

constexpr const char *kKeys[] = {"Compression"};
constexpr TKeyHelp kKeyHelp[] = {
    {"Compression", nullptr, "fast, high, or very high for any other value"},
};

// "fast" and "high" by name, any other value very high; no key keeps the setting.
void ReadKeys(const TKeyLookup &Keys, TWavPackOptions &o, std::string &) {
  const std::optional<std::string> level = Keys.Value("Compression");
  if (level) o.Compression = *level == "fast" ? 0 : *level == "high" ? 1 : 2;
}

// Hybrid files leave out what the bitrate cannot hold (a correction file
// only holds it beside them).
bool Lossless(const TWavPackOptions &o) { return !o.Hybrid; }

}  // namespace

constinit const TFormatRow WavPackFormat = {
    .Code = dfWavPack,
    .Name = "WavPack",
    .Extension = "wv",
    .Samples = {.FromFloat = 32, .From24 = 24, .Wide = TWideSamples::Packed24},
    .CreateCoder = &format_row::CreateCoder<TWAVPACKCoder, TWavPackOptions>,
    .WriteTags = &tag_writers::WavPack,
    .Version = &TWAVPACK_Coder::Version,
    .NewOptions = &format_row::NewOptions<TWavPackOptions>,
    .Fields = kFields,
    .Keys = kKeys,
    .ReadKeys = &format_row::ReadKeys<TWavPackOptions, &ReadKeys>,
    .KeyHelp = kKeyHelp,
    .Lossless = &format_row::Lossless<TWavPackOptions, &Lossless>,
    .Takes = [](const void *) { return TEncoderRange{.MaxChannels = WAVPACK_MAX_CHANS}; },
    .CreateJoiner = &CreateWavPackJoiner,
};
