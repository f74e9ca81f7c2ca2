// SPDX-License-Identifier: GPL-3.0-or-later
// WMA outputs: the source's tags become the file's attributes, and what the
// codec cannot do (Pro, lossless) is refused when the encoder starts.
#include <gtest/gtest.h>
#include <taglib/asffile.h>

#include <filesystem>

#include "encoders/wma/wma_format.h"
#include "test_support.h"

namespace {

TEST(WMACoder, TheTagsBecomeAttributes) {
  const std::string folder = TestFolder();
  const std::string source = WriteMusic(folder + "/source.wav", {.Seconds = 1});
  const std::string output = folder + "/out.wma";
  const TWMAOptions lossless{.Lossless = true};  // CBR: the lossless flag has no effect
  TFileListRec job = WholeSourceJob(source, output, dfWMA, &lossless);
  job.Tags = {.Title = "Tïtle",
              .Artist = "Artist",
              .Album = "Album",
              .Year = "2001",
              .Comment = "Note",
              .Track = "7",
              .Genre = "Jazz"};
  const std::vector<TThreadErrorRec> errors = ConvertJob(job);
  ASSERT_TRUE(errors.empty()) << errors[0].ErrorMessage;

  TagLib::ASF::File file(output.c_str());
  ASSERT_TRUE(file.isValid());
  const TagLib::ASF::Tag &tag = *file.tag();
  EXPECT_EQ(tag.title().to8Bit(true), "Tïtle");
  EXPECT_EQ(tag.artist().to8Bit(true), "Artist");
  EXPECT_EQ(tag.comment().to8Bit(true), "Note");
  EXPECT_EQ(tag.attribute("WM/TrackNumber").front().toString().to8Bit(true), "7");
  std::string probe;
  ASSERT_EQ(RunTool({"ffprobe", "-v", "error", "-show_entries", "format_tags", "-of", "default=nw=1", output}, &probe),
            0);
  for (const char *line : {"TAG:title=Tïtle", "TAG:album=Album", "TAG:genre=Jazz", "TAG:WM/Year=2001"})
    EXPECT_NE(probe.find(line), std::string::npos) << line << " in\n" << probe;
}

struct TRefused {
  const char *Name;
  TWMAOptions Options;
  int Code;
  const char *Says;  // part of the reason
};
std::ostream &operator<<(std::ostream &os, const TRefused &c) { return os << c.Name; }

class WMARefused : public ::testing::TestWithParam<TRefused> {};

TEST_P(WMARefused, AtInitWithTheEncodersReasonAndNothingLeft) {
  const std::string folder = TestFolder();
  const std::string source = WriteMusic(folder + "/source.wav", {.Seconds = 0.5});
  const std::vector<TThreadErrorRec> errors = ConvertFile(source, folder + "/out.wma", dfWMA, &GetParam().Options);
  ASSERT_EQ(errors.size(), 1u);
  const std::string &message = errors[0].ErrorMessage;
  EXPECT_EQ(message.rfind("Failed to initialize encoder TWMACoder\r\n\"", 0), 0u) << message;
  EXPECT_NE(message.find(GetParam().Says), std::string::npos) << message;
  EXPECT_EQ(errors[0].LastCall, "TWMACoder.Init");
  EXPECT_EQ(errors[0].ErrorCode, GetParam().Code);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder), {}), 1) << "only the source";
}

const char *const kNoPro = "FFmpeg has no encoder for the WMA Pro codec", *const kNoLossless =
    "FFmpeg has no encoder for lossless WMA";
INSTANTIATE_TEST_SUITE_P(
    ProLosslessAndRefusedSetups, WMARefused,
    ::testing::Values(
        TRefused{"pro", {.UseProCodec = true}, BASS_ERROR_NOTAVAIL, kNoPro},
        TRefused{"proSearching", {.AutoFindBitrate = true, .UseProCodec = true}, BASS_ERROR_NOTAVAIL, kNoPro},
        TRefused{"lossless", {.Lossless = true, .BitrateType = 1}, BASS_ERROR_NOTAVAIL, kNoLossless},
        TRefused{"losslessSearching", {.AutoFindBitrate = true, .Lossless = true, .BitrateType = 1},
                 BASS_ERROR_NOTAVAIL, kNoLossless},
        // The encoder's own refusal: what it was asked, and its error text.
        TRefused{"bitrateTooLow", {.Bitrate = 5}, BASS_ERROR_FORMAT,
                 "The WMA encoder (wmav2) refused 2 channels at 44100 Hz and 5 kbit/s: Invalid argument"}),
    [](const auto &info) { return std::string(info.param.Name); });

}  // namespace
