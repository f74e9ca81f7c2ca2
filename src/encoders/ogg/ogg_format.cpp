#include "encoders/ogg/ogg_format.h"

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
    .Version = &TOGG_Coder::Version,
    .NewOptions = &format_row::NewOptions<TOGGOptions>,
    .Fields = kFields,
    .Keys = kKeys,
    .ReadKeys = &format_row::ReadKeys<TOGGOptions, &ReadKeys>,
    .KeyHelp = kKeyHelp,
    // libvorbis has quality modes up to 200 kHz, bitrate-managed ones up to 50 kHz.
    .MaxRate = [](const void *Options) {
      return static_cast<const TOGGOptions *>(Options)->BitrateType == obQUALITY ? 200000 : 48000;
    },
};
