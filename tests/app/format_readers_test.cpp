// SPDX-License-Identifier: GPL-3.0-or-later
// Encoder keys of the command line, read over the stored settings.
#include <gtest/gtest.h>

#include "app/format_readers.h"
#include "base/texts.h"
#include "encoders/aac/aac_format.h"
#include "encoders/ape/ape_format.h"
#include "encoders/flac/flac_format.h"
#include "encoders/mp3/mp3_format.h"
#include "encoders/ogg/ogg_format.h"
#include "encoders/wavpack/wavpack_format.h"
#include "encoders/wma/wma_format.h"
#include "test_support.h"

namespace {

class FormatReaders : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string path = TestFolder() + "/tonmill.conf";
    const std::string text =
        "[General]\nMP3Bitrate=12\nMP3MinBitrate=5\nMP3MaxBitrate=13\nMP3Quality=2\n"
        "MP3VBRMethod=1\nFLACCompression=3\nFLACl=7\nFLACBuffer=2304\nAACBandwidth=1\nAACQuality=150\nWMABitrate=24\nWMAAutoFindBitrate=YES\n"
        "OGGQuality=8\nOGGMax=13\nWVCompression=0\nWVHybrid=YES\n";
    WriteFileBytes(path, std::vector<uint8_t>(text.begin(), text.end()));
    Store = std::make_unique<TSettingsStore>(path);
  }
  const TMP3Options &MP3() { return *static_cast<const TMP3Options *>(Engine.GetOptions(dfMP3)); }
  const TFLACOptions &FLAC() { return *static_cast<const TFLACOptions *>(Engine.GetOptions(dfFLAC)); }
  TFormatReading Read(TDestinationFormat f, std::vector<std::string> args) {
    return ReadFormatCommandLine(f, TCommandLine(std::move(args)), *Store, Engine);
  }
  std::unique_ptr<TSettingsStore> Store;
  TCoder_engine Engine;
};

TEST_F(FormatReaders, Mp3WithoutKeysKeepsTheStoredVbrSettings) {
  const TFormatReading r = Read(dfMP3, {"/dest", "mp3"});
  EXPECT_EQ(r.Error, "");
  EXPECT_EQ(r.DebugMessage,
            "MP3 Parameters = Bitrate=9999999, MinBitrate=9999999, MaxBitrate=9999999, StereoMode=9999999, "
            "VBRMethod=9999999, Quality=9999999");
  EXPECT_EQ(MP3().BitrateType, btVBR);
  EXPECT_EQ(MP3().MinBitrate, 64);
  EXPECT_EQ(MP3().MaxBitrate, 256);
  EXPECT_EQ(MP3().Quality, 2);
  EXPECT_EQ(MP3().VBRMethod, vbrOld);
  EXPECT_EQ(MP3().StereoMode, 1);
  EXPECT_FALSE(MP3().AutoFindBitrate);
}

TEST_F(FormatReaders, Mp3Keys) {
  EXPECT_EQ(Read(dfMP3, {"/bitrate", "128", "/stereomode", "S", "/vbrmethod", "abr"}).Error, "");
  EXPECT_EQ(MP3().BitrateType, btCBR);
  EXPECT_EQ(MP3().Bitrate, 128);
  EXPECT_EQ(MP3().StereoMode, 0);
  EXPECT_EQ(MP3().VBRMethod, vbrABR);

  Read(dfMP3, {"/preset", "fast_extreme", "/vbrmethod", "fastest"});
  EXPECT_EQ(MP3().BitrateType, btPRESET);
  EXPECT_EQ(MP3().Preset, 9);
  EXPECT_EQ(MP3().VBRMethod, vbrOld);  // an unknown method keeps the stored one
  Read(dfMP3, {"/preset", "loudest"});
  EXPECT_EQ(MP3().Preset, -1);

  EXPECT_NE(Read(dfMP3, {"/bitrate", "fast"}).Error, "");
}

TEST_F(FormatReaders, FlacCompression) {
  TFormatReading r = Read(dfFLAC, {"/dest", "flac"});
  EXPECT_EQ(r.DebugMessage, "FLAC Parameters = Compression=9999999");
  EXPECT_EQ(FLAC().MaxLpcOrder, 7);  // stored, untouched
  EXPECT_EQ(FLAC().BlockSize, 2304);

  r = Read(dfFLAC, {"/compression", "8"});
  EXPECT_EQ(r.Error, "");
  EXPECT_EQ(FLAC().MaxLpcOrder, 12);
  EXPECT_TRUE(FLAC().ExhaustiveModelSearch);
  EXPECT_EQ(FLAC().BlockSize, 4096);

  EXPECT_NE(Read(dfFLAC, {"/compression", "9"}).Error, "");
  EXPECT_NE(Read(dfFLAC, {"/compression", "best"}).Error, "");
}

