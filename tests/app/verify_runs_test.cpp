// SPDX-License-Identifier: GPL-3.0-or-later
// "/verify" and the stored Verify option through the program: every lossless
// output is checked (also after resampling), lossy ones are not.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <filesystem>

#include "test_support.h"

namespace fs = std::filesystem;

namespace {

struct TVerifyRunRow {
  const char *Name;
  std::string Dest;
  TTestSignal Signal;
  std::vector<std::string> SourceCodec;
  std::string Settings;  // stored besides the language
  std::vector<std::string> Switches;
  const char *Verified;  // what the run says it verified
  std::string Raw;       // the output's samples, decoded by ffmpeg, are the source's in this format; "" no check
  std::string Probe;     // "sample_rate,channels" of the output
};

TEST(VerifyRuns, LosslessOutputsAreVerifiedLossyOnesNot) {
  const std::string folder = TestFolder();
  fs::create_directories(folder + "/config/tonmill");
  setenv("XDG_CONFIG_HOME", (folder + "/config").c_str(), 1);
  const std::vector<std::string> flac = {"-c:a", "flac"}, floats = {"-c:a", "pcm_f32le"};
  const std::vector<std::string> verify = {"/verify"};
  const std::string resample = "Preprocess=YES\nPPResample=YES\nPPResampleTo=48000\nPPChannels=1\nPPSplitBySilence=NO\n";
  const TVerifyRunRow rows[] = {
      {"flac 16", "flac", {}, {}, "", verify, "verified 1 lossless output ", "s16le", "44100,2"},
      {"ape 24", "ape", {.Bits = 24}, flac, "", verify, "verified 1 lossless output ", "s24le", "44100,2"},
      {"wavpack float", "wavpack", {.Bits = 32}, floats, "", verify, "verified 1 lossless output ", "f32le", "44100,2"},
      {"wav 16", "wav", {.Channels = 1}, {}, "", verify, "verified 1 lossless output ", "s16le", "44100,1"},
      {"flac 24 resampled, the stored option", "flac", {.Bits = 24}, flac, resample + "Verify=YES\n", {},
       "verified 1 lossless output ", "", "48000,1"},
      {"wavpack hybrid", "wavpack", {}, {}, "WVHybrid=YES\n", verify, "verified 0 lossless outputs ", "", "44100,2"},
      {"mp3", "mp3", {}, {}, "", verify, "verified 0 lossless outputs ", "", "44100,2"},
  };
  for (const TVerifyRunRow &row : rows) {
    SCOPED_TRACE(row.Name);
    const std::string in = folder + "/in", out = folder + "/out";
    fs::remove_all(in);
    fs::remove_all(out);
    fs::create_directories(in);
    const std::string source =
        WriteSignal(in + "/a." + (row.SourceCodec == flac ? "flac" : "wav"), row.Signal, row.SourceCodec);
    WriteText(folder + "/config/tonmill/tonmill.conf", "[General]\nLanguage=EN\n" + row.Settings);
    std::vector<std::string> args = {TONMILL_BINARY, "/input", source, "/output", out, "/dest", row.Dest};
    args.insert(args.end(), row.Switches.begin(), row.Switches.end());
    std::string said, err;
    EXPECT_EQ(RunTool(args, &said, &err), 0) << err;
    said += err;
    EXPECT_NE(said.find(row.Verified), std::string::npos) << said;
    const std::string output = out + "/a." + (row.Dest == "wavpack" ? "wv" : row.Dest);
    EXPECT_EQ(ProbeStream(output, "sample_rate,channels"), row.Probe + "\n");
    if (!row.Raw.empty()) {
      EXPECT_EQ(FFmpegDecode(output, row.Raw), MakeSamples(row.Signal));
    }
    for (const auto &entry : fs::directory_iterator(out))
      EXPECT_EQ(entry.path().filename().string().rfind(".", 0), std::string::npos) << entry.path();
  }
}

}  // namespace
