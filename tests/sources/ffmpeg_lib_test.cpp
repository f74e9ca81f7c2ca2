// SPDX-License-Identifier: GPL-3.0-or-later
// The ffmpeg program as a decoder: its report read from real files of many
// kinds, its decoding compared with its own, and every way it can fail
// (missing, unreadable input, no audio, killed, stopped early) ending cleanly:
// a clear error, no process left behind, no descriptor leaked.
#include <gtest/gtest.h>

#include <dirent.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "base/texts.h"
#include "encoders/wav/wav_format.h"
#include "sources/audio_info.h"
#include "sources/ffmpeg_lib.h"
#include "test_support.h"

namespace fs = std::filesystem;

namespace {

int OpenDescriptors() {
  return int(std::distance(fs::directory_iterator("/proc/self/fd"), fs::directory_iterator()));
}

// The processes this one started that still exist, reaped or not.
std::vector<pid_t> Children() {
  std::vector<pid_t> children;
  for (const auto &entry : fs::directory_iterator("/proc")) {
    const std::string name = entry.path().filename();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::ifstream stat(entry.path() / "stat");
    std::string line;
    std::getline(stat, line);
    const size_t close = line.rfind(')');
    if (close == std::string::npos) continue;
    std::istringstream rest(line.substr(close + 2));
    char state;
    pid_t parent;
    rest >> state >> parent;
    if (parent == getpid()) children.push_back(std::stoi(name));
  }
  return children;
}

// The first audio stream of a file as FFmpeg itself decodes it, 16-bit.
std::vector<uint8_t> ReferenceDecode(const std::string &path) {
  std::vector<std::string> args = {"ffmpeg", "-v", "error", "-nostdin"};
  args.insert(args.end(), {"-i", "file:" + path, "-map", "0:a:0", "-f", "s16le", "-c:a", "pcm_s16le", "pipe:1"});
  std::string out;
  EXPECT_EQ(RunTool(args, &out), 0) << path;
  return std::vector<uint8_t>(out.begin(), out.end());
}

// Makes a file with ffmpeg from lavfi sources: `inputs` are lavfi graphs,
// `args` the mapping and codecs.
std::string Make(const std::string &path, const std::vector<std::string> &inputs,
                 const std::vector<std::string> &args, bool throughPipe = false) {
  std::vector<std::string> cmd = {"ffmpeg", "-v", "error", "-y", "-nostdin"};
  for (const std::string &input : inputs) cmd.insert(cmd.end(), {"-f", "lavfi", "-i", input});
  cmd.insert(cmd.end(), args.begin(), args.end());
  if (!throughPipe) {
    cmd.push_back(path);
    std::string err;
    EXPECT_EQ(RunTool(cmd, nullptr, &err), 0) << path << ": " << err;
    return path;
  }
  // Written where it cannot seek back: the container states no duration.
  std::string out;
  cmd.insert(cmd.end(), {"-f", "matroska", "pipe:1"});
  EXPECT_EQ(RunTool(cmd, &out), 0) << path;
  WriteText(path, out);
  return path;
}

const std::string kVideo = "testsrc=size=64x48:rate=25:d=3";
std::string Tone(int rate, const std::string &layout, double seconds = 3) {
  return "sine=f=440:r=" + std::to_string(rate) + ":d=" + std::to_string(seconds) +
         ",aformat=channel_layouts=" + layout;
}

struct TProbeRow {
  const char *Name;
  std::vector<std::string> Inputs;
  std::vector<std::string> Args;
  std::vector<int> Channels;  // of each audio stream, in order
  bool PipeWritten = false;
};

void PrintTo(const TProbeRow &row, std::ostream *os) { *os << row.Name; }

const TProbeRow kProbeRows[] = {
    {"film.mkv", {kVideo, Tone(44100, "stereo")}, {"-map", "0", "-map", "1", "-c:v", "mpeg4", "-c:a", "flac"}, {2}},
    {"two_languages.mkv",
     {kVideo, Tone(48000, "5.1(side)"), Tone(22050, "mono")},
     {"-map", "0", "-map", "1", "-map", "2", "-c:v", "mpeg4", "-c:a:0", "ac3", "-c:a:1", "libvorbis",
      "-metadata:s:a:0", "language=eng", "-metadata:s:a:1", "language=deu",
      // A title that reads like a stream line must not count as one.
      "-metadata:s:a:0", "title=Stream #0:9: Audio: mp3, 8000 Hz, mono, s16p, 32 kb/s"},
     {6, 1}},
    {"layouts.mkv",
     {Tone(48000, "quad"), Tone(48000, "7.1"), Tone(32000, "2.1"), Tone(44100, "5.0")},
     {"-map", "0", "-map", "1", "-map", "2", "-map", "3", "-c:a", "pcm_s16le"},
     {4, 8, 3, 5}},
    {"opus.mkv", {Tone(48000, "stereo")}, {"-c:a", "libopus", "-metadata:s:a:0", "language=fra"}, {2}},
    {"no_duration.mkv", {Tone(44100, "mono")}, {"-c:a", "flac"}, {1}, true},
    {"mono.avi", {kVideo, Tone(8000, "mono")}, {"-map", "0", "-map", "1", "-c:v", "mpeg4", "-c:a", "pcm_s16le"}, {1}},
    {"mp3.avi", {kVideo, Tone(44100, "stereo")}, {"-map", "0", "-map", "1", "-c:v", "mpeg4", "-c:a", "libmp3lame"}, {2}},
    {"dvd.mpg", {kVideo, Tone(48000, "stereo")}, {"-map", "0", "-map", "1", "-c:v", "mpeg2video", "-c:a", "mp2"}, {2}},
    {"two_tracks.vob",
     {kVideo, Tone(48000, "5.1"), Tone(48000, "stereo")},
     {"-map", "0", "-map", "1", "-map", "2", "-c:v", "mpeg2video", "-c:a", "ac3"},
     {6, 2}},
    {"flash.flv", {kVideo, Tone(22050, "mono")}, {"-map", "0", "-map", "1", "-c:v", "flv1", "-c:a", "libmp3lame"}, {1}},
    {"aac.flv", {kVideo, Tone(44100, "stereo")}, {"-map", "0", "-map", "1", "-c:v", "flv1", "-c:a", "aac"}, {2}},
};

// What ffprobe, reading the same file on its own, says of each audio stream:
// "codec,rate,channels,bit_rate" lines, and the container's duration.
std::vector<std::vector<std::string>> ProbeStreams(const std::string &path, std::string &duration) {
  std::string out;
  RunTool({"ffprobe", "-v", "error", "-select_streams", "a", "-show_entries",
           "stream=codec_name,sample_rate,channels,bit_rate", "-of", "csv=p=0", path}, &out);
  std::vector<std::vector<std::string>> streams;
  std::istringstream lines(out);
  for (std::string line; std::getline(lines, line);) {
    std::vector<std::string> fields;
    std::istringstream parts(line);
    for (std::string f; std::getline(parts, f, ',');) fields.push_back(f);
    streams.push_back(fields);
  }
  RunTool({"ffprobe", "-v", "error", "-show_entries", "format=duration", "-of", "csv=p=0", path}, &duration);
  while (!duration.empty() && duration.back() == '\n') duration.pop_back();
  return streams;
}

class FFmpegProbe : public ::testing::TestWithParam<TProbeRow> {};

TEST_P(FFmpegProbe, ReadsEveryAudioStreamAsFFprobeDoes) {
  const TProbeRow &row = GetParam();
  const std::string path = Make(TestFolder() + "/" + row.Name, row.Inputs, row.Args, row.PipeWritten);
  std::string text, duration;
  ffmpeg_lib::TAudioInfoArr streams;
  GetFFmpegAudioInfo(path, text, streams);
  const auto expected = ProbeStreams(path, duration);
  ASSERT_EQ(streams.size(), row.Channels.size()) << text;
  ASSERT_EQ(expected.size(), row.Channels.size());
  for (size_t i = 0; i < streams.size(); ++i) {
    SCOPED_TRACE(text);
    EXPECT_EQ(streams[i].Codec, expected[i][0]);
    EXPECT_EQ(streams[i].SampleRate, std::stoi(expected[i][1]));
    EXPECT_EQ(streams[i].Channels, std::stoi(expected[i][2]));
    EXPECT_EQ(streams[i].Channels, row.Channels[i]);
    if (expected[i].size() > 3 && expected[i][3] != "N/A")
      EXPECT_EQ(streams[i].Bitrate, std::stoi(expected[i][3]) / 1000);
    else
      EXPECT_EQ(streams[i].Bitrate, 0);
    EXPECT_EQ(streams[i].BitsPerSample, 16);
    if (row.PipeWritten) {
      EXPECT_EQ(streams[i].Duration, -1.0);
    } else {
      EXPECT_NEAR(streams[i].Duration, std::stod(duration), 0.01);
    }
  }

  // The program's own view of the source: the first stream is the one converted.
  TAudioInfo info;
  GetFileAudioInfo(path, true, info);
  EXPECT_EQ(info.ErrorText, "");
  ASSERT_EQ(info.Streams.size(), streams.size());
  EXPECT_EQ(info.Index, 0);
  EXPECT_EQ(info.Streams[0].BytesPerSecond, streams[0].Channels * 2 * streams[0].SampleRate);
  EXPECT_EQ(info.Streams[0].ChannelLayout, streams[0].ChannelsText);
}

INSTANTIATE_TEST_SUITE_P(Reports, FFmpegProbe, ::testing::ValuesIn(kProbeRows),
                         [](const auto &info) {
                           std::string name = info.param.Name;
                           for (char &c : name) if (c == '.') c = '_';
                           return name;
                         });

// Lines no ffmpeg prints still give counts a decoder can use: never
// negative, never overflowing (fuzzing found negative rates and channels).
TEST(FFmpegReport, OddNumbersGiveNoNegativeCounts) {
  struct TRow {
    const char *Fields;
    int32_t Rate, Channels, Bitrate;
  } rows[] = {
      {"mp3, -4100 Hz, stereo, s16p, -128 kb/s", 0, 2, 0},
      {"pcm_s16le, 44100 Hz, -3 channels, s16", 44100, 0, 0},
      {"aac, 48000 Hz, 2147483647.2147483647, fltp", 48000, 2, 0},
      {"aac, 99999999999 Hz, 5.1(side), fltp, 99999999999 kb/s", 0, 6, 0},
  };
  for (const TRow &row : rows) {
    SCOPED_TRACE(row.Fields);
    const auto streams = ffmpeg_lib::ParseFFmpegReport(
        std::string("Input #0, matroska, from 'a.mkv':\n  Stream #0:0: Audio: ") + row.Fields + "\n", "a.mkv");
    ASSERT_EQ(streams.size(), 1u);
    EXPECT_EQ(streams[0].SampleRate, row.Rate);
    EXPECT_EQ(streams[0].Channels, row.Channels);
    EXPECT_EQ(streams[0].Bitrate, row.Bitrate);
  }
}

TAudioInfo InfoOf(const std::string &path) {
  TAudioInfo info;
  GetFileAudioInfo(path, true, info);
  EXPECT_EQ(info.ErrorText, "") << path;
  return info;
}

// Everything the decoder delivers, in blocks of an encoder's size.
std::vector<uint8_t> DecodeAll(TFFMPEGDecoder &decoder, uint32_t block = 65536) {
  std::vector<uint8_t> all, buffer(block);
  for (int64_t got; (got = decoder.GetData(buffer.data(), block)) > 0;)
    all.insert(all.end(), buffer.begin(), buffer.begin() + got);
  return all;
}

class FFmpegDecoder : public ::testing::Test {
 protected:
  void SetUp() override {
    Folder = TestFolder();
    Film = Make(Folder + "/film.mkv", {kVideo, Tone(44100, "stereo", 3), Tone(48000, "mono", 3)},
                {"-map", "0", "-map", "1", "-map", "2", "-c:v", "mpeg4", "-c:a", "flac"});
    Descriptors = OpenDescriptors();
  }
  // Nothing of a decoder outlives it: no process, no descriptor.
  void TearDown() override {
    EXPECT_EQ(OpenDescriptors(), Descriptors);
    EXPECT_TRUE(Children().empty());
    errno = 0;
    EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1);
    EXPECT_EQ(errno, ECHILD);
  }
  std::string Folder, Film;
  int Descriptors = 0;
};