TEST_F(FormatReaders, OggQualityOrManagedBitrates) {
  auto setting = [this] { return *static_cast<const TOGGOptions *>(Engine.GetOptions(dfOGG)); };
  TFormatReading r = Read(dfOGG, {"/dest", "ogg", "/avgbitrate", "10"});
  EXPECT_EQ(r.DebugMessage, "OGG Parameters = MaxBitrate=9999999, MinBitrate=9999999, AvgBitrate=10, Quality=9999999");
  EXPECT_EQ(setting().BitrateType, obCBR);  // no quality: the bitrates decide
  EXPECT_EQ(setting().Avg, 10);
  EXPECT_EQ(setting().Max, 13);  // stored, untouched
  EXPECT_EQ(setting().Quality, 8);

  EXPECT_EQ(Read(dfOGG, {"/quality", "3", "/maxbitrate", "192"}).Error, "");
  EXPECT_EQ(setting().BitrateType, obQUALITY);
  EXPECT_EQ(setting().Quality, 3);
  EXPECT_EQ(setting().Max, 192);  // a position past the table: no ceiling
  EXPECT_EQ(OGGBitrateAt(192), -1);
  EXPECT_NE(Read(dfOGG, {"/quality", "high"}).Error, "");
}

TEST_F(FormatReaders, WavPackCompressionNames) {
  auto setting = [this] { return *static_cast<const TWavPackOptions *>(Engine.GetOptions(dfWavPack)); };
  EXPECT_EQ(Read(dfWavPack, {"/dest", "wavpack"}).DebugMessage, "WavPack Parameters = Compression=9999999");
  EXPECT_EQ(setting().Compression, 0);  // no key: the stored setting
  EXPECT_TRUE(setting().Hybrid);
  for (const auto &[name, level] : {std::pair{"high", 1}, {"fast", 0}, {"best", 2}, {"Fast", 2}}) {
    Read(dfWavPack, {"/compression", name});
    EXPECT_EQ(setting().Compression, level) << name;
  }
}

TEST_F(FormatReaders, ApeCompressionNames) {
  auto setting = [this] { return static_cast<const TAPEOptions *>(Engine.GetOptions(dfAPE))->Compression; };
  EXPECT_EQ(Read(dfAPE, {"/compression", "extra"}).DebugMessage, "APE Parameters = Compression=extra");
  EXPECT_EQ(setting(), 4);
  Read(dfAPE, {"/compression", "fast"});
  EXPECT_EQ(setting(), 1);
  Read(dfAPE, {"/compression", "Extra"});  // names are lower case: anything else is insane
  EXPECT_EQ(setting(), 5);
  Read(dfAPE, {"/dest", "ape"});
  EXPECT_EQ(setting(), TAPEOptions{}.Compression);  // no key: the stored setting
}

TEST_F(FormatReaders, AacKeysAreNumbersGivenUnchanged) {
  auto aac = [this] { return *static_cast<const TAACOptions *>(Engine.GetOptions(dfAAC)); };
  TFormatReading r = Read(dfAAC, {"/dest", "aac", "/bitrate", "96"});
  EXPECT_EQ(r.DebugMessage, "AAC Parameters = Quality=9999999, Bandwidth=9999999, Bitrate=96");
  EXPECT_EQ(aac().Bitrate, 96);
  EXPECT_EQ(aac().Bandwidth, 6000);  // stored as the dialog's position
  EXPECT_EQ(aac().Quality, 150);
  r = Read(dfAAC, {"/quality", "200", "/bandwidth", "12000"});
  EXPECT_EQ(r.Error, "");
  EXPECT_EQ(aac().Bandwidth, 12000);  // in Hz, any value
  EXPECT_EQ(aac().Quality, 200);
  EXPECT_NE(Read(dfAAC, {"/bitrate", "high"}).Error, "");
}

TEST_F(FormatReaders, WmaBitrateChoosesCbrElseVbr) {
  auto wma = [this] { return *static_cast<const TWMAOptions *>(Engine.GetOptions(dfWMA)); };
  TFormatReading r = Read(dfWMA, {"/dest", "wma", "/quality", "40"});
  EXPECT_EQ(r.DebugMessage, "WMA Parameters = Bitrate=9999999, UseProCodec=9999999, Quality=40, Loseless=9999999");
  EXPECT_EQ(r.Error, "");
  EXPECT_EQ(wma().BitrateType, 1);
  EXPECT_EQ(wma().Quality, 40);
  EXPECT_EQ(wma().Bitrate, 256);  // stored position 24
  EXPECT_FALSE(wma().AutoFindBitrate);
  EXPECT_EQ(Read(dfWMA, {"/bitrate", "64", "/usepro"}).Error, "");  // "/usepro" is not "/useprocodec"
  EXPECT_EQ(wma().BitrateType, 0);
  EXPECT_EQ(wma().Bitrate, 64);
  // Keys for what the encoder here cannot write fail, saying so; neither is
  // ever chosen.
  for (const char *key : {"/useprocodec", "/loseless"}) {
    EXPECT_EQ(Read(dfWMA, {"/quality", "40", key}).Error,
              std::string(key) + ": " + text_wma_pro_lossless_unavailable);
    EXPECT_FALSE(wma().UseProCodec || wma().Lossless);
  }
}

}  // namespace
