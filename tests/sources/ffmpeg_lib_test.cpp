// SPDX-License-Identifier: GPL-3.0-or-later
// Audio properties of a source, of a whole list on parallel workers, and of films through the ffmpeg program: its
// report read as ffprobe reads it, its decoding compared with its own, and every way a misbehaving ffmpeg (a fake one
// the test writes) can fail ending cleanly: a clear error, no process left behind, no descriptor leaked.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <filesystem>
#include <sstream>

#include "base/texts.h"
#include "sources/audio_info.h"
#include "sources/ffmpeg_lib.h"
#include "sources/getaudioinfo_thread.h"
#include "test_support.h"

namespace {

int OpenDescriptors() { return int(std::distance(fs::directory_iterator("/proc/self/fd"), fs::directory_iterator())); }

// The processes this one started that still exist, reaped or not.
std::vector<pid_t> Children() {
  std::vector<pid_t> children;
  for (const auto &entry : fs::directory_iterator("/proc")) {
    const std::string pid = entry.path().filename(), stat = pid[0] <= '9' ? ReadText("/proc/" + pid + "/stat") : "";
    const size_t close = stat.rfind(')');
    if (close != std::string::npos && std::atoi(stat.c_str() + close + 4) == getpid())
      children.push_back(std::stoi(pid));
  }
  return children;
}

TAudioInfo InfoOf(const std::string &path) {
  TAudioInfo info;
  GetFileAudioInfo(path, true, info);
  return info;
}

// A file made by ffmpeg from lavfi graphs `inputs`, `args` mapping and encoding; through a pipe it states no duration.
std::string Make(const std::string &path, const std::vector<std::string> &inputs,
                 const std::vector<std::string> &args, bool throughPipe = false) {
  std::vector<std::string> cmd = {"ffmpeg", "-v", "error", "-y", "-nostdin"};
  for (const std::string &input : inputs) cmd.insert(cmd.end(), {"-f", "lavfi", "-i", input});
  cmd.insert(cmd.end(), args.begin(), args.end());
  if (throughPipe) cmd.insert(cmd.end(), {"-f", "matroska", "pipe:1"});
  else cmd.push_back(path);
  std::string out, err;
  EXPECT_EQ(RunTool(cmd, &out, &err), 0) << path << ": " << err;
  if (throughPipe) WriteText(path, out);
  return path;
}

const std::string kVideo = "testsrc=size=64x48:rate=25:d=3";
std::string Tone(int rate, const std::string &layout, double seconds = 3) {
  return "sine=f=440:r=" + std::to_string(rate) + ":d=" + std::to_string(seconds) + ",aformat=channel_layouts=" + layout;
}

struct TProbeRow { const char *Name; std::vector<std::string> Inputs, Args; bool PipeWritten = false; };

const TProbeRow kProbeRows[] = {
    {"film.mkv", {kVideo, Tone(44100, "stereo")}, {"-map", "0", "-map", "1", "-c:v", "mpeg4", "-c:a", "flac"}},
    {"two_languages.mkv", {kVideo, Tone(48000, "5.1(side)"), Tone(22050, "mono")},
     {"-map", "0", "-map", "1", "-map", "2", "-c:v", "mpeg4", "-c:a:0", "ac3", "-c:a:1", "libvorbis",
      "-metadata:s:a:0", "language=eng", "-metadata:s:a:1", "language=deu",
      // A title that reads like a stream line must not count as one.
      "-metadata:s:a:0", "title=Stream #0:9: Audio: mp3, 8000 Hz, mono, s16p, 32 kb/s"}},
    {"layouts.mkv", {Tone(48000, "quad"), Tone(48000, "7.1"), Tone(32000, "2.1"), Tone(44100, "5.0")},
     {"-map", "0", "-map", "1", "-map", "2", "-map", "3", "-c:a", "flac"}},
    {"no_duration.mkv", {Tone(44100, "mono")}, {"-c:a", "flac"}, true},
    {"mp3.avi", {kVideo, Tone(8000, "mono")}, {"-map", "0", "-map", "1", "-c:v", "mpeg4", "-c:a", "libmp3lame"}},
    {"two_tracks.vob", {kVideo, Tone(48000, "5.1"), Tone(48000, "stereo")},
     {"-map", "0", "-map", "1", "-map", "2", "-c:v", "mpeg2video", "-c:a", "ac3"}},
    {"dvd.mpg", {kVideo, Tone(48000, "stereo")}, {"-map", "0", "-map", "1", "-c:v", "mpeg2video", "-c:a", "mp2"}},
    {"aac.flv", {kVideo, Tone(44100, "mono")}, {"-map", "0", "-map", "1", "-c:v", "flv1", "-c:a", "aac"}},
};

class FFmpegProbe : public ::testing::TestWithParam<TProbeRow> {};

TEST_P(FFmpegProbe, ReadsEveryAudioStreamAsFFprobeDoes) {
  const TProbeRow &row = GetParam();
  const std::string path = Make(TestFolder() + "/" + row.Name, row.Inputs, row.Args, row.PipeWritten);
  std::string text, out, duration;
  ffmpeg_lib::TAudioInfoArr streams;
  GetFFmpegAudioInfo(path, text, streams);
  // Its fields come in its own order: codec_name, sample_rate, channels, channel_layout, bit_rate.
  RunTool({"ffprobe", "-v", "error", "-select_streams", "a", "-show_entries",
           "stream=codec_name,sample_rate,channels,channel_layout,bit_rate", "-of", "csv=p=0", path}, &out);
  RunTool({"ffprobe", "-v", "error", "-show_entries", "format=duration", "-of", "csv=p=0", path}, &duration);
  SCOPED_TRACE(text);
  ASSERT_EQ(streams.size(), size_t(std::count(out.begin(), out.end(), '\n')));
  std::istringstream lines(out);
  for (const ffmpeg_lib::TAudioInfoRec &stream : streams) {
    std::string line;
    std::getline(lines, line);
    const std::string bitrate = line.substr(line.rfind(',') + 1);
    EXPECT_EQ(stream.Codec + "," + std::to_string(stream.SampleRate) + "," + std::to_string(stream.Channels) + "," +
                  stream.ChannelsText, line.substr(0, line.rfind(',')));
    EXPECT_EQ(stream.Bitrate, bitrate == "N/A" ? 0 : std::stoi(bitrate) / 1000);
    EXPECT_EQ(stream.BitsPerSample, 16);
    EXPECT_NEAR(stream.Duration, row.PipeWritten ? -1.0 : std::stod(duration), 0.01);
  }
  // The program's own view of the source: the first stream is the one converted.
  const TAudioInfo info = InfoOf(path);
  EXPECT_EQ(info.ErrorText, "");
  ASSERT_EQ(info.Streams.size(), streams.size());
  EXPECT_EQ(info.Index, 0);
  EXPECT_EQ(info.Streams[0].BytesPerSecond, streams[0].Channels * 2 * streams[0].SampleRate);
  EXPECT_EQ(info.Streams[0].ChannelLayout, streams[0].ChannelsText);
}

INSTANTIATE_TEST_SUITE_P(Reports, FFmpegProbe, ::testing::ValuesIn(kProbeRows),
                         [](const auto &info) { return fs::path(info.param.Name).stem().string(); });

// Lines no ffmpeg prints still give counts a decoder can use: never negative, never overflowing (found by fuzzing).
TEST(FFmpegReport, OddNumbersGiveNoNegativeCounts) {
  const struct { const char *Fields; int32_t Rate, Channels, Bitrate; } rows[] = {
      {"mp3, -4100 Hz, stereo, s16p, -128 kb/s", 0, 2, 0},    {"pcm_s16le, 44100 Hz, -3 channels, s16", 44100, 0, 0},
      {"aac, 48000 Hz, 2147483647.2147483647, fltp", 48000, 2, 0},
      {"aac, 99999999999 Hz, 5.1(side), fltp, 99999999999 kb/s", 0, 6, 0},
  };
  for (const auto &row : rows) {
    const auto streams = ffmpeg_lib::ParseFFmpegReport(
        std::string("Input #0, matroska, from 'a.mkv':\n  Stream #0:0: Audio: ") + row.Fields + "\n", "a.mkv");
    ASSERT_EQ(streams.size(), 1u) << row.Fields;
    EXPECT_EQ(std::vector<int>({streams[0].SampleRate, streams[0].Channels, streams[0].Bitrate}),
              std::vector<int>({row.Rate, row.Channels, row.Bitrate})) << row.Fields;
  }
}

// Everything a decoder delivers, in blocks of `block` bytes; what it raised in `error`.
std::vector<uint8_t> DecodeAll(const std::string &path, const TAudioInfo &info, double start = -1,
                               uint32_t block = 65536, std::string *error = nullptr) {
  std::vector<uint8_t> all, buffer(block);
  try {
    TFFMPEGDecoder decoder(false, path, start, 0, 0, int32_t(block), info);
    for (int64_t got; (got = decoder.GetData(buffer.data(), block)) > 0;) all.insert(all.end(), buffer.begin(), buffer.begin() + got);
    if (error) *error = "";
  } catch (const std::exception &e) {
    if (error) *error = e.what();
  }
  return all;
}

class FFmpegDecoder : public ::testing::Test {
 protected:
  void SetUp() override {
    Folder = TestFolder();
    Film = Make(Folder + "/film.mkv", {kVideo, Tone(44100, "stereo"), Tone(48000, "mono")},
                {"-map", "0", "-map", "1", "-map", "2", "-c:v", "mpeg4", "-c:a", "flac"});
    Descriptors = OpenDescriptors();
  }
  // Nothing of a decoder outlives it: no process, no descriptor.
  void TearDown() override {
    SetFFmpegPath("ffmpeg");
    EXPECT_EQ(OpenDescriptors(), Descriptors);
    EXPECT_TRUE(Children().empty());
    errno = 0;
    EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1);
    EXPECT_EQ(errno, ECHILD);
  }
  std::string Folder, Film;
  int Descriptors = 0;
};