TEST_F(FFmpegDecoder, DeliversEachStreamAsFFmpegDecodesIt) {
  TAudioInfo info = InfoOf(Film);
  ASSERT_EQ(info.Streams.size(), 2u);
  for (int index : {0, 1}) {
    info.Index = index;
    TFFMPEGDecoder decoder(false, Film, -1.0, 0, 0, 4096 * 3, info);
    const std::vector<uint8_t> got = DecodeAll(decoder, 4096 * 3);  // not a power of two
    std::string out;
    ASSERT_EQ(RunTool({"ffmpeg", "-v", "error", "-i", Film, "-map", "0:a:" + std::to_string(index), "-f",
                       "s16le", "pipe:1"}, &out), 0);
    EXPECT_EQ(got, std::vector<uint8_t>(out.begin(), out.end())) << "stream " << index;
    EXPECT_DOUBLE_EQ(decoder.GetPosition(), double(got.size()) / info.Streams[size_t(index)].BytesPerSecond);
    EXPECT_GE(decoder.GetReport().EndSeconds, 2.9);
  }

  // A later start is that frame of the whole decode, exactly.
  info.Index = 0;
  TFFMPEGDecoder decoder(false, Film, 0, 0, 0, 65536, info);
  ASSERT_EQ(decoder.SetPosition(1.2), 1);
  const std::vector<uint8_t> whole = ReferenceDecode(Film);
  EXPECT_EQ(DecodeAll(decoder), std::vector<uint8_t>(whole.begin() + 52920 * 4, whole.end()));
}

