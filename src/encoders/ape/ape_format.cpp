// SPDX-License-Identifier: GPL-3.0-or-later
#include "encoders/ape/ape_format.h"

#include "encoders/ape/ape_coder.h"
#include "encoders/ape/ape_joiner.h"

namespace {

constexpr TOptionField kFields[] = {
    format_row::Field<&TAPEOptions::Compression>("APECompression", 1, 5),
};

constexpr const char *kKeys[] = {"Compression"};
constexpr TKeyHelp kKeyHelp[] = {
    {"Compression", nullptr, "fast, normal, high, extra, or insane for any other value"},
};

// Any value but these four names means insane.
void ReadKeys(const TKeyLookup &Keys, TAPEOptions &o, std::string &) {
  const std::optional<std::string> value = Keys.Value("Compression");
  if (!value) return;
  const char *const names[] = {"fast", "normal", "high", "extra"};
  o.Compression = 5;
  for (int i = 0; i < 4; ++i)
    if (*value == names[i]) o.Compression = i + 1;
}

TCoderVersionRec Version() { return {APECompressorVersion(), 3, 99, "MACDll (built in)"}; }

}  // namespace

constinit const TFormatRow APEFormat = {
    .Code = dfAPE,
    .Name = "APE",
    .Extension = "ape",
    .Samples = {.FromFloat = 16, .From24 = 24, .Wide = TWideSamples::Packed24},
    .CreateCoder = &format_row::CreateCoder<TAPECoder, TAPEOptions>,
    .WriteTags = &tag_writers::APE,
    .Version = &Version,
    .NewOptions = &format_row::NewOptions<TAPEOptions>,
    .Fields = kFields,
    .Keys = kKeys,
    .ReadKeys = &format_row::ReadKeys<TAPEOptions, &ReadKeys>,
    .KeyHelp = kKeyHelp,
    .Lossless = &format_row::AlwaysLossless,
    .Takes = [](const void *) { return TEncoderRange{.MaxChannels = 2}; },
    .CreateJoiner = &CreateAPEJoiner,
};
