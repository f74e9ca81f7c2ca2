// The settings file: defaults, kinds, the -321 mark, and no writes in batch mode.
#include <gtest/gtest.h>

#include <filesystem>

#include "app/settings.h"
#include "sources/getaudioinfo_thread.h"
#include "test_support.h"

namespace {

std::string WriteConf(const std::string &folder, const std::string &text) {
  const std::string path = folder + "/tonmill.conf";
  WriteFileBytes(path, std::vector<uint8_t>(text.begin(), text.end()));
  return path;
}

TEST(Settings, AFreshProfileReadsAsTheDefaults) {
  TSettingsStore store(TestFolder() + "/none/tonmill.conf");
  const TGeneralSettings g = LoadGeneralSettings(store);
  EXPECT_EQ(g.Destination, "");
  EXPECT_EQ(DestinationFormatFromName(g.DestinationFormat), dfMP3);
  EXPECT_TRUE(g.CreateFullPath);
  EXPECT_FALSE(g.UseFromSource);
  EXPECT_FALSE(g.Preprocess);
  EXPECT_EQ(g.Language, "EN");
  const TProgramOptions p = LoadProgramOptions(store);
  EXPECT_EQ(p.Priority, 1);
  EXPECT_EQ(p.ParallelFiles, ProcessorCount());
  EXPECT_TRUE(p.SimpleParallelFiles);
  EXPECT_EQ(DestinationFileTypes[dfFLAC - 1].FilesPerCPU, ProcessorCount());
  const TPreprocessOptions pp = LoadPreprocessOptions(store);
  EXPECT_TRUE(pp.SplitBySilence);
  EXPECT_EQ(pp.Seconds, 20);
  EXPECT_EQ(pp.ResampleTo, 44100);
}

TEST(Settings, KindsAreReadStrictly) {
  const std::string path = WriteConf(TestFolder(),
                                     "[General]\nCreateFullPath=yes\nUseFromSource=1\nPreprocess=YES\n"
                                     "ProgPriority=5\nProgParallelFiles=-321\nPPSeconds=abc\n"
                                     "Destination=\"/music/a, b/\"\nDestinationFormat=FLAC\nLanguage=\n");
  TSettingsStore store(path);
  const TGeneralSettings g = LoadGeneralSettings(store);
  EXPECT_FALSE(g.CreateFullPath);  // only "YES" is true
  EXPECT_FALSE(g.UseFromSource);
  EXPECT_TRUE(g.Preprocess);
  EXPECT_EQ(g.Destination, "/music/a, b/");
  EXPECT_EQ(DestinationFormatFromName(g.DestinationFormat), dfFLAC);
  EXPECT_EQ(g.Language, "EN");  // empty: the default
  const TProgramOptions p = LoadProgramOptions(store);
  EXPECT_EQ(p.Priority, 5);
  EXPECT_EQ(p.ParallelFiles, ProcessorCount());  // -321 marks the default
  EXPECT_EQ(LoadPreprocessOptions(store).Seconds, 20);
  EXPECT_EQ(DestinationFormatFromName("flac"), 0);  // names match exactly
}

TEST(Settings, AWrittenBatchReadsBack) {
  const std::string path = TestFolder() + "/sub/tonmill.conf";
  TSettingsStore store(path);
  TGeneralSettings g;
  g.Destination = "/tmp/Öut, b/";
  g.DestinationFormat = "WavPack";
  g.CreateFullPath = false;
  store.WriteSettings(GeneralSettingsRecords(g));
  TPreprocessOptions pp;
  pp.Threshold = 7;
  store.WriteSettings(PreprocessOptionsRecords(pp));

  TSettingsStore again(path);
  const TGeneralSettings back = LoadGeneralSettings(again);
  EXPECT_EQ(back.Destination, g.Destination);
  EXPECT_EQ(back.DestinationFormat, "WavPack");
  EXPECT_FALSE(back.CreateFullPath);
  EXPECT_EQ(LoadPreprocessOptions(again).Threshold, 7);
  const std::vector<uint8_t> text = ReadFileBytes(path);
  EXPECT_NE(std::string(text.begin(), text.end()).find("CreateFullPath=NO"), std::string::npos);
}

TEST(Settings, BatchModeNeverWrites) {
  const std::string path = WriteConf(TestFolder(), "[General]\nLanguage=RU\n");
  const std::vector<uint8_t> before = ReadFileBytes(path);
  TSettingsStore store(path);
  store.BatchMode = true;
  store.WriteSettings(GeneralSettingsRecords(TGeneralSettings{}));
  EXPECT_EQ(ReadFileBytes(path), before);
}

TEST(Settings, ADamagedFileReadsAsTheDefaults) {
  const std::string folder = TestFolder();
  std::vector<uint8_t> junk(5000);
  for (size_t i = 0; i < junk.size(); ++i) junk[i] = uint8_t(i * 131 + 7);
  const std::string path = folder + "/tonmill.conf";
  WriteFileBytes(path, junk);
  TSettingsStore store(path);
  EXPECT_EQ(LoadGeneralSettings(store).Language, "EN");
  EXPECT_EQ(LoadProgramOptions(store).Priority, 1);
  TGeneralSettings g;
  g.Language = "FR";
  store.WriteSettings(GeneralSettingsRecords(g));  // replaces the damaged file
  EXPECT_EQ(LoadGeneralSettings(TSettingsStore(path)).Language, "FR");
}

TEST(Settings, ThreadCountBySimpleOrPerFormatMode) {
  TProgramOptions o;
  o.ParallelFiles = 3;
  EXPECT_EQ(ThreadCountFor(o, dfFLAC), 3);
  o.SimpleParallelFiles = false;
  DestinationFileTypes[dfFLAC - 1].FilesPerCPU = 5;
  EXPECT_EQ(ThreadCountFor(o, dfFLAC), 5);
  DestinationFileTypes[dfFLAC - 1].FilesPerCPU = 0;
  EXPECT_EQ(ThreadCountFor(o, dfFLAC), 1);  // never fewer than one worker
}

}  // namespace
