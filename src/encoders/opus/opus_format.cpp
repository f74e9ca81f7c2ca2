// SPDX-License-Identifier: GPL-3.0-or-later
#include "encoders/opus/opus_format.h"

#include <algorithm>
#include <cctype>
#include <iterator>

#include "encoders/opus/opus_coder.h"
#include "encoders/opus/opus_joiner.h"
#include "encoders/opus/opus_lib.h"

namespace {

const char *const kModes[] = {"VBR", "CVBR", "CBR"};
const char *const kApplications[] = {"AUDIO", "VOIP"};
// The frame durations Opus has, in tenths of a millisecond and as written.
constexpr int32_t kFrameSizes[] = {25, 50, 100, 200, 400, 600};
const char *const kFrameSizeNames[] = {"2.5", "5", "10", "20", "40", "60"};

std::string Upper(std::string Text) {
  for (char &c : Text) c = char(std::toupper(static_cast<unsigned char>(c)));
  return Text;
}

// Where Name (any case) stands among Names; -1 when it is not there.
template <size_t N>
int IndexOf(const char *const (&Names)[N], const std::string &Name) {
  for (size_t i = 0; i < N; ++i)
    if (Upper(Name) == Names[i]) return int(i);
  return -1;
}

std::string ModeName(TOpusMode Mode) { return kModes[size_t(Mode) % std::size(kModes)]; }
TOpusMode ModeFromName(const std::string &Name) { return TOpusMode(std::max(0, IndexOf(kModes, Name))); }
std::string ApplicationName(TOpusApplication Application) {
  return kApplications[size_t(Application) % std::size(kApplications)];
}
TOpusApplication ApplicationFromName(const std::string &Name) {
  return TOpusApplication(std::max(0, IndexOf(kApplications, Name)));
}
std::string FrameSizeName(int32_t FrameSize) {
  const auto at = std::find(std::begin(kFrameSizes), std::end(kFrameSizes), FrameSize);
  return kFrameSizeNames[at == std::end(kFrameSizes) ? 3 : at - std::begin(kFrameSizes)];
}
// Any other text is the default, 20 ms.
int32_t FrameSizeFromName(const std::string &Name) {
  const int at = IndexOf(kFrameSizeNames, Name);
  return kFrameSizes[at < 0 ? 3 : at];
}

using format_row::Field;
constexpr TOptionField kFields[] = {
    Field<&TOpusOptions::Bitrate>("OpusBitrate", 6, 510),
    Field<&TOpusOptions::Mode, &ModeName, &ModeFromName>("OpusMode"),
    Field<&TOpusOptions::Complexity>("OpusComplexity", 0, 10),
    Field<&TOpusOptions::Application, &ApplicationName, &ApplicationFromName>("OpusApplication"),
    Field<&TOpusOptions::FrameSize, &FrameSizeName, &FrameSizeFromName>("OpusFrameSize"),
};

constexpr const char *kKeys[] = {"Bitrate", "Mode", "Complexity", "Application", "FrameSize"};
constexpr TKeyHelp kKeyHelp[] = {
    {"Bitrate", "OpusBitrate", "kbit/s of a stereo pair (mono half, more channels half per channel)"},
    {"Mode", nullptr, "vbr, cvbr (constrained) or cbr"},
    {"Complexity", "OpusComplexity", "0 fastest ... 10 best"},
    {"Application", nullptr, "audio (music) or voip (speech)"},
    {"FrameSize", nullptr, "ms: 2.5, 5, 10, 20, 40 or 60"},
};

// A word key that names none of Names is explained in Error and keeps the stored value.
template <size_t N>
void ReadWordKey(const TKeyLookup &Keys, const char *Key, const char *const (&Names)[N], const char *Words,
                 int &Target, std::string &Error) {
  const std::optional<std::string> value = Keys.Value(Key);
  if (!value) return;
  const int at = IndexOf(Names, *value);
  if (at < 0) Error = std::string("/") + Key + " for Opus is " + Words + ", not \"" + *value + "\"";
  else Target = at;
}

// A number key outside Min..Max is explained in Error and keeps the stored value.
void ReadRangeKey(const TKeyLookup &Keys, const char *Key, int32_t Min, int32_t Max, int32_t &Target,
                  std::string &Error) {
  int32_t value = Target;
  std::string error;
  ReadNumberKey(Keys, Key, value, error);
  if (error.empty() && (value < Min || value > Max))
    error = std::string("/") + Key + " for Opus is a number from " + std::to_string(Min) + " to " +
            std::to_string(Max) + ", not \"" + *Keys.Value(Key) + "\"";
  if (error.empty()) Target = value;
  else Error = error;
}

void ReadKeys(const TKeyLookup &Keys, TOpusOptions &o, std::string &Error) {
  ReadRangeKey(Keys, "Bitrate", 6, 510, o.Bitrate, Error);
  ReadRangeKey(Keys, "Complexity", 0, 10, o.Complexity, Error);
  int mode = int(o.Mode), application = int(o.Application), frameSize = -1;
  ReadWordKey(Keys, "Mode", kModes, "vbr, cvbr or cbr", mode, Error);
  ReadWordKey(Keys, "Application", kApplications, "audio or voip", application, Error);
  ReadWordKey(Keys, "FrameSize", kFrameSizeNames, "2.5, 5, 10, 20, 40 or 60 (ms)", frameSize, Error);
  o.Mode = TOpusMode(mode);
  o.Application = TOpusApplication(application);
  if (frameSize >= 0) o.FrameSize = kFrameSizes[frameSize];
}

// Opus codes at 48 kHz (other rates are only what a decoder may be asked
// for); the standard Vorbis mapping reaches 8 channels.
constexpr int32_t kRates[] = {48000};
TEncoderRange Takes(const void *) { return {.Rates = kRates, .MaxChannels = 8}; }

}  // namespace

int32_t OpusBitrateFor(const TOpusOptions &Options, int32_t Channels) {
  return Options.Bitrate * 500 * std::max(1, Channels);
}

constinit const TFormatRow OpusFormat = {
    .Code = dfOpus,
    .Name = "Opus",
    .Extension = "opus",
    // The library takes floats: 24-bit and float sources come as the decoder's floats.
    .Samples = {.FromFloat = 32, .From24 = 32, .Wide = TWideSamples::AsDecoded},
    .CreateCoder = &format_row::CreateCoder<TOpusCoder, TOpusOptions>,
    .WriteTags = &tag_writers::Opus,
    .Version = &TOpus_Coder::Version,
    .NewOptions = &format_row::NewOptions<TOpusOptions>,
    .Fields = kFields,
    .Keys = kKeys,
    .ReadKeys = &format_row::ReadKeys<TOpusOptions, &ReadKeys>,
    .KeyHelp = kKeyHelp,
    .Takes = &Takes,
    .DelayAndPadding = 0,  // pre-skip and the last granule trim both ends exactly
    .CreateJoiner = &CreateOpusJoiner,
};
