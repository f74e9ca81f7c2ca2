#include "app/format_readers.h"

#include <fmt/printf.h>

#include <algorithm>
#include <cctype>

#include "app/format_settings.h"

namespace {

bool IsNumber(const std::string &text) {
  return !text.empty() && text.size() < 10 &&
         std::all_of(text.begin(), text.end(), [](char c) { return std::isdigit(static_cast<unsigned char>(c)); });
}

// A numeric key: the stored value stays when the key is missing.
void ReadNumber(const TCommandLine &Line, const char *Key, int32_t &Target, TFormatReading &r) {
  const std::string value = Line.GetParamValue(Key, MissingKey);
  if (value == MissingKey) return;
  if (!IsNumber(value)) {
    r.Error = fmt::sprintf("/%s needs a number, not \"%s\"", Key, value);
    return;
  }
  Target = std::stoi(value);
}

std::string Upper(std::string text) {
  for (char &c : text) c = char(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

TFormatReading ReadMP3(const TCommandLine &Line, const TSettingsStore &Store, TCoder_engine &Engine) {
  TFormatReading r;
  const std::string bitrate = Line.GetParamValue("Bitrate", MissingKey);
  r.DebugMessage = fmt::sprintf(
      "MP3 Parameters = Bitrate=%s, MinBitrate=%s, MaxBitrate=%s, StereoMode=%s, VBRMethod=%s, Quality=%s",
      bitrate, Line.GetParamValue("MinBitrate", MissingKey), Line.GetParamValue("MaxBitrate", MissingKey),
      Line.GetParamValue("StereoMode", MissingKey), Line.GetParamValue("VBRMethod", MissingKey),
      Line.GetParamValue("Quality", MissingKey));
  TMP3Options o = LoadMP3Options(Store);
  ReadNumber(Line, "Bitrate", o.Bitrate, r);
  ReadNumber(Line, "MinBitrate", o.MinBitrate, r);
  ReadNumber(Line, "MaxBitrate", o.MaxBitrate, r);
  ReadNumber(Line, "Quality", o.Quality, r);
  o.AutoFindBitrate = false;
  o.StereoMode = Line.GetParamValue("StereoMode", MissingKey) == "S" ? 0 : 1;
  const std::string method = Line.GetParamValue("VBRMethod", MissingKey);
  const char *const methods[] = {"default", "old", "new", "abr"};
  for (int i = 0; i < 4; ++i)
    if (method == methods[i]) o.VBRMethod = TVBRMethod(i);
  if (Line.HasParam("Preset")) {
    o.BitrateType = btPRESET;
    o.Preset = MP3PresetPosition(Upper(Line.GetParamValue("Preset", "")));
  } else {
    o.BitrateType = bitrate == MissingKey ? btVBR : btCBR;
  }
  Engine.SetMP3Options(o);
  return r;
}

TFormatReading ReadFLAC(const TCommandLine &Line, const TSettingsStore &Store, TCoder_engine &Engine) {
  TFormatReading r;
  const std::string level = Line.GetParamValue("Compression", MissingKey);
  r.DebugMessage = "FLAC Parameters = Compression=" + level;
  TFLACOptions o = LoadFLACOptions(Store);
  if (level != MissingKey) {
    if (!IsNumber(level) || std::stoi(level) >= FLACLevelCount)
      r.Error = "/compression for FLAC is a level from 0 to 8, not \"" + level + "\"";
    else
      ApplyFLACCommandLineLevel(std::stoi(level), o);
  }
  Engine.SetFLACOptions(o);
  return r;
}

TFormatReading ReadAPE(const TCommandLine &Line, const TSettingsStore &Store, TCoder_engine &Engine) {
  const std::string value = Line.GetParamValue("Compression", MissingKey);
  TFormatReading r{"APE Parameters = Compression=" + value, ""};
  int32_t compression = LoadAPECompression(Store);
  if (value != MissingKey) {
    const char *const names[] = {"fast", "normal", "high", "extra"};
    compression = 5;  // any other value: insane
    for (int i = 0; i < 4; ++i)
      if (value == names[i]) compression = i + 1;
  }
  Engine.SetAPEOptions(compression);
  return r;
}

}  // namespace

TFormatReading ReadFormatCommandLine(TDestinationFormat Format, const TCommandLine &Line,
                                     const TSettingsStore &Store, TCoder_engine &Engine) {
  switch (Format) {
    case dfMP3: return ReadMP3(Line, Store, Engine);
    case dfAPE: return ReadAPE(Line, Store, Engine);
    case dfFLAC: return ReadFLAC(Line, Store, Engine);
    case dfWAV: return {"WAV Parameters = (none)", ""};
    default: return {};
  }
}
