// The program itself, converting without a window: exit status, messages on
// standard error, cancel by signal, and settings left as they were.
#include <gtest/gtest.h>

#include <signal.h>
#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include <fmt/printf.h>

#include "test_support.h"

namespace fs = std::filesystem;

namespace {

class BatchMode : public ::testing::Test {
 protected:
  void SetUp() override {
    Folder = TestFolder();
    fs::create_directories(Folder + "/config/tonmill");
    Conf = Folder + "/config/tonmill/tonmill.conf";
    const std::string text = "[General]\nDestinationFormat=WAV\nLanguage=FR\nProgParallelFiles=4\n";
    WriteFileBytes(Conf, std::vector<uint8_t>(text.begin(), text.end()));
    setenv("XDG_CONFIG_HOME", (Folder + "/config").c_str(), 1);
    In = Folder + "/in";
    fs::create_directories(In);
  }

  int Tonmill(std::vector<std::string> args, std::string *err = nullptr) {
    args.insert(args.begin(), TONMILL_BINARY);
    return RunTool(args, nullptr, err);
  }

  std::string Folder, Conf, In;
};

TEST_F(BatchMode, ConvertsAPatternAndLeavesTheSettingsAlone) {
  const std::vector<uint8_t> settings = ReadFileBytes(Conf);
  for (int i = 0; i < 3; ++i) {
    TTestSignal s;
    s.Seed = uint32_t(i);
    WriteSignal(In + "/t" + std::to_string(i) + ".flac", s, {"-c:a", "flac"});
  }
  WriteSignal(In + "/other.wav", TTestSignal{});
  std::string err;
  EXPECT_EQ(Tonmill({"/input", In + "/*.flac", "/output", Folder + "/out", "/p", "2"}, &err), 0) << err;
  for (int i = 0; i < 3; ++i) {
    TTestSignal s;
    s.Seed = uint32_t(i);
    EXPECT_EQ(FFmpegDecode(Folder + "/out/t" + std::to_string(i) + ".wav", "s16le"), MakeSamples(s));
  }
  EXPECT_FALSE(fs::exists(Folder + "/out/other.wav"));
  EXPECT_EQ(ReadFileBytes(Conf), settings);
}

// A sheet's tracks are what the run wrote: the summary counts them.
TEST_F(BatchMode, ASheetOfTwelveTracksIsCountedByItsTracks) {
  TTestSignal s;
  s.Seconds = 6;
  WriteSignal(In + "/album.flac", s, {"-c:a", "flac"});
  std::string sheet = "FILE \"album.flac\" WAVE\n";
  for (int t = 0; t < 12; ++t)
    sheet += fmt::sprintf("  TRACK %02d AUDIO\n    TITLE \"Song %d\"\n    INDEX 01 00:%02d:%02d\n", t + 1, t + 1,
                          t * 36 / 75, t * 36 % 75);
  WriteFileBytes(In + "/album.cue", std::vector<uint8_t>(sheet.begin(), sheet.end()));
  std::string err;
  ASSERT_EQ(Tonmill({"/input", In + "/album.cue", "/output", Folder + "/out"}, &err), 0) << err;
  EXPECT_NE(err.find("12 tracks of 1 file converted into " + Folder + "/out/"), std::string::npos) << err;
  EXPECT_EQ(std::distance(fs::directory_iterator(Folder + "/out"), fs::directory_iterator()), 12);

  // Whole files alone keep the plain count.
  WriteSignal(In + "/single.wav", s);
  ASSERT_EQ(Tonmill({"/input", In + "/single.wav", "/output", Folder + "/out2"}, &err), 0) << err;
  EXPECT_NE(err.find("1 file converted into"), std::string::npos) << err;
}

TEST_F(BatchMode, ADamagedSettingsFileIsReportedAndLeftAsItIs) {
  const std::string text = "[General\nDestinationFormat=FLAC\n";
  WriteFileBytes(Conf, std::vector<uint8_t>(text.begin(), text.end()));
  WriteSignal(In + "/a.wav", TTestSignal{});
  std::string err;
  EXPECT_EQ(Tonmill({"/input", In + "/a.wav", "/output", Folder + "/out", "/dest", "wav"}, &err), 0) << err;
  EXPECT_EQ(FFmpegDecode(Folder + "/out/a.wav", "s16le"), MakeSamples(TTestSignal{}));
  const size_t said = err.find("\"" + Conf + "\"");
  EXPECT_NE(said, std::string::npos) << err;
  EXPECT_EQ(err.find(Conf, said + Conf.size()), std::string::npos) << err;  // once
  EXPECT_EQ(ReadFileBytes(Conf), std::vector<uint8_t>(text.begin(), text.end()));
  EXPECT_FALSE(fs::exists(Conf + ".bad"));
}

TEST_F(BatchMode, InputsThatCannotBeConverted) {
  std::string err;
  EXPECT_EQ(Tonmill({"/input", In + "/*.flac", "/output", Folder + "/out", "/dest", "wav"}, &err), 1);
  EXPECT_NE(err.find("no supported audio file"), std::string::npos) << err;

  WriteSignal(In + "/a.wav", TTestSignal{});
  WriteFileBytes(Folder + "/file", {1, 2, 3});
  EXPECT_EQ(Tonmill({"/input", In, "/output", Folder + "/file/out", "/dest", "wav"}, &err), 1);
  EXPECT_NE(err.find("cannot create the output folder"), std::string::npos) << err;

  EXPECT_EQ(Tonmill({"/input", In, "/output", Folder + "/out", "/p", "two"}, &err), 1);
  EXPECT_NE(err.find("/p needs"), std::string::npos) << err;
}

TEST_F(BatchMode, ADamagedSourceConvertsAndIsTheOnlyOneNamed) {
  TTestSignal good;
  WriteSignal(In + "/good.wav", good);
  TTestSignal s;
  s.Seconds = 3;
  WriteSignal(In + "/bad.flac", s, {"-c:a", "flac"});
  std::vector<uint8_t> bytes = ReadFileBytes(In + "/bad.flac");
  bytes.resize(bytes.size() / 2);
  WriteFileBytes(In + "/bad.flac", bytes);
  std::string err;
  EXPECT_EQ(Tonmill({"/input", In, "/output", Folder + "/out", "/dest", "wav", "/p", "2"}, &err), 0) << err;
  const std::string line = "tonmill: warning: " + In + "/bad.flac: ";
  const size_t at = err.find(line);
  ASSERT_NE(at, std::string::npos) << err;
  EXPECT_NE(err.find(" s of 3.00 s decoded", at), std::string::npos) << err;
  EXPECT_EQ(err.find("warning", at + line.size()), std::string::npos) << err;
  EXPECT_NE(err.find("2 files converted"), std::string::npos) << err;
  EXPECT_EQ(FFmpegDecode(Folder + "/out/good.wav", "s16le"), MakeSamples(good));
  const size_t decoded = FFmpegDecode(Folder + "/out/bad.wav", "s16le").size();
  EXPECT_GT(decoded, size_t(44100 * 4));
  EXPECT_LT(decoded, size_t(2 * 44100 * 4));
}

TEST_F(BatchMode, InterruptCancelsCleanly) {
  for (int i = 0; i < 3; ++i) {
    TTestSignal s;
    s.Seconds = 120;
    WriteSignal(In + "/long" + std::to_string(i) + ".wav", s);
  }
  const std::string errFile = Folder + "/err.txt";
  const int pid = StartTool({TONMILL_BINARY, "/input", In, "/output", Folder + "/out", "/p", "2"}, errFile);
  ASSERT_GT(pid, 0);
  // Once the first output grows, interrupt.
  for (int i = 0; i < 500 && !(fs::exists(Folder + "/out/long0.wav") &&
                               fs::file_size(Folder + "/out/long0.wav") > 100000); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  const auto sent = std::chrono::steady_clock::now();
  kill(pid, SIGINT);
  EXPECT_EQ(WaitTool(pid), 2);
  EXPECT_LT(std::chrono::steady_clock::now() - sent, std::chrono::seconds(2));
  const std::vector<uint8_t> err = ReadFileBytes(errFile);
  EXPECT_NE(std::string(err.begin(), err.end()).find("cancelled"), std::string::npos);
  // What was written is a valid, shorter file.
  EXPECT_LT(FFmpegDecode(Folder + "/out/long0.wav", "s16le").size(), size_t(120 * 44100 * 4));
}

TEST_F(BatchMode, DebugShowsTheParametersAndWritesNoAudio) {
  WriteSignal(In + "/a.wav", TTestSignal{});
  std::string err;
  EXPECT_EQ(Tonmill({"/DEBUG", "/input", In + "/a.wav", "/output", Folder + "/out", "/dest", "wav"}, &err), 0);
  EXPECT_NE(err.find("WAV Parameters"), std::string::npos) << err;
  EXPECT_EQ(fs::file_size(Folder + "/out/a.wav"), 44u);
}

TEST_F(BatchMode, Mp3AndFlacWithTheirKeys) {
  TTestSignal s;
  s.Seconds = 2;
  WriteSignal(In + "/song.wav", s);
  std::string err;
  ASSERT_EQ(Tonmill({"/input", In + "/song.wav", "/output", Folder + "/out", "/dest", "mp3", "/bitrate",
                     "192"}, &err), 0) << err;
  std::string probe;
  RunTool({"ffprobe", "-v", "error", "-show_entries", "stream=codec_name,bit_rate", "-of", "csv=p=0",
           Folder + "/out/song.mp3"}, &probe);
  EXPECT_EQ(probe, "mp3,192000\n");
  ASSERT_EQ(Tonmill({"/input", In + "/song.wav", "/output", Folder + "/out", "/dest", "FLAC",
                     "/compression", "5"}, &err), 0) << err;
  EXPECT_EQ(FFmpegDecode(Folder + "/out/song.flac", "s16le"), MakeSamples(s));
  EXPECT_EQ(Tonmill({"/input", In + "/song.wav", "/output", Folder + "/out", "/dest", "flac",
                     "/compression", "11"}, &err), 1);
  EXPECT_NE(err.find("level from 0 to 8"), std::string::npos) << err;
}

TEST_F(BatchMode, HelpAndVersion) {
  std::string out;
  EXPECT_EQ(RunTool({TONMILL_BINARY, "--help"}, &out), 0);
  EXPECT_NE(out.find("/input"), std::string::npos);
  EXPECT_EQ(RunTool({TONMILL_BINARY, "--version"}, &out), 0);
  EXPECT_EQ(out.rfind("tonmill ", 0), 0u);
}

}  // namespace