// Hostile names reach ffmpeg intact: quotes, blanks, a leading dash, a line
// break followed by what looks like a report line, bytes that are no UTF-8,
// a colon that would name a protocol.
TEST_F(FFmpegDecoder, NamesReachFFmpegIntact) {
  const std::vector<uint8_t> expected = ReferenceDecode(Film);
  for (const std::string name :
       {"it's \"quoted\".mkv", "  blanks  .mkv", "-leading dash.mkv", "-.mkv", "a\n  Stream #0:7: Audio: mp3, 8000 Hz, mono\n.mkv",
        "latin1 \xe9t\xe9.mkv", "http:not a url.mkv", "$(touch pwned).mkv"}) {
    const std::string path = Folder + "/" + name;
    fs::copy_file(Film, path);
    std::string text;
    ffmpeg_lib::TAudioInfoArr streams;
    GetFFmpegAudioInfo(path, text, streams);
    ASSERT_EQ(streams.size(), 2u) << name << "\n" << text;
    EXPECT_EQ(streams[0].SampleRate, 44100) << name;
    TFFMPEGDecoder decoder(false, path, -1.0, 0, 0, 65536, InfoOf(path));
    EXPECT_EQ(DecodeAll(decoder), expected) << name;
    fs::remove(path);
  }
  EXPECT_FALSE(fs::exists("pwned"));
}

