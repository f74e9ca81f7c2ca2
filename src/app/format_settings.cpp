#include "app/format_settings.h"

#include "engine/coder_engine.h"

namespace {

const char *const kBitrateTypes[] = {"CBR", "VBR", "QUALITY", "PRESET"};

TBitrateType BitrateTypeFromText(const std::string &text) {
  for (int i = 0; i < 4; ++i)
    if (text == kBitrateTypes[i]) return TBitrateType(i);
  return btVBR;
}

}  // namespace

TMP3Options LoadMP3Options(const TSettingsStore &Store) {
  TMP3Options o;
  o.AutoFindBitrate = Store.ReadBoolean("MP3AutoFindBitrate", false);
  o.Bitrate = MP3BitrateAt(Store.ReadInteger("MP3Bitrate", 10));
  o.MinBitrate = MP3BitrateAt(Store.ReadInteger("MP3MinBitrate", 1));
  o.MaxBitrate = MP3BitrateAt(Store.ReadInteger("MP3MaxBitrate", 14));
  o.StereoMode = uint8_t(Store.ReadInteger("MP3StereoMode", 1));
  o.BitrateType = BitrateTypeFromText(Store.ReadString("MP3BitrateType", "VBR"));
  o.VBRMethod = TVBRMethod(Store.ReadInteger("MP3VBRMethod", vbrNew) & 3);
  o.Quality = Store.ReadInteger("MP3Quality", 4);
  o.Preset = Store.ReadInteger("MP3Preset", 0);
  return o;
}

std::vector<TSaveRec> MP3OptionsRecords(const TMP3Options &o) {
  return {{"MP3AutoFindBitrate", o.AutoFindBitrate},
          {"MP3Preset", o.Preset},
          {"MP3Bitrate", int32_t(MP3BitratePosition(o.Bitrate))},
          {"MP3BitrateType", std::string(kBitrateTypes[o.BitrateType & 3])},
          {"MP3MinBitrate", int32_t(MP3BitratePosition(o.MinBitrate))},
          {"MP3MaxBitrate", int32_t(MP3BitratePosition(o.MaxBitrate))},
          {"MP3Quality", o.Quality},
          {"MP3VBRMethod", int32_t(o.VBRMethod)},
          {"MP3StereoMode", int32_t(o.StereoMode)}};
}

TFLACOptions LoadFLACOptions(const TSettingsStore &Store) {
  TFLACOptions o;
  o.FirstUse = Store.ReadInteger("FLACFirst", 1);
  o.CompressionLevel = Store.ReadInteger("FLACCompression", 5);
  o.ExhaustiveModelSearch = Store.ReadBoolean("FLACe", false);
  o.ExhaustiveQlpSearch = Store.ReadBoolean("FLACp", false);
  o.AdaptiveMidSide = Store.ReadBoolean("FLACmm", false);
  o.MidSide = Store.ReadBoolean("FLACm", false);
  o.MaxLpcOrder = Store.ReadInteger("FLACl", 0);
  o.MaxResidualPartitionOrder = Store.ReadInteger("FLACrmax", 0);
  o.MinResidualPartitionOrder = Store.ReadInteger("FLACrmin", 0);
  o.QlpCoeffPrecision = Store.ReadInteger("FLACq", 0);
  o.BlockSize = Store.ReadInteger("FLACBuffer", 4096);
  return o;
}

std::vector<TSaveRec> FLACOptionsRecords(const TFLACOptions &o) {
  return {{"FLACCompression", o.CompressionLevel}, {"FLACFirst", int32_t(0)},
          {"FLACe", o.ExhaustiveModelSearch},     {"FLACp", o.ExhaustiveQlpSearch},
          {"FLACmm", o.AdaptiveMidSide},          {"FLACm", o.MidSide},
          {"FLACl", o.MaxLpcOrder},               {"FLACrmax", o.MaxResidualPartitionOrder},
          {"FLACrmin", o.MinResidualPartitionOrder}, {"FLACq", o.QlpCoeffPrecision},
          {"FLACBuffer", o.BlockSize}};
}

int32_t LoadAPECompression(const TSettingsStore &Store) {
  return Store.ReadInteger("APECompression", APECompressionDefault);
}

std::vector<TSaveRec> APECompressionRecords(int32_t Compression) {
  return {{"APECompression", Compression}};
}

void LoadFormatOptions(const TSettingsStore &Store, TCoder_engine &Engine) {
  Engine.SetMP3Options(LoadMP3Options(Store));
  Engine.SetFLACOptions(LoadFLACOptions(Store));
  Engine.SetAPEOptions(LoadAPECompression(Store));
}
