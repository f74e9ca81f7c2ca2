// SPDX-License-Identifier: GPL-3.0-or-later
#include "encoders/ogg/ogg_format.h"

#include <algorithm>
#include <cstdlib>
#include <utility>
#include <vector>

#include "encoders/ogg/ogg_coder.h"

namespace {

const int32_t kBitrates[OGGBitrateCount] = {-1,    24000, 32000,  45000,  48000,  56000,  64000,  80000,  96000,
                                            112000, 128000, 144000, 160000, 192000, 224000, 256000, 320000, 499000};
const char *const kBitrateTypes[] = {"CBR", "VBR", "QUALITY", "PRESET"};

std::string BitrateTypeName(TOGGBitrateType Type) { return kBitrateTypes[Type & 3]; }

// Any other text, none included, is the quality mode.
TOGGBitrateType BitrateTypeFromName(const std::string &Name) {
  for (int i = 0; i < 4; ++i)
    if (Name == kBitrateTypes[i]) return TOGGBitrateType(i);
  return obQUALITY;
}

using format_row::Field;
constexpr TOptionField kFields[] = {
    Field<&TOGGOptions::Quality>("OGGQuality", 0, 11),
    Field<&TOGGOptions::BitrateType, &BitrateTypeName, &BitrateTypeFromName>("OGGBitrateType"),
    Field<&TOGGOptions::Max>("OGGMax", 0, OGGBitrateCount - 1),
    Field<&TOGGOptions::Avg>("OGGAvg", 0, OGGBitrateCount - 1),
    Field<&TOGGOptions::Min>("OGGMin", 0, OGGBitrateCount - 1),
};

constexpr const char *kKeys[] = {"MaxBitrate", "MinBitrate", "AvgBitrate", "Quality"};
constexpr TKeyHelp kKeyHelp[] = {
    {"MaxBitrate", "OGGMax", "in the bitrate list: 0 none, 1 = 24 ... 17 = 499 kbit/s"},
    {"MinBitrate", "OGGMin", "as /maxbitrate"},
    {"AvgBitrate", "OGGAvg", "as /maxbitrate"},
    {"Quality", "OGGQuality", "quality -0.1 to 1.0 in tenths: chooses quality mode"},
};

// The bitrates are positions of the table, taken as given; a quality chooses
// the quality mode, none the managed one.
void ReadKeys(const TKeyLookup &Keys, TOGGOptions &o, std::string &Error) {
  ReadNumberKey(Keys, "Quality", o.Quality, Error);
  ReadNumberKey(Keys, "MinBitrate", o.Min, Error);
  ReadNumberKey(Keys, "AvgBitrate", o.Avg, Error);
  ReadNumberKey(Keys, "MaxBitrate", o.Max, Error);
  o.BitrateType = Keys.Value("Quality") ? obQUALITY : obCBR;
}

// Quality modes run up to 200 kHz and 255 channels; managed ones from 8 to
// 48 kHz, and above 8 channels no bitrate of the table is enough at 44.1 kHz.
TEncoderRange Takes(const void *Options) {
  if (static_cast<const TOGGOptions *>(Options)->BitrateType == obQUALITY)
    return {.MaxRate = 200000, .MaxChannels = 255};
  return {.MinRate = 8000, .MaxRate = 48000, .MaxChannels = 8};
}

// The managed bitrates the library takes depend on the rate and channels
// (499 kbit/s is too much for mono): the table's nearest average that it
// takes, the limits kept where they still fit around it.
std::shared_ptr<void> FitBitrate(const void *Options, const TAudioInfoRec &Stream, int32_t &AskedKbps,
                                 int32_t &GivenKbps) {
  const TOGGOptions &o = *static_cast<const TOGGOptions *>(Options);
  if (o.BitrateType == obQUALITY || o.Avg == 0) return nullptr;
  auto takes = [&](int32_t max, int32_t avg, int32_t min) {
    const long nominal = OGGBitrateAt(avg), lowest = OGGBitrateAt(min);
    return TOGG_Coder::TakesBitrate(Stream.Channels, Stream.SampleRate, OGGBitrateAt(max), nominal,
                                    lowest < 0 ? nominal : lowest);
  };
  const int32_t asked = OGGBitrateAt(o.Avg);
  // A position past the table is no bitrate to come near: the encoder says so.
  if (asked < 0 || takes(o.Max, o.Avg, o.Min)) return nullptr;
  std::vector<int32_t> order;
  for (int32_t p = 1; p < OGGBitrateCount; ++p) order.push_back(p);
  std::stable_sort(order.begin(), order.end(), [&](int32_t a, int32_t b) {
    return std::abs(OGGBitrateAt(a) - asked) < std::abs(OGGBitrateAt(b) - asked);
  });
  for (int32_t avg : order) {
    const int32_t bitrate = OGGBitrateAt(avg);
    const int32_t max = OGGBitrateAt(o.Max) < 0 || OGGBitrateAt(o.Max) >= bitrate ? o.Max : avg;
    const int32_t min = OGGBitrateAt(o.Min) <= bitrate ? o.Min : avg;
    for (const auto &[tryMax, tryMin] : {std::pair{max, min}, std::pair{0, 0}}) {
      if (!takes(tryMax, avg, tryMin)) continue;
      auto fitted = std::make_shared<TOGGOptions>(o);
      fitted->Max = tryMax;
      fitted->Avg = avg;
      fitted->Min = tryMin;
      AskedKbps = asked / 1000;
      GivenKbps = bitrate / 1000;
      return fitted;
    }
  }
  return nullptr;
}

}  // namespace

int32_t OGGBitrateAt(int32_t Position) {
  const int32_t index = Position & 0x7F;
  return index < OGGBitrateCount ? kBitrates[index] : -1;
}

constinit const TFormatRow OGGFormat = {
    .Code = dfOGG,
    .Name = "OGG",
    .Extension = "ogg",
    .Samples = {.FromFloat = 32, .From24 = 24, .Wide = TWideSamples::Packed24},
    .CreateCoder = &format_row::CreateCoder<TOGGCoder, TOGGOptions>,
    .WriteTags = &tag_writers::Ogg,
    .Version = &TOGG_Coder::Version,
    .NewOptions = &format_row::NewOptions<TOGGOptions>,
    .Fields = kFields,
    .Keys = kKeys,
    .ReadKeys = &format_row::ReadKeys<TOGGOptions, &ReadKeys>,
    .KeyHelp = kKeyHelp,
    .Takes = &Takes,
    .FitBitrate = &FitBitrate,
    .DelayAndPadding = 2048,  // the largest block
};