// Each way ffmpeg can fail: a clear error, and nothing left behind (TearDown).
TEST_F(FFmpegDecoder, FailuresEndCleanly) {
  const TAudioInfo info = InfoOf(Film);
  auto errorOf = [&](const std::string &path, const TAudioInfo &with) {
    try {
      TFFMPEGDecoder decoder(false, path, -1.0, 0, 0, 65536, with);
      DecodeAll(decoder);
    } catch (const std::exception &e) {
      return std::string(e.what());
    }
    return std::string("no error");
  };

  // Not an audio file at all, and a film without sound.
  const std::string junk = WriteText(Folder + "/junk.mkv", std::string(100000, 'x'));
  const std::string silent = Make(Folder + "/silent.avi", {kVideo}, {"-c:v", "mpeg4"});
  for (const std::string &path : {junk, silent, Folder + "/missing.mkv"}) {
    TAudioInfo probed;
    GetFileAudioInfo(path, true, probed);
    EXPECT_EQ(probed.ErrorText, "GetFileAudioInfo_FFMEPG failed") << path;
    EXPECT_TRUE(probed.Streams.empty());
    const std::string error = errorOf(path, info);
    EXPECT_EQ(error.rfind("ffmpeg: ", 0), 0u) << path << ": " << error;
    EXPECT_GT(error.size(), 10u) << error;
  }
  EXPECT_NE(errorOf(Folder + "/missing.mkv", info).find("No such file"), std::string::npos);

  // ffmpeg nowhere to be found.
  const std::string path = std::getenv("PATH");
  fs::create_directory(Folder + "/empty");
  setenv("PATH", (Folder + "/empty").c_str(), 1);
  TAudioInfo probed;
  GetFileAudioInfo(Film, true, probed);
  const std::string missing = errorOf(Film, info);
  setenv("PATH", path.c_str(), 1);
  EXPECT_EQ(probed.ErrorText, text_ffmpeg_missing);
  EXPECT_EQ(missing, text_ffmpeg_missing);

  // Killed while it works, from the start or after a seek (when ffmpeg also
  // reports how its decode begins): the next block says so, and no line of
  // that report passes for the reason.
  for (const double start : {-1.0, 1.5}) {
    TFFMPEGDecoder decoder(false, Film, start, 0, 0, 4096, info);
    std::vector<uint8_t> block(4096);
    ASSERT_EQ(decoder.GetData(block.data(), 4096), 4096);
    const std::vector<pid_t> running = Children();
    ASSERT_EQ(running.size(), 1u);
    kill(running[0], SIGKILL);
    try {
      DecodeAll(decoder, 4096);
      ADD_FAILURE() << "a killed ffmpeg went unnoticed";
    } catch (const std::exception &e) {
      EXPECT_EQ(std::string(e.what()), "ffmpeg: stopped by signal 9") << start;
    }
  }
}