// Each stream as ffmpeg decodes it, from the start or from a later frame, whatever the file's name: quotes, blanks, a
// leading dash, a line break before a seeming report line, bytes that are no UTF-8, a protocol's colon, a command.
TEST_F(FFmpegDecoder, DeliversEachStreamAsFFmpegDecodesIt) {
  std::string want[2];
  for (int index : {0, 1})
    ASSERT_EQ(RunTool({"ffmpeg", "-v", "error", "-i", Film, "-map", "0:a:" + std::to_string(index), "-f", "s16le",
                       "pipe:1"}, &want[index]), 0);
  for (const std::string name : {"film.mkv", "it's \"quoted\".mkv", "-leading dash.mkv", "-.mkv",
                                 "a\n  Stream #0:7: Audio: mp3, 8000 Hz, mono\n.mkv", "latin1 \xe9t\xe9.mkv",
                                 "http:not a url.mkv", "$(touch pwned).mkv"}) {
    SCOPED_TRACE(name);
    const std::string path = Folder + "/" + name;
    if (path != Film) fs::copy_file(Film, path);
    TAudioInfo info = InfoOf(path);
    ASSERT_EQ(info.Streams.size(), 2u);
    EXPECT_EQ(info.Streams[0].SampleRate, 44100);
    for (int index : {0, 1}) {
      info.Index = index;
      const std::vector<uint8_t> got = DecodeAll(path, info, -1, 4096 * 3);  // not a power of two
      EXPECT_TRUE(got == std::vector<uint8_t>(want[index].begin(), want[index].end())) << "stream " << index;
    }
    info.Index = 0;  // a later start is that frame of the whole decode, exactly
    EXPECT_TRUE(path != Film ||
                DecodeAll(path, info, 1.2) == std::vector<uint8_t>(want[0].begin() + 52920 * 4, want[0].end()));
  }
  EXPECT_FALSE(fs::exists("pwned"));
}

