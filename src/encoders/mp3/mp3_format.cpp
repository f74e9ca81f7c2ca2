// SPDX-License-Identifier: GPL-3.0-or-later
#include "encoders/mp3/mp3_format.h"

#include <cctype>

#include "encoders/mp3/mp3_coder.h"
#include "encoders/mp3/mp3_joiner.h"

namespace {

const int32_t kBitrates[MP3BitrateCount] = {320, 32, 40, 48, 56, 64, 80, 96,
                                            112, 128, 160, 192, 224, 256, 320};
const char *const kPresets[MP3PresetCount] = {
    "NORMAL_QUALITY", "LOW_QUALITY", "HIGH_QUALITY", "VOICE_QUALITY", "R3MIX",
    "VERYHIGH_QUALITY", "STANDARD", "FAST_STANDARD", "EXTREME", "FAST_EXTREME",
    "INSANE", "ABR", "CBR", "MEDIUM", "FAST_MEDIUM"};
const char *const kBitrateTypes[] = {"CBR", "VBR", "QUALITY", "PRESET"};

std::string BitrateTypeName(TBitrateType Type) { return kBitrateTypes[Type & 3]; }

TBitrateType BitrateTypeFromName(const std::string &Name) {
  for (int i = 0; i < 4; ++i)
    if (Name == kBitrateTypes[i]) return TBitrateType(i);
  return btVBR;
}

int32_t VBRMethodFromStored(int32_t Value) { return Value & 3; }

// The three bitrates are stored as positions of the bitrate table and held in kbit/s.
using format_row::Field;
constexpr TOptionField kFields[] = {
    Field<&TMP3Options::AutoFindBitrate>("MP3AutoFindBitrate"),
    Field<&TMP3Options::Preset>("MP3Preset", -1, MP3PresetCount - 1),
    Field<&TMP3Options::Bitrate, &MP3BitratePosition, &MP3BitrateAt>("MP3Bitrate", 1, MP3BitrateCount - 1),
    Field<&TMP3Options::BitrateType, &BitrateTypeName, &BitrateTypeFromName>("MP3BitrateType"),
    Field<&TMP3Options::MinBitrate, &MP3BitratePosition, &MP3BitrateAt>("MP3MinBitrate", 1, MP3BitrateCount - 1),
    Field<&TMP3Options::MaxBitrate, &MP3BitratePosition, &MP3BitrateAt>("MP3MaxBitrate", 1, MP3BitrateCount - 1),
    Field<&TMP3Options::Quality>("MP3Quality", 0, 9),
    Field<&TMP3Options::VBRMethod, nullptr, &VBRMethodFromStored>("MP3VBRMethod", 0, 3),
    Field<&TMP3Options::StereoMode>("MP3StereoMode", 0, 1),
};

constexpr const char *kKeys[] = {"Bitrate", "MinBitrate", "MaxBitrate", "StereoMode", "VBRMethod", "Quality"};
constexpr TKeyHelp kKeyHelp[] = {
    {"Bitrate", nullptr, "kbit/s, 32 to 320: constant bitrate"},
    {"MinBitrate", nullptr, "kbit/s, 32 to 320: the least of a variable bitrate"},
    {"MaxBitrate", nullptr, "kbit/s, 32 to 320: the most of a variable bitrate"},
    {"StereoMode", nullptr, "S for plain stereo; joint stereo otherwise"},
    {"VBRMethod", nullptr, "default, old, new or abr"},
    {"Quality", "MP3Quality", "0 best, 9 fastest"},
    {"Preset", nullptr, "LAME preset: STANDARD, EXTREME, INSANE, MEDIUM, ..."},
};

std::string Upper(std::string text) {
  for (char &c : text) c = char(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

// A bitrate chooses CBR, a preset the preset mode, neither VBR; "/preset"
// needs no bitrate and takes any case.
void ReadKeys(const TKeyLookup &Keys, TMP3Options &o, std::string &Error) {
  ReadNumberKey(Keys, "Bitrate", o.Bitrate, Error);
  ReadNumberKey(Keys, "MinBitrate", o.MinBitrate, Error);
  ReadNumberKey(Keys, "MaxBitrate", o.MaxBitrate, Error);
  ReadNumberKey(Keys, "Quality", o.Quality, Error);
  o.AutoFindBitrate = false;
  o.StereoMode = Keys.Value("StereoMode") == "S" ? 0 : 1;
  const std::optional<std::string> method = Keys.Value("VBRMethod");
  const char *const methods[] = {"default", "old", "new", "abr"};
  for (int i = 0; i < 4; ++i)
    if (method == methods[i]) o.VBRMethod = TVBRMethod(i);
  if (Keys.Given("Preset")) {
    o.BitrateType = btPRESET;
    o.Preset = MP3PresetPosition(Upper(Keys.Value("Preset").value_or("")));
  } else {
    o.BitrateType = Keys.Value("Bitrate") ? btCBR : btVBR;
  }
}

// The rates of MPEG-1, 2 and 2.5 layer III; one or two channels.
const int32_t kRates[] = {8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000};
TEncoderRange Takes(const void *) { return {.Rates = kRates, .MaxChannels = 2}; }

TCoderVersionRec Version() {
  const TLameVersion lame = TLameCoder::Version();
  return {lame.Text, lame.EncoderMajor, lame.EncoderMinor, "libmp3lame.so.0"};
}

}  // namespace

int32_t MP3BitrateAt(int Position) {
  return Position >= 0 && Position < MP3BitrateCount ? kBitrates[Position] : kBitrates[10];
}

int MP3BitratePosition(int32_t Kbps) { return PositionIn(kBitrates, Kbps, 1, 10); }

const char *MP3PresetName(int Position) {
  return Position >= 0 && Position < MP3PresetCount ? kPresets[Position] : kPresets[0];
}

int MP3PresetPosition(const std::string &Name) {
  for (int i = 0; i < MP3PresetCount; ++i)
    if (Name == kPresets[i]) return i;
  return -1;
}

constinit const TFormatRow MP3Format = {
    .Code = dfMP3,
    .Name = "MP3",
    .Extension = "mp3",
    // LAME takes floats: 24-bit and float sources keep their resolution.
    .Samples = {.FromFloat = 32, .From24 = 32, .Wide = TWideSamples::AsDecoded},
    .CreateCoder = &format_row::CreateCoder<TMP3Coder, TMP3Options>,
    .WriteTags = &tag_writers::MP3,
    .Version = &Version,
    .NewOptions = &format_row::NewOptions<TMP3Options>,
    .Fields = kFields,
    .Keys = kKeys,
    .ReadKeys = &format_row::ReadKeys<TMP3Options, &ReadKeys>,
    .KeyHelp = kKeyHelp,
    .Takes = &Takes,
    .DelayAndPadding = 1152 * 2 + 1105,  // two frames, the encoder's and the decoder's delay
    .CreateJoiner = &CreateMP3Joiner,
};
