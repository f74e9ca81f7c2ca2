// SPDX-License-Identifier: GPL-3.0-or-later
// Files as other programs write them, damaged ones, films, hostile names and
// sheets, converted by the program itself without a window: each converts to
// the length FFmpeg's own decoder gets from it; a source that was damaged or
// stopped early is listed afterwards as a warning, without failing the run;
// whatever the input, every run ends by itself, naming what it could not
// convert; sources of rates and channel counts an encoder does not take are
// converted to what it takes, or refused by a lossless format.
#include <gtest/gtest.h>

#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <functional>
#include <random>
#include <regex>
#include <sstream>

#include <fmt/printf.h>

#include "test_support.h"

namespace fs = std::filesystem;

namespace {

using TBytes = std::vector<uint8_t>;

void RunOk(const std::vector<std::string> &argv) {
  std::string err;
  ASSERT_EQ(RunTool(argv, nullptr, &err), 0) << argv[0] << ": " << err;
}

std::string Music(const std::string &folder, double seconds = 3) {
  return WriteMusic(folder + "/music.wav", {.Seconds = seconds});
}

// The music encoded into folder/name by a program: `argv`, with "IN" for the music and "OUT" for the file.
std::string Encode(const std::string &folder, const std::string &name, std::vector<std::string> argv) {
  const std::string in = Music(folder), out = folder + "/" + name;
  for (std::string &a : argv) a = a == "IN" ? in : a == "OUT" ? out : a;
  RunOk(argv);
  return out;
}

std::string FFmpegEncode(const std::string &folder, const std::string &name, std::vector<std::string> args) {
  args.insert(args.begin(), {"ffmpeg", "-v", "error", "-y", "-i", "IN"});
  args.push_back("OUT");
  return Encode(folder, name, args);
}

std::string Lame(const std::string &f) { return Encode(f, "lame.mp3", {"lame", "--quiet", "-V", "4", "IN", "OUT"}); }
std::string Oggenc(const std::string &f) { return Encode(f, "oggenc.ogg", {"oggenc", "-Q", "IN", "-o", "OUT"}); }
std::string Flac(const std::string &f) { return Encode(f, "flac.flac", {"flac", "-s", "-f", "IN", "-o", "OUT"}); }
std::string WavPack(const std::string &f) { return Encode(f, "wavpack.wv", {"wavpack", "-q", "-y", "IN", "-o", "OUT"}); }

// A copy of `path` named `name` with its bytes changed by `edit`.
std::string Edited(const std::string &path, const std::string &name, const std::function<void(TBytes &)> &edit) {
  TBytes bytes = ReadFileBytes(path);
  edit(bytes);
  const std::string out = fs::path(path).parent_path() / name;
  WriteFileBytes(out, bytes);
  return out;
}

std::string Truncated(const std::string &path) {
  const std::string ext = fs::path(path).extension();
  return Edited(path, "truncated" + ext, [](TBytes &b) { b.resize(b.size() * 6 / 10); });
}

// 512 scrambled bytes at each tenth from 30 % to 70 % of the file: enough to
// hit frame headers, since MP3 carries no checksum over its audio data.
std::string BitFlipped(const std::string &path) {
  const std::string ext = fs::path(path).extension();
  return Edited(path, "flipped" + ext, [](TBytes &b) {
    for (int k = 3; k <= 7; ++k)
      for (size_t i = b.size() * size_t(k) / 10, j = 0; j < 512; ++j) b[i + j] ^= 0x5a;
  });
}

uint32_t OggCrc(const uint8_t *p, size_t n) {
  uint32_t crc = 0;
  for (size_t i = 0; i < n; ++i) {
    crc ^= uint32_t(p[i]) << 24;
    for (int bit = 0; bit < 8; ++bit) crc = crc & 0x80000000u ? (crc << 1) ^ 0x04c11db7u : crc << 1;
  }
  return crc;
}

// Adds `delta` to the granule position of the file's last Ogg page.
void ShiftLastGranule(TBytes &b, int64_t delta) {
  size_t at = b.size() - 27;
  while (at > 0 && !(b[at] == 'O' && b[at + 1] == 'g' && b[at + 2] == 'g' && b[at + 3] == 'S')) --at;
  int64_t granule = 0;
  for (int i = 7; i >= 0; --i) granule = granule << 8 | b[at + 6 + size_t(i)];
  granule += delta;
  for (int i = 0; i < 8; ++i) b[at + 6 + size_t(i)] = uint8_t(uint64_t(granule) >> (8 * i));
  for (int i = 0; i < 4; ++i) b[at + 22 + size_t(i)] = 0;
  const uint32_t crc = OggCrc(&b[at], b.size() - at);
  for (int i = 0; i < 4; ++i) b[at + 22 + size_t(i)] = uint8_t(crc >> (8 * i));
}

// The last granule states 100 samples more than the stream's packets hold.
std::string GranulePastTheEnd(const std::string &folder) {
  const std::string ogg = Oggenc(folder);
  const std::string unbounded = Edited(ogg, "unbounded.ogg", [](TBytes &b) { ShiftLastGranule(b, 1000000); });
  const int64_t trimmed = int64_t(FFmpegDecode(unbounded, "s16le").size() - FFmpegDecode(ogg, "s16le").size()) / 4;
  return Edited(ogg, "granule.ogg", [&](TBytes &b) { ShiftLastGranule(b, trimmed + 100); });
}

uint32_t BigEndian32(const uint8_t *p) { return uint32_t(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3]; }

// Changes the first edit of an MP4 file: its length (movie time units) and
// the media time where it starts (the encoder delay, in samples).
std::string EditList(const std::string &m4a, const std::string &name, int durationDelta, int delay) {
  return Edited(m4a, name, [&](TBytes &b) {
    const std::string bytes(b.begin(), b.end());
    const size_t at = bytes.find("elst");
    ASSERT_NE(at, std::string::npos);
    const uint32_t values[2] = {BigEndian32(&b[at + 12]) + uint32_t(durationDelta), uint32_t(delay)};
    for (int v = 0; v < 2; ++v)
      for (int i = 0; i < 4; ++i) b[at + 12 + size_t(4 * v + i)] = uint8_t(values[v] >> (24 - 8 * i));
  });
}

enum TOutcome { Clean, Warned, Failed };

struct TSourceCase {
  std::string Name;
  std::function<std::string(const std::string &folder)> Make;
  TOutcome Outcome;
  // Compared at 24 bits within this many steps (the converter rounds to 24 bits
  // what the decoder gives as floats); 0: at 16 bits, sample for sample.
  int Steps24 = 0;
};

std::ostream &operator<<(std::ostream &os, const TSourceCase &c) { return os << c.Name; }

// The types read beside the thirteen, one file each as FFmpeg writes it (DSF
// as no program here does); the last holds a film beside its sound.
std::vector<TSourceCase> FurtherTypeCases() {
  auto ff = [](const std::string &name, std::vector<std::string> args) {
    return [=](const std::string &f) { return FFmpegEncode(f, name, args); };
  };
  return {
      {"opus", ff("ffmpeg.opus", {"-c:a", "libopus"}), Clean},
      {"oga_flac", ff("ffmpeg.oga", {"-c:a", "flac"}), Clean},
      {"aif_16", ff("ffmpeg.aif", {}), Clean},
      {"aiff_24", ff("ffmpeg.aiff", {"-c:a", "pcm_s24be"}), Clean},
      {"aifc_float", ff("ffmpeg.aifc", {"-c:a", "pcm_f32be"}), Clean},
      {"m4b_aac", ff("book.m4b", {"-c:a", "aac"}), Clean},
      {"mka_flac", ff("ffmpeg.mka", {"-c:a", "flac"}), Clean},
      {"dsf_dsd64", [](const std::string &f) { return WriteDsf(f + "/tone.dsf", 1); }, Clean, 1},
      {"webm_film_opus",
       ff("film.webm", {"-f", "lavfi", "-i", "color=s=32x32:r=5:d=3", "-c:v", "libvpx", "-c:a", "libopus"}), Clean},
  };
}

std::vector<TSourceCase> SourceCases() {
  auto aac = [](const std::string &f) { return FFmpegEncode(f, "ffmpeg.m4a", {"-c:a", "aac"}); };
  auto adts = [](const std::string &f) { return FFmpegEncode(f, "ffmpeg.aac", {"-c:a", "aac"}); };
  std::vector<TSourceCase> cases = {
      // Files of other encoders and muxers, whole and sound.
      {"ogg_last_granule_past_the_stream", GranulePastTheEnd, Clean},
      {"m4a_edit_list_with_itunes_priming", [=](auto &f) { return EditList(aac(f), "itunes.m4a", 0, 2112); }, Clean},
      {"m4a_edit_list_longer_than_the_media", [=](auto &f) { return EditList(aac(f), "long.m4a", 100, 1024); }, Clean},
      {"m4a_cut_by_stream_copy",
       [=](auto &f) {
         RunOk({"ffmpeg", "-v", "error", "-y", "-ss", "0.37", "-i", aac(f), "-c", "copy", f + "/copy.m4a"});
         return f + "/copy.m4a";
       },
       Clean},
      {"m4a_aac_mono_48k", [](auto &f) { return FFmpegEncode(f, "mono.m4a", {"-c:a", "aac", "-ac", "1", "-ar", "48000"}); }, Clean},
      {"mp3_lame_tag_counts_a_frame_more",
       [](auto &f) { return Edited(Lame(f), "tail.mp3", [](TBytes &b) { b.resize(b.size() - 300); }); }, Clean},
      {"mp4_ac3", [](auto &f) { return FFmpegEncode(f, "ac3.mp4", {"-c:a", "ac3"}); }, Clean},
      {"mp4_eac3", [](auto &f) { return FFmpegEncode(f, "eac3.mp4", {"-c:a", "eac3"}); }, Clean},
      {"mp4_flac", [](auto &f) { return FFmpegEncode(f, "flac.mp4", {"-c:a", "flac", "-strict", "-2"}); }, Clean},
      {"mp4_opus", [](auto &f) { return FFmpegEncode(f, "opus.mp4", {"-c:a", "libopus", "-ar", "48000"}); }, Clean},
      {"mp4_mp3", [](auto &f) { return FFmpegEncode(f, "mp3.mp4", {"-c:a", "libmp3lame"}); }, Clean},
      // Damaged: what decodes is converted, and the source is named afterwards.
      {"mp3_truncated", [](auto &f) { return Truncated(Lame(f)); }, Warned},
      {"mp3_bit_flipped", [](auto &f) { return BitFlipped(Lame(f)); }, Warned},
      {"ogg_truncated", [](auto &f) { return Truncated(Oggenc(f)); }, Warned},
      {"ogg_bit_flipped", [](auto &f) { return BitFlipped(Oggenc(f)); }, Warned},
      {"aac_truncated", [=](auto &f) { return Truncated(adts(f)); }, Warned},
      {"aac_bit_flipped", [=](auto &f) { return BitFlipped(adts(f)); }, Warned},
      {"m4a_bit_flipped", [=](auto &f) { return BitFlipped(aac(f)); }, Warned},
      {"flac_truncated", [](auto &f) { return Truncated(Flac(f)); }, Warned},
      {"flac_bit_flipped", [](auto &f) { return BitFlipped(Flac(f)); }, Warned},
      {"wavpack_truncated", [](auto &f) { return Truncated(WavPack(f)); }, Warned},
      {"wavpack_bit_flipped", [](auto &f) { return BitFlipped(WavPack(f)); }, Warned},
      {"wav_truncated", [](auto &f) { return Truncated(Music(f)); }, Warned},
      // Its index is at the end: nothing can be opened, and the job fails.
      {"m4a_truncated", [=](auto &f) { return Truncated(aac(f)); }, Failed},
  };
  for (const TSourceCase &c : FurtherTypeCases()) cases.push_back(c);
  return cases;
}

class RealSources : public ::testing::TestWithParam<TSourceCase> {};

TEST_P(RealSources, ConvertToWhatFFmpegDecodesAndNameTheDamagedOnes) {
  const TSourceCase &c = GetParam();
  const std::string folder = TestProfileFolder();
  const std::string source = c.Make(folder);
  ASSERT_FALSE(HasFatalFailure());
  const std::string output = folder + "/out/" + fs::path(source).stem().string() + ".wav";

  std::string err;
  const int status = Tonmill({"/q", "/input", source, "/output", folder + "/out", "/dest", "wav"}, &err);
  if (c.Outcome == Failed) {
    EXPECT_EQ(status, 1) << err;
    EXPECT_NE(err.find(source), std::string::npos) << err;
    EXPECT_FALSE(fs::exists(output));
    return;
  }
  ASSERT_EQ(status, 0) << err;

  // The output, by FFmpeg, against FFmpeg's decoding of the source: the same
  // length within 1 %, the same samples as far as both go.
  const int sampleBytes = c.Steps24 ? 4 : 2;
  auto samples = [&](const std::string &file) {
    const std::vector<uint8_t> bytes = FFmpegDecode(file, c.Steps24 ? "s32le" : "s16le");
    std::vector<int64_t> values(bytes.size() / size_t(sampleBytes));
    for (size_t i = 0; i < values.size(); ++i)
      for (int b = sampleBytes - 1; b >= 0; --b) values[i] = values[i] << 8 | bytes[i * size_t(sampleBytes) + size_t(b)];
    for (int64_t &v : values) v = sampleBytes == 2 ? int16_t(v) : int32_t(v);
    return values;
  };
  const std::vector<int64_t> referenceSamples = samples(source), convertedSamples = samples(output);
  const double reference = double(referenceSamples.size()), converted = double(convertedSamples.size());
  EXPECT_GT(reference, 0);
  EXPECT_NEAR(converted, reference, reference * 0.01) << err;
  const size_t common = std::min(referenceSamples.size(), convertedSamples.size());
  size_t differing = 0;
  for (size_t i = 0; i < common; ++i)
    differing += std::abs(referenceSamples[i] - convertedSamples[i]) > int64_t(c.Steps24) * 256;
  EXPECT_EQ(differing, 0u) << "of " << common << " samples";

  std::smatch warning;
  const std::regex line("tonmill: warning: " + std::regex_replace(source, std::regex(R"([.^$|()\[\]{}*+?\\])"), R"(\$&)") +
                        R"(: ([0-9.]+) s (of [0-9.]+ s )?decoded[^\n]*\n)");
  const bool warned = std::regex_search(err, warning, line);
  EXPECT_EQ(warned, c.Outcome == Warned) << err;
  EXPECT_EQ(err.find("warning") != std::string::npos, c.Outcome == Warned) << err;
  if (warned) {
    // How much was decoded: the output's own length, to the hundredth of a second.
    const std::string probe = ProbeStream(output, "sample_rate,channels");
    const int rate = std::atoi(probe.c_str()), channels = std::atoi(probe.substr(probe.find(',') + 1).c_str());
    ASSERT_GT(rate * channels, 0) << probe;
    EXPECT_NEAR(std::atof(warning[1].str().c_str()), converted / channels / rate, 0.006) << warning[0];
  }
}

INSTANTIATE_TEST_SUITE_P(OtherEncodersAndDamage, RealSources, ::testing::ValuesIn(SourceCases()),
                         [](const auto &info) { return info.param.Name; });

// Sources at rates and channel counts the encoders were not made for, one run
// per format over sources of every rate (their channel counts and depths
// rotate from format to format, so every rate and every channel count reaches
// every format). A lossy output comes at the rate and channels its encoder
// takes, with one note saying so; a lossless one holds the source exactly or
// its job fails with the limit named. The run ends by itself, leaving nothing hidden.
TEST(FurtherTypes, AwkwardSourcesGetWhatTheirEncoderTakes) {
  const std::string folder = TestProfileFolder();
  const int rates[] = {4000, 7350, 8000, 11025, 352800, 384000};  // DSD64 decodes to 352.8 kHz
  const int channels[] = {1, 3, 6, 8, 16};
  const int bits[] = {8, 16, 32};
  const struct {
    const char *Dest, *Extension;
    int Rates[6];      // what each of `rates` is encoded at
    int MaxChannels;   // mixed down to this (lossy) or refused (lossless)
    bool Lossless;
    const char *Refusal;  // the reason of a refused source, before its channel count
    std::vector<std::string> Keys = {};
  } formats[] = {
      {"mp3", "mp3", {8000, 8000, 8000, 11025, 44100, 48000}, 2, false, ""},
      {"aac", "aac", {7350, 7350, 8000, 11025, 88200, 96000}, 6, false, ""},
      {"wma", "wma", {8000, 8000, 8000, 11025, 44100, 48000}, 2, false, ""},
      // A managed bitrate of 499 kbit/s, more than the library takes for most of them.
      {"ogg", "ogg", {8000, 8000, 8000, 11025, 44100, 48000}, 8, false, "", {"/avgbitrate", "17"}},
      {"wav", "wav", {4000, 7350, 8000, 11025, 352800, 384000}, 16, true, ""},
      {"flac", "flac", {4000, 7350, 8000, 11025, 352800, 384000}, 8, true, "FLAC files hold at most 8 channels; the source has "},
      {"wavpack", "wv", {4000, 7350, 8000, 11025, 352800, 384000}, 16, true, ""},
      {"ape", "ape", {4000, 7350, 8000, 11025, 352800, 384000}, 2, true, "APE files hold at most 2 channels; the source has "},
  };
  for (size_t f = 0; f < std::size(formats); ++f) {
    const auto &format = formats[f];
    SCOPED_TRACE(format.Dest);
    const std::string in = folder + "/" + format.Dest + "-in", out = folder + "/" + format.Dest;
    fs::create_directories(in);
    std::vector<TTestSignal> signals;
    bool anyRefused = false;
    for (size_t r = 0; r < std::size(rates); ++r) {
      const TTestSignal s{.Rate = rates[r], .Channels = channels[(r + f) % 5], .Bits = bits[(r + f) % 3],
                          .Seconds = 0.6};
      const char *codec = s.Bits == 8 ? "pcm_u8" : s.Bits == 16 ? "pcm_s16le" : "pcm_f32le";
      WriteSignal(in + "/" + std::to_string(r) + ".wav", s, {"-c:a", codec});
      signals.push_back(s);
      anyRefused |= format.Lossless && s.Channels > format.MaxChannels;
    }
    std::vector<std::string> args = {"/q", "/keepgoing", "/input", in, "/output", out, "/dest", format.Dest};
    args.insert(args.end(), format.Keys.begin(), format.Keys.end());
    std::string err;
    EXPECT_EQ(Tonmill(args, &err), anyRefused ? 1 : 0) << err;
    for (const auto &entry : fs::directory_iterator(out))
      EXPECT_NE(entry.path().filename().string()[0], '.') << entry.path() << " is left";
    for (size_t r = 0; r < signals.size(); ++r) {
      const TTestSignal &s = signals[r];
      SCOPED_TRACE(std::to_string(s.Rate) + " Hz, " + std::to_string(s.Channels) + " channels, " +
                   std::to_string(s.Bits) + " bits");
      const std::string source = in + "/" + std::to_string(r) + ".wav";
      std::string output = out + "/" + std::to_string(r) + "." + format.Extension;
      if (format.Lossless && s.Channels > format.MaxChannels) {
        EXPECT_FALSE(fs::exists(output));
        EXPECT_NE(err.find(format.Refusal + std::to_string(s.Channels)), std::string::npos) << err;
        continue;
      }
      // FFmpeg reads no WavPack above eight channels (they have no speaker
      // mask): WavPack's own decoder unpacks them.
      if (format.Extension == std::string("wv")) {
        ASSERT_EQ(RunTool({"wvunpack", "-q", "-y", output, "-o", output + ".wav"}), 0);
        output += ".wav";
      }
      const int rate = format.Rates[r], channelCount = std::min(s.Channels, format.MaxChannels);
      EXPECT_EQ(ProbeStream(output, "sample_rate,channels"),
                std::to_string(rate) + "," + std::to_string(channelCount) + "\n");
      const int64_t frames = int64_t(FFmpegDecode(output, "f32le").size()) / 4 / channelCount;
      const int64_t expected = std::llround(s.Seconds * rate);
      // Lossy decoders may keep the encoder's delay and fill the last frame.
      EXPECT_GE(frames, expected);
      EXPECT_LE(frames, expected + (format.Lossless ? 0 : 2048));
      const bool converted = rate != s.Rate || channelCount != s.Channels;
      const std::string note = "note: " + source + ": converted to " + std::to_string(rate) + " Hz, " +
                               std::to_string(channelCount) + " channels for ";
      EXPECT_EQ(err.find(note) != std::string::npos, converted) << err;
      EXPECT_EQ(err.find(note), err.rfind(note)) << "said once";
    }
  }
  // DSD128's 705.6 kHz is past what FLAC holds: taken at 352.8 kHz, not refused.
  std::string err;
  ASSERT_EQ(Tonmill({"/q", "/input", WriteDsf(folder + "/fast.dsf", 0.5, {}, 2 * 2822400), "/output", folder + "/128", "/dest", "flac"}, &err), 0) << err;
  EXPECT_EQ(ProbeStream(folder + "/128/fast.flac", "sample_rate,channels"), "352800,2\n");
}

// A sound file of every input type, made by each format's encoders: a folder
// of them converts, each found, at its source's rate and length; a folder of
// their damaged copies ends by itself, each copy converted or named.
TEST(HostileInputs, EveryInputTypeWholeAndDamaged) {
  const std::string folder = TestProfileFolder(), good = folder + "/good", bad = folder + "/bad";
  fs::create_directories(good);
  fs::create_directories(bad);
  const std::string wav = WriteSignal(folder + "/sound.wav", {.Seconds = 2});
  const auto ff = [](std::vector<std::string> codec) {
    codec.insert(codec.begin(), {"ffmpeg", "-v", "error", "-y", "-i", "IN"});
    codec.push_back("OUT");
    return codec;
  };
  const std::pair<std::string, std::vector<std::string>> makers[] = {
      {"mp3", {"lame", "--quiet", "IN", "OUT"}}, {"wma", ff({"-c:a", "wmav2"})}, {"ogg", {"oggenc", "-Q", "IN", "-o", "OUT"}},
      {"wav", ff({"-c:a", "pcm_s16le"})}, {"flac", {"flac", "-s", "-f", "IN", "-o", "OUT"}}, {"ape", {}},  // our own compressor
      {"ac3", ff({"-c:a", "ac3"})}, {"aac", ff({"-c:a", "aac", "-f", "adts"})}, {"mp4", ff({"-c:a", "aac"})},
      {"m4a", ff({"-c:a", "aac"})}, {"wv", {"wavpack", "-q", "-y", "IN", "-o", "OUT"}},
      {"mpc", {"mpcenc", "--silent", "--overwrite", "IN", "OUT"}}, {"tta", ff({"-c:a", "tta"})},
      {"avi", ff({"-c:a", "mp2"})}, {"mpg", ff({"-c:a", "mp2", "-f", "mpeg"})}, {"vob", ff({"-c:a", "ac3", "-f", "vob"})},
      {"mkv", ff({"-c:a", "flac"})}, {"flv", ff({"-c:a", "libmp3lame", "-ar", "44100"})}};
  for (auto [ext, argv] : makers) {
    const std::string made = good + "/" + ext + "." + ext;
    if (argv.empty()) {
      ASSERT_EQ(Tonmill({"/input", wav, "/output", folder + "/ape", "/dest", ext}), 0);
      fs::rename(folder + "/ape/sound." + ext, made);
    } else {
      for (std::string &a : argv) a = a == "IN" ? wav : a == "OUT" ? made : a;
      RunOk(argv);
    }
  }
  for (const TSourceCase &c : FurtherTypeCases()) {
    const std::string made = folder + "/made/" + c.Name;
    fs::create_directories(made);
    const std::string source = c.Make(made);
    fs::rename(source, good + "/" + c.Name + fs::path(source).extension().string());
  }
  // The folder search finds the music; a folder's films are not its music, and are named.
  const auto inputs = [](const std::string &from, std::vector<std::string> args, bool films) {
    for (const auto &entry : fs::directory_iterator(from))
      if (!films || std::string(".avi.flv.mkv.mpg.vob").find(entry.path().extension().string()) != std::string::npos)
        args.insert(args.begin() + 2, entry.path().string());
    return args;
  };
  std::string err;
  ASSERT_EQ(Tonmill(inputs(good, {"/q", "/input", good, "/output", folder + "/out", "/dest", "flac"}, true), &err), 0) << err;
  std::mt19937 random(17);
  const std::vector<std::pair<const char *, std::function<void(TBytes &)>>> damages = {
      {"empty", [](TBytes &b) { b.clear(); }},
      {"header_only", [](TBytes &b) { b.resize(std::min<size_t>(b.size(), 64)); }},
      {"truncated", [](TBytes &b) { b.resize(b.size() / 2); }},
      {"random", [&](TBytes &b) { for (uint8_t &x : b) x = uint8_t(random()); }},
      {"bit_flipped", [&](TBytes &b) {
         for (int i = 0; i < 40 && b.size() > 16; ++i) b[16 + random() % (b.size() - 16)] ^= uint8_t(1 << (random() % 8));
       }}};
  std::vector<std::string> damaged;
  size_t types = 0;
  for (const auto &entry : fs::directory_iterator(good)) {
    ++types;
    const std::string source = entry.path(), stem = entry.path().stem(), output = folder + "/out/" + stem + ".flac";
    SCOPED_TRACE(source);
    ASSERT_TRUE(fs::exists(output));
    EXPECT_EQ(std::atoi(ProbeStream(output, "sample_rate").c_str()), std::atoi(ProbeStream(source, "sample_rate").c_str()));
    const double reference = double(FFmpegDecode(source, "s16le").size());
    EXPECT_NEAR(double(FFmpegDecode(output, "s16le").size()), reference, reference * 0.01 + 4096);
    // Three of the damages for each type, in turn, so that each meets most types.
    for (const size_t d : {types % 5, (types + 1) % 5, (types + 3) % 5}) {
      const auto &[name, damage] = damages[d];
      TBytes bytes = ReadFileBytes(source);
      damage(bytes);
      damaged.push_back(std::string(name) + "_" + entry.path().filename().string());
      WriteFileBytes(bad + "/" + damaged.back(), bytes);
    }
  }
  const int status = Tonmill(inputs(bad, {"/q", "/input", "/output", folder + "/damaged", "/dest", "wav", "/keepgoing"}, false), &err);
  EXPECT_TRUE(status == 0 || status == 1) << status << ": " << err;
  for (const std::string &name : damaged)
    EXPECT_TRUE(fs::exists(folder + "/damaged/" + fs::path(name).stem().string() + ".wav") ||
                err.find(name) != std::string::npos) << name << " neither converted nor named";
  for (const auto &entry : fs::directory_iterator(folder + "/damaged"))
    EXPECT_NE(entry.path().filename().string()[0], '.') << entry.path() << " stayed behind";
}

// Sheets as people and broken programs write them, beside a sound image, and
// names with every awkward byte: each run ends by itself, converting or naming
// the source. A sheet that cannot be cut into tracks is one failure naming it;
// kept going, everything else converts, without, nothing is written.
TEST(HostileInputs, MalformedSheetsAndHostileNames) {
  const std::string folder = TestProfileFolder(), in = folder + "/in", out = folder + "/out";
  fs::create_directories(in);
  const std::string wav = WriteSignal(in + "/image.wav", {.Seconds = 0.5});
  const std::string track = "  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n", file = "FILE \"image.wav\" WAVE\n";
  std::string many = file, garbage(4096, '\0');
  for (int t = 1; t <= 99; ++t) many += fmt::sprintf("  TRACK %02d AUDIO\n    TITLE \"Track %02d\"\n    INDEX 01 00:00:%02d\n", t, t, t);
  std::mt19937 random(3);
  for (char &c : garbage) c = char(random());
  const std::pair<const char *, std::string> sheets[] = {
      {"missing_file", track + "  TRACK 02 AUDIO\n    INDEX 01 00:00:10\n"},
      {"missing_audio", "FILE \"nowhere.wav\" WAVE\n" + track},
      {"out_of_order", file + "  TRACK 02 AUDIO\n    INDEX 01 00:00:20\n" + track},
      {"past_the_end", file + track + "  TRACK 02 AUDIO\n    INDEX 01 59:59:74\n"},
      {"index_00_after_01", file + track + "  TRACK 02 AUDIO\n    INDEX 01 00:00:20\n    INDEX 00 00:00:30\n"},
      {"duplicated", file + track + track + track},
      {"99_tracks", many},
      {"no_tracks", file + "TITLE \"x\"\n"},
      {"bad_times", file + "  TRACK 01 AUDIO\n    INDEX 01 aa:-1:999999999999\n"},
      {"huge_numbers", file + "  TRACK 99999999999 AUDIO\n    INDEX 01 2147483647:99:99\n"},
      {"empty_values", "FILE\nTRACK\nINDEX 01\nTITLE\nPERFORMER\n"},
      {"garbage", garbage},
      {"utf8_bom", "\xef\xbb\xbf" + file + track},
      {"utf16le_bom", std::string("\xff\xfe" "F\0I\0L\0E\0", 10)},
      {"utf16be_bom_odd", std::string("\xfe\xff\0F\0I\0L", 9)},
      {"cr_only", "FILE \"image.wav\" WAVE\r  TRACK 01 AUDIO\r    INDEX 01 00:00:00\r"},
      {"megabyte_line", file + "TITLE \"" + std::string(1 << 20, 'x') + "\"\n" + track},
      {"empty", ""},
  };
  for (const auto &[name, text] : sheets) {
    SCOPED_TRACE(name);
    const std::string sheet = WriteText(in + "/" + name + ".cue", text);
    fs::remove_all(out);
    std::string err;
    const int status = Tonmill({"/input", sheet, "/output", out, "/dest", "wav"}, &err, {.Seconds = 60});
    EXPECT_TRUE(status == 0 || (status == 1 && (err.find(name) != std::string::npos || err.find("image.wav") != std::string::npos ||
                                                err.find("no supported audio file among the inputs") != std::string::npos)))
        << status << ": " << err;
    fs::remove(sheet);
  }
  const auto bad = [](const char *number, const char *second) {
    return std::string("FILE \"img.flac\" WAVE\n  TRACK 01 AUDIO\n    INDEX 01 00:01:00\n  TRACK ") + number +
           " AUDIO\n    INDEX 01 " + second + "\n";
  };
  const std::string good = WriteSignal(in + "/good.flac", {.Seconds = 0.5}, {"-c:a", "flac"});
  const struct {
    const char *Name;
    std::string Sheet;
    bool Audio, KeepGoing;
  } failing[] = {{"a track ending before it starts", bad("02", "00:00:30"), true, false},
                 {"zz as a track number", bad("zz", "00:01:30"), true, true},
                 {"00:0x:00 as a time", bad("02", "00:0x:00"), true, false},
                 {"its audio missing", bad("02", "00:01:30"), false, true}};
  for (const auto &row : failing) {
    SCOPED_TRACE(row.Name);
    fs::remove_all(out);
    fs::remove(in + "/img.flac");
    if (row.Audio) WriteSignal(in + "/img.flac", {.Seconds = 2}, {"-c:a", "flac"});
    const std::string sheet = WriteText(in + "/album.cue", row.Sheet);
    std::vector<std::string> args = {"/input", good, sheet, "/output", out, "/dest", "flac"};
    if (row.KeepGoing) args.push_back("/keepgoing");
    std::string err;
    EXPECT_EQ(Tonmill(args, &err), 1) << err;
    EXPECT_NE(err.find(sheet), std::string::npos) << err;
    EXPECT_NE(err.find(row.KeepGoing ? "converted 1 of 2, failed 1, stopped 0" : "converted 0 of"), std::string::npos) << err;
    EXPECT_EQ(fs::exists(out + "/good.flac"), row.KeepGoing);
    if (row.KeepGoing) { EXPECT_EQ(FFmpegDecode(out + "/good.flac", "s16le"), MakeSamples({.Seconds = 0.5})); }
  }

  std::string deep = folder + "/names";
  for (int i = 0; i < 40; ++i) deep += "/deeper folder " + std::to_string(i);
  const std::vector<std::string> names = {
      "it's \"quoted\".wav", "  spaces  .wav", "-leading dash.wav", "--input.wav", "new\nline.wav", "invalid \xff\xfe utf8.wav",
      "*?[glob].wav", "$(echo x) `y`.wav",
      std::string(250, 'n') + ".wav",  // the longest name an output keeps whole (a companion file adds a letter)
      deep.substr(folder.size() + 7) + "/a.wav"};
  std::vector<std::string> args = {"/input"};
  for (const std::string &name : names) {
    args.push_back(folder + "/names/" + name);
    fs::create_directories(fs::path(args.back()).parent_path());
    fs::copy_file(wav, args.back());
  }
  args.insert(args.end(), {"/output", out, "/dest", "wav"});
  fs::remove_all(out);
  const TSourceGuard guard({folder + "/names"});
  std::string err;
  ASSERT_EQ(Tonmill(args, &err), 0) << err;
  for (const std::string &name : names) {  // decoded under a short name: ffmpeg's files beside it may not get longer ones
    SCOPED_TRACE(name);
    fs::copy_file(out + "/" + fs::path(name).stem().string() + ".wav", folder + "/check.wav", fs::copy_options::overwrite_existing);
    EXPECT_EQ(FFmpegDecode(folder + "/check.wav", "s16le"), MakeSamples({.Seconds = 0.5}));
  }
}

// A film: its first audio stream, decoded by the ffmpeg program, 16-bit.
std::vector<int32_t> FFmpegWhole(const std::string &film) {
  std::string out;
  EXPECT_EQ(RunTool({"ffmpeg", "-v", "error", "-nostdin", "-i", film, "-map", "0:a:0", "-f", "s16le", "pipe:1"}, &out), 0);
  return AsInt16(std::vector<uint8_t>(out.begin(), out.end()));
}

std::vector<std::string> Outputs(const std::string &folder) {
  std::vector<std::string> names;
  for (const auto &entry : fs::directory_iterator(folder)) names.push_back(entry.path().string());
  std::sort(names.begin(), names.end());
  return names;
}

// A CUE sheet over a film gives one output per track, each exactly its span
// of the film's whole sound (lossy: in place, of the same length); the film
// named by itself gives its whole first audio stream.
TEST(FilmSources, ACueSheetCutsTheFilmsSoundIntoTracks) {
  const struct {
    const char *Extension;
    std::vector<std::string> Codecs;
    int Rate;
    bool Lossless;
    const char *SheetName;  // beside "film.<ext>"
  } films[] = {{"mkv", {"-c:v", "mpeg4", "-c:a", "flac"}, 48000, true, "film.mkv.cue"},
               {"avi", {"-c:v", "mpeg4", "-c:a", "pcm_s16le"}, 44100, true, "concert.cue"},
               {"flv", {"-c:v", "flv1", "-c:a", "pcm_s16le"}, 44100, true, "concert.cue"},
               {"mpg", {"-c:v", "mpeg2video", "-c:a", "mp2"}, 48000, false, "film.cue"},
               {"vob", {"-c:v", "mpeg2video", "-c:a", "ac3"}, 48000, false, "concert.cue"}};
  const std::vector<int> starts = {0, 3 * 75 + 17, 7 * 75 + 38, 10 * 75 + 1};  // CD frames
  for (const auto &row : films) {
    SCOPED_TRACE(row.Extension);
    const std::string folder = TestProfileFolder() + "/" + row.Extension, film = folder + "/film." + row.Extension;
    fs::create_directories(folder);
    const std::string rate = std::to_string(row.Rate);
    std::vector<std::string> make = {"ffmpeg", "-v", "error", "-y", "-nostdin", "-f", "lavfi", "-i", "testsrc=size=64x48:rate=25:d=12",
                                     "-f", "lavfi", "-i", "sine=f=330:r=" + rate + ":d=12", "-f", "lavfi", "-i",
                                     "anoisesrc=a=0.2:seed=7:r=" + rate + ":d=12", "-filter_complex", "[1][2]amerge=inputs=2[a]",
                                     "-map", "0", "-map", "[a]"};
    make.insert(make.end(), row.Codecs.begin(), row.Codecs.end());
    make.push_back(film);
    RunOk(make);
    std::string sheet = "PERFORMER \"Live Band\"\nTITLE \"Concert\"\nFILE \"film." + std::string(row.Extension) + "\" MP3\n";
    for (size_t k = 0; k < starts.size(); ++k)
      sheet += fmt::sprintf("  TRACK %02d AUDIO\n    TITLE \"Song %d\"\n    INDEX 01 %02d:%02d:%02d\n", k + 1, k + 1,
                            starts[k] / 75 / 60, starts[k] / 75 % 60, starts[k] % 75);
    WriteText(folder + "/" + row.SheetName, sheet);
    std::string err;
    ASSERT_EQ(Tonmill({"/input", folder + "/" + row.SheetName, "/output", folder + "/out", "/dest", "wav"}, &err, {.Seconds = 180}), 0)
        << err;
    const std::vector<std::string> outputs = Outputs(folder + "/out");
    ASSERT_EQ(outputs.size(), starts.size()) << err;
    const std::vector<int32_t> whole = FFmpegWhole(film);
    size_t tiled = 0;
    for (size_t k = 0; k < starts.size(); ++k) {
      SCOPED_TRACE(outputs[k]);
      EXPECT_NE(outputs[k].find(fmt::sprintf("%02d - Song %d.wav", k + 1, k + 1)), std::string::npos);
      const size_t first = size_t(std::llround(starts[k] / 75.0 * row.Rate)) * 2;
      const size_t end = k + 1 < starts.size() ? size_t(std::llround(starts[k + 1] / 75.0 * row.Rate)) * 2 : whole.size();
      const std::vector<int32_t> got = AsInt16(FFmpegDecode(outputs[k], "s16le"));
      ASSERT_EQ(got.size(), end - first);
      const std::vector<int32_t> span(whole.begin() + ptrdiff_t(first), whole.begin() + ptrdiff_t(end));
      if (row.Lossless) { EXPECT_TRUE(got == span); }
      else EXPECT_GT(SnrDb(span, got, 2), 20.0);  // a frame off, the noise in the sound would not match
      tiled += got.size();
    }
    EXPECT_EQ(tiled, whole.size());
    ASSERT_EQ(Tonmill({"/input", film, "/output", folder + "/whole", "/dest", "wav"}, &err, {.Seconds = 180}), 0) << err;
    const std::vector<std::string> single = Outputs(folder + "/whole");
    ASSERT_EQ(single.size(), 1u);
    EXPECT_TRUE(AsInt16(FFmpegDecode(single[0], "s16le")) == whole);
  }
}

// Whether process `pid` still runs (a zombie waiting for its parent does not).
bool Running(const std::string &pid) {
  const std::string stat = ReadText("/proc/" + pid + "/stat");
  const size_t close = stat.rfind(')');
  return close != std::string::npos && close + 2 < stat.size() && stat[close + 2] != 'Z';
}

// An `ffmpeg` on PATH in place of the real one, or none at all: a run never
// hangs nor leaves a process behind, and a film cut short is warned about.
TEST(FakeFFmpeg, EndsInBoundedTimeAndLeavesNothingRunning) {
  const std::string path = std::getenv("PATH");
  std::string real;
  RunTool({"sh", "-c", "command -v ffmpeg"}, &real);
  real = real.substr(0, real.find('\n'));
  // REAL stands for the real program, PIDS for a file the script notes its processes in.
  const struct {
    const char *Name, *Script;  // nullptr: the real ffmpeg; "": no ffmpeg anywhere
    const char *Extension;      // of the film, "mka" read without ffmpeg
    bool Truncated;
    int Status;
    const char *Says;
  } rows[] = {
      {"closes its output and stays",
       "case \" $* \" in *\" pipe:1 \"*) echo $$ >>PIDS; exec >&- 2>&-; exec sleep 600;; esac\nexec REAL \"$@\"\n", "mkv",
       false, 1, "still running 5 seconds after the end of its output"},
      {"a wrapper's child outlives it", "REAL \"$@\"\nstatus=$?\nsleep 600 &\necho $! >>PIDS\nexit $status\n", "mkv", false,
       0, "converted"},
      {"none at all", "", "mkv", false, 1, "The sound of films is read by the ffmpeg program, which was not found"},
      {"an impossible report",
       "echo \"Input #0, matroska,webm, from '$4':\n  Duration: 00:00:12.00, start: 0.000000, bitrate: 843 kb/s\n"
       "  Stream #0:0: Audio: pcm_s16le, 0 Hz, 65535 channels, s16\" >&2\nexit 1\n",
       "mkv", false, 1, "it is not an audio file this program can read"},
      {"ends early saying done", "case \" $* \" in *\" pipe:1 \"*) REAL \"$@\" | head -c 300000; exit 0;; esac\nexec REAL \"$@\"\n",
       "mkv", false, 0, "warning: "},
      {"a truncated mkv", nullptr, "mkv", true, 0, "warning: "},
      {"a truncated mka", nullptr, "mka", true, 0, "warning: "},
  };
  const std::string home = TestProfileFolder();
  for (const auto &row : rows) {
    SCOPED_TRACE(row.Name);
    const std::string folder = home + "/" + std::to_string(&row - rows), film = folder + "/film." + row.Extension;
    const std::string bin = folder + "/bin", pids = folder + "/pids";
    fs::create_directories(bin);
    std::vector<std::string> make = {"ffmpeg", "-v", "error", "-y", "-nostdin", "-f", "lavfi", "-i", "sine=f=330:r=48000:d=12"};
    if (std::string(row.Extension) != "mka")
      make.insert(make.end(), {"-f", "lavfi", "-i", "testsrc=size=64x48:rate=25:d=12", "-map", "0", "-map", "1"});
    make.insert(make.end(), {"-ac", "2", "-c:a", "flac", film});
    RunOk(make);
    if (row.Truncated) CutInHalf(film);
    if (row.Script && *row.Script) {
      std::string script = std::string("#!/bin/sh\n") + row.Script;
      for (const auto &[mark, value] : {std::pair<std::string, std::string>{"REAL", real}, {"PIDS", pids}})
        for (size_t at; (at = script.find(mark)) != std::string::npos;) script.replace(at, mark.size(), value);
      WriteText(bin + "/ffmpeg", script);
      fs::permissions(bin + "/ffmpeg", fs::perms::owner_all);
    }
    TRunHow how{.Seconds = 180};
    if (row.Script) how.Env = {"PATH=" + (*row.Script ? bin + ":" + path : bin)};
    std::string err;
    EXPECT_EQ(Tonmill({"/input", film, "/output", folder + "/out", "/dest", "wav"}, &err, how), row.Status) << err;
    EXPECT_NE(err.find(row.Says), std::string::npos) << err;
    std::istringstream started(ReadText(pids));
    for (std::string pid; std::getline(started, pid);) {
      EXPECT_FALSE(Running(pid)) << "process " << pid << " outlived the run";
      if (Running(pid)) kill(std::stoi(pid), SIGKILL);
    }
    if (row.Status != 0) continue;
    const std::vector<std::string> outputs = Outputs(folder + "/out");
    ASSERT_EQ(outputs.size(), 1u);
    if (!row.Truncated && std::string(row.Says) != "warning: ") {
      EXPECT_TRUE(FFmpegDecode(outputs[0], "s16le") == FFmpegDecode(film, "s16le"));
    }
  }
}

}  // namespace