// A fake ffmpeg for each way the program can misbehave: the probe finds what it can, the decoder delivers, then raises.
TEST_F(FFmpegDecoder, MisbehavingProgramsEndCleanly) {
  const std::string report = "echo \"Input #0, matroska,webm, from '$4':\" >&2; echo '  Stream #0:1: Audio: flac, 44100 Hz, stereo, s16' >&2;";
  // What the probe finds, what the decoder delivers, how what the decoder raises begins ("" nothing).
  const struct { const char *Name, *Script; size_t Streams, Bytes; std::string Error; } rows[] = {
      {"a clean end", "head -c 10000 /dev/zero", 0, 10000, ""},
      {"an end in mid-frame", "head -c 10002 /dev/zero", 0, 10000, ""},
      {"a failure it explains", "head -c 4096 /dev/zero; echo 'first' >&2; echo 'Invalid data found' >&2; exit 1", 0, 4096,
       "ffmpeg: Invalid data found"},
      {"a silent failure", "exit 3", 0, 0, "ffmpeg: exit status 3"},
      {"killed", "head -c 8192 /dev/zero; kill -9 $$", 0, 8192, "ffmpeg: stopped by signal 9"},
      {"lingering after its output", "head -c 4096 /dev/zero; exec >&- 2>&-; sleep 60 & exec sleep 60", 0, 4096,
       "ffmpeg: still running 5 seconds after the end of its output"},
      {"a report the pipe cannot hold at once", "head -c 300000 /dev/zero | tr '\\0' x >&2; echo >&2; REPORT exit 1", 1, 0,
       "ffmpeg: "},
      {"a report past any limit", "REPORT head -c 3000000 /dev/zero | tr '\\0' x >&2; exit 1", 1, 0, "ffmpeg: "},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.Name);
    const std::string fake = Folder + "/fake-ffmpeg";
    std::string script = row.Script;
    if (const size_t at = script.find("REPORT"); at != std::string::npos) script.replace(at, 6, report);
    WriteText(fake, "#!/bin/sh\n" + script + "\n");
    fs::permissions(fake, fs::perms::owner_all);
    SetFFmpegPath(fake);
    std::string text, error;
    ffmpeg_lib::TAudioInfoArr streams;
    EXPECT_TRUE(GetFFmpegAudioInfo(Film, text, streams));
    EXPECT_EQ(streams.size(), row.Streams);
    EXPECT_EQ(DecodeAll(Film, PcmInfo(44100, 2, 16), -1, 4096, &error).size(), row.Bytes);
    EXPECT_EQ(error.substr(0, row.Error.size()), row.Error);
    EXPECT_EQ(error.empty(), row.Error.empty()) << error;
    EXPECT_TRUE(Children().empty());
  }
}