// Stopping early, the way a cancelled job drops its decoder mid-stream, and
// restarting at a new position, end the running process.
TEST_F(FFmpegDecoder, StoppingEarlyEndsTheProcess) {
  const std::string longFilm = Make(Folder + "/long.mkv", {Tone(44100, "stereo", 600)}, {"-c:a", "pcm_s16le"});
  const TAudioInfo info = InfoOf(longFilm);
  std::vector<uint8_t> block(65536);
  {
    TFFMPEGDecoder decoder(false, longFilm, 100.0, 0, 0, 65536, info);
    ASSERT_EQ(decoder.GetData(block.data(), 65536), 65536);
    const std::vector<pid_t> first = Children();
    ASSERT_EQ(first.size(), 1u);
    decoder.SetPosition(300.0);
    ASSERT_EQ(decoder.GetData(block.data(), 65536), 65536);
    const std::vector<pid_t> second = Children();
    ASSERT_EQ(second.size(), 1u);
    EXPECT_NE(second[0], first[0]);
    EXPECT_NEAR(decoder.GetPosition(), 300.0 + 65536.0 / (44100 * 4), 1e-9);
  }
  EXPECT_TRUE(Children().empty());

  // A job cancelled a tenth of the way in keeps what it converted (kept on purpose here).
  const TWAVOptions wav;
  EXPECT_TRUE(ConvertStopped(longFilm, Folder + "/out.wav", dfWAV, &wav, 10).empty());
  const auto size = fs::file_size(Folder + "/out.wav");
  EXPECT_GT(size, 60u * 44100 * 4);
  EXPECT_LT(size, 300u * 44100 * 4);
}

}  // namespace
