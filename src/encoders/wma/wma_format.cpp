// SPDX-License-Identifier: GPL-3.0-or-later
#include "encoders/wma/wma_format.h"

#include <utility>

#include "base/texts.h"
#include "encoders/wma/wma_coder.h"

namespace {

const int32_t kBitrates[WMABitrateCount] = {0,  0,  5,  6,  8,  10, 12,  16,  20,  22,  24,  32,  40,
                                            48, 63, 64, 80, 95, 96, 127, 128, 160, 191, 192, 256, 320};

std::string BitrateTypeName(uint8_t Type) { return Type == 1 ? "VBR" : "CBR"; }
// "QUALITY" and "PRESET" are no WMA modes: they read as CBR like any other text.
uint8_t BitrateTypeFromName(const std::string &Name) { return Name == "VBR" ? 1 : 0; }

using format_row::Field;
constexpr TOptionField kFields[] = {
    Field<&TWMAOptions::Bitrate, &WMABitratePosition, &WMABitrateAt>("WMABitrate", 1, WMABitrateCount - 1),
    Field<&TWMAOptions::BitrateType, &BitrateTypeName, &BitrateTypeFromName>("WMABitrateType"),
    Field<&TWMAOptions::Quality>("WMAQuality", 10, 98),
    Field<&TWMAOptions::AutoFindBitrate>("WMAAutoFindBitrate"),
    Field<&TWMAOptions::UseProCodec>("WMAUseProCoder"),
    Field<&TWMAOptions::Lossless>("WMALoseless"),
};

constexpr const char *kKeys[] = {"Bitrate", "UseProCodec", "Quality", "Loseless"};
constexpr TKeyHelp kKeyHelp[] = {
    {"Bitrate", nullptr, "kbit/s: constant bitrate"},
    {"UseProCodec", nullptr, "the Pro codec: refused, FFmpeg has no encoder for it"},
    {"Quality", "WMAQuality", "variable bitrate quality"},
    {"Loseless", nullptr, "lossless: refused, FFmpeg has no encoder for it"},
};

// A bitrate chooses CBR, none VBR at the quality. The encoder here has
// neither the Pro codec nor lossless: asking for them fails the run at once,
// not every file of it.
void ReadKeys(const TKeyLookup &Keys, TWMAOptions &o, std::string &Error) {
  o.Lossless = false;
  o.AutoFindBitrate = false;
  ReadNumberKey(Keys, "Bitrate", o.Bitrate, Error);
  ReadNumberKey(Keys, "Quality", o.Quality, Error);
  o.UseProCodec = false;
  o.BitrateType = Keys.Value("Bitrate") ? 0 : 1;
  for (const auto &[key, name] : {std::pair{"UseProCodec", "/useprocodec"}, {"Loseless", "/loseless"}})
    if (Keys.Given(key) && Error.empty()) Error = name + (": " + text_wma_pro_lossless_unavailable);
}

TCoderVersionRec Version() { return {BASS_WMA_EncoderName(), 0, 0, "libavcodec"}; }

}  // namespace

int32_t WMABitrateAt(int32_t Position) {
  return Position >= 0 && Position < WMABitrateCount ? kBitrates[Position] : kBitrates[21];
}

int32_t WMABitratePosition(int32_t Kbps) { return PositionIn(kBitrates, Kbps, 1, 21); }

constinit const TFormatRow WMAFormat = {
    .Code = dfWMA,
    .Name = "WMA",
    .Extension = "wma",
    .Samples = {.FromFloat = 16, .From24 = 16},
    .CreateCoder = &format_row::CreateCoder<TWMACoder, TWMAOptions>,
    .WriteTags = &tag_writers::WMA,
    .Version = &Version,
    .NewOptions = &format_row::NewOptions<TWMAOptions>,
    .Fields = kFields,
    .Keys = kKeys,
    .ReadKeys = &format_row::ReadKeys<TWMAOptions, &ReadKeys>,
    .KeyHelp = kKeyHelp,
    .Takes = [](const void *) { return TEncoderRange{.MinRate = 8000, .MaxRate = 48000, .MaxChannels = 2}; },
    .DelayAndPadding = 2048 * 2,
};