TEST_F(FFmpegDecoder, WhatIsNoFilmWithSoundFailsClearly) {
  const std::string junk = WriteText(Folder + "/junk.mkv", std::string(100000, 'x'));
  const std::string silent = Make(Folder + "/silent.avi", {kVideo}, {"-c:v", "mpeg4"});
  for (const std::string &path : {junk, silent, Folder + "/missing.mkv"}) {
    const TAudioInfo probed = InfoOf(path);
    EXPECT_EQ(probed.ErrorText, "GetFileAudioInfo_FFMEPG failed") << path;
    EXPECT_TRUE(probed.Streams.empty());
    std::string error;
    DecodeAll(path, InfoOf(Film), -1, 65536, &error);
    EXPECT_EQ(error.rfind("ffmpeg: ", 0), 0u) << path << ": " << error;
    EXPECT_GT(error.size(), 10u) << error;
  }
}

// Dropping a decoder mid-stream, as a cancelled job does, and restarting it at a new position, end the running process.
// Killed after a seek, of which it reports how its decode begins, no line of that report passes for the reason.
TEST_F(FFmpegDecoder, StoppingEarlyEndsTheProcess) {
  const std::string longFilm = Make(Folder + "/long.mkv", {Tone(44100, "stereo", 100)}, {"-c:a", "pcm_s16le"});
  std::vector<uint8_t> block(65536);
  for (const bool killed : {false, true}) {
    TFFMPEGDecoder decoder(false, longFilm, 20.0, 0, 0, 65536, InfoOf(longFilm));
    ASSERT_EQ(decoder.GetData(block.data(), 65536), 65536);
    const std::vector<pid_t> first = Children();
    ASSERT_EQ(first.size(), 1u);
    decoder.SetPosition(70.0);
    ASSERT_EQ(decoder.GetData(block.data(), 65536), 65536);
    const std::vector<pid_t> second = Children();
    ASSERT_EQ(second.size(), 1u);
    EXPECT_NE(second[0], first[0]);
    EXPECT_NEAR(decoder.GetPosition(), 70.0 + 65536.0 / (44100 * 4), 1e-9);
    if (!killed) continue;
    kill(second[0], SIGKILL);
    try {
      while (decoder.GetData(block.data(), 65536) > 0) continue;
      ADD_FAILURE() << "no error after the kill";
    } catch (const std::exception &e) {
      EXPECT_STREQ(e.what(), "ffmpeg: stopped by signal 9");
    }
  }
  EXPECT_TRUE(Children().empty());
}

// What the files info view shows: the source's own rate and channels, its depth (16 for lossy ones, 24 for DSD), its
// length and its bitrate (of the whole file, rounded up); a source that cannot be read gets an error text. The list is
// gathered split over workers in order, durations summed; a failing source counts for nothing and is listed.
TEST(AudioInfo, PropertiesOfEveryKindOfSource) {
  EXPECT_EQ(AudioInfoWorkerRanges(1, 2), (std::vector<std::pair<int, int>>{{0, 0}}));
  EXPECT_EQ(AudioInfoWorkerRanges(8, 2), (std::vector<std::pair<int, int>>{{0, 7}}));
  EXPECT_EQ(AudioInfoWorkerRanges(100, 2), (std::vector<std::pair<int, int>>{
                                               {0, 0}, {1, 12}, {13, 24}, {25, 36}, {37, 48}, {49, 60}, {61, 72}, {73, 99}}));
  StartBass();
  const std::string folder = TestFolder();
  const struct { const char *Name; std::vector<std::string> Codec; int Rate, Channels, Bits; } rows[] = {
      {"a.flac", {"-c:a", "flac"}, 48000, 6, 24},   {"a.mp3", {"-c:a", "libmp3lame"}, 44100, 2, 16},
      {"a.opus", {"-c:a", "libopus"}, 48000, 2, 16}, {"a.oga", {"-c:a", "flac"}, 48000, 2, 24},
      {"a.aif", {}, 48000, 2, 16},                   {"a.aifc", {"-c:a", "pcm_f32be"}, 48000, 2, 32},
      {"a.m4b", {"-c:a", "aac"}, 48000, 2, 16},      {"a.mka", {"-c:a", "flac"}, 48000, 8, 24},
      {"a.webm", {"-c:a", "libopus"}, 48000, 1, 16}, {"a.dsf", {}, 352800, 2, 24}};
  TSourceList list;
  for (const auto &r : rows) {
    SCOPED_TRACE(r.Name);
    const std::string path = folder + "/" + r.Name;
    const TTestSignal signal{.Rate = r.Rate == 352800 ? 44100 : r.Rate, .Channels = r.Channels, .Bits = 24, .Seconds = 1.5};
    const TAudioInfo info =
        InfoOf(r.Rate == 352800 ? WriteDsf(path, signal.Seconds) : WriteSignal(path, signal, r.Codec));
    list.push_back({path, {}});
    ASSERT_EQ(info.ErrorText, "");
    const TAudioInfoRec &s = info.Streams.at(0);
    EXPECT_EQ(std::vector<int>({s.SampleRate, s.Channels, s.BitsPerSample}), std::vector<int>({r.Rate, r.Channels, r.Bits}));
    EXPECT_NEAR(s.Duration, signal.Seconds, 0.001);
    if (r.Bits != 24 || r.Rate == 352800) continue;
    EXPECT_EQ(std::vector<int>({s.BytesPerSample, s.GatheredBytesPerSample, s.BlockAlign, s.BytesPerSecond}),
              std::vector<int>({3, 3, 3 * r.Channels, r.Rate * r.Channels * 3}));
    EXPECT_EQ(s.Bitrate, int(std::nearbyint(double(std::filesystem::file_size(path)) / (1.5 * 125) + 0.5)));
  }
  std::string errors;
  const double total = GatherAudioInfo(list, nullptr, nullptr, errors);
  EXPECT_EQ(errors, "");
  EXPECT_NEAR(total, 1.5 * double(list.size()), 0.01);
  for (size_t i = 0; i < list.size(); ++i) {
    EXPECT_EQ(list[i].Rec.Progress.Percent, 1) << rows[i].Name;
    EXPECT_EQ(list[i].Rec.AudioInfo.Streams.at(0).SampleRate, rows[i].Rate) << rows[i].Name;
  }
  list.push_back({folder + "/missing.wav", {}});
  EXPECT_LT(GatherAudioInfo(list, nullptr, nullptr, errors), total);
  EXPECT_EQ(errors, folder + "/missing.wav : " + FormatText(text_getting_audio_info_failed, BASS_ERROR_FILEOPEN) + "\r\n");
  ASSERT_EQ(list.back().Rec.AudioInfo.Streams.size(), 1u);
  EXPECT_EQ(list.back().Rec.AudioInfo.Streams[0].SampleRate, 0);
}

}  // namespace
