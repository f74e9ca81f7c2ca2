// SPDX-License-Identifier: GPL-3.0-or-later
// Files as other programs write them, damaged ones, films, hostile names and sheets, converted by the
// program without a window: samples as FFmpeg decodes them, damage named as a warning, every run ending.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <functional>
#include <regex>

#include <fmt/printf.h>

#include "base/texts.h"
#include "encoders/format.h"
#include "encoders/ogg/ogg_format.h"
#include "test_support.h"

namespace {

using TBytes = std::vector<uint8_t>;

void RunOk(const std::vector<std::string> &argv) {
  std::string err;
  ASSERT_EQ(RunTool(argv, nullptr, &err), 0) << argv[0] << ": " << err;
}

// The music encoded into folder/name by a program: `argv`, with "IN" for the music and "OUT" for the file.
std::string Encode(const std::string &folder, const std::string &name, std::vector<std::string> argv) {
  const std::string in = WriteMusic(folder + "/music.wav", {.Seconds = 3}), out = folder + "/" + name;
  for (std::string &a : argv) a = a == "IN" ? in : a == "OUT" ? out : a;
  RunOk(argv);
  return out;
}

// A copy of `path` named `name` with its bytes changed by `edit`.
std::string Edited(const std::string &path, const std::string &name, const std::function<void(TBytes &)> &edit) {
  TBytes bytes = ReadFileBytes(path);
  edit(bytes);
  const std::string out = fs::path(path).parent_path() / name;
  WriteFileBytes(out, bytes);
  return out;
}

std::string Lame(const std::string &f) { return Encode(f, "lame.mp3", {"lame", "--quiet", "-V", "4", "IN", "OUT"}); }

std::string Truncated(const std::string &path) {
  return Edited(path, "truncated" + fs::path(path).extension().string(), [](TBytes &b) { b.resize(b.size() * 6 / 10); });
}

// Changes the first edit of an MP4 file: its length (movie time units) and
// the media time where it starts (the encoder delay, in samples).
std::string EditList(const std::string &m4a, const std::string &name, int durationDelta, int delay) {
  return Edited(m4a, name, [&](TBytes &b) {
    const std::string bytes(b.begin(), b.end());
    const size_t at = bytes.find("elst");
    ASSERT_NE(at, std::string::npos);
    const uint32_t length = uint32_t(b[at + 12]) << 24 | b[at + 13] << 16 | b[at + 14] << 8 | b[at + 15];
    const uint32_t values[2] = {length + uint32_t(durationDelta), uint32_t(delay)};
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

std::vector<TSourceCase> SourceCases() {
  auto ff = [](const std::string &name, std::vector<std::string> args) {
    args.insert(args.begin(), {"ffmpeg", "-v", "error", "-y", "-i", "IN"});
    args.push_back("OUT");
    return [=](const std::string &f) { return Encode(f, name, args); };
  };
  const auto aac = ff("ffmpeg.m4a", {"-c:a", "aac"}), adts = ff("ffmpeg.aac", {"-c:a", "aac"});
  return {
      // Files of other encoders and muxers, whole and sound.
      {"m4a_edit_list_with_itunes_priming", [=](auto &f) { return EditList(aac(f), "itunes.m4a", 0, 2112); }, Clean},
      {"m4a_edit_list_longer_than_the_media", [=](auto &f) { return EditList(aac(f), "long.m4a", 100, 1024); }, Clean},
      {"m4a_cut_by_stream_copy",
       [=](auto &f) {
         RunOk({"ffmpeg", "-v", "error", "-y", "-ss", "0.37", "-i", aac(f), "-c", "copy", f + "/copy.m4a"});
         return f + "/copy.m4a";
       },
       Clean},
      {"mp3_lame_tag_counts_a_frame_more",
       [](auto &f) { return Edited(Lame(f), "tail.mp3", [](TBytes &b) { b.resize(b.size() - 300); }); }, Clean},
      {"mp4_ac3", ff("ac3.mp4", {"-c:a", "ac3"}), Clean},
      {"mp4_flac", ff("flac.mp4", {"-c:a", "flac", "-strict", "-2"}), Clean},
      {"mp4_opus", ff("opus.mp4", {"-c:a", "libopus", "-ar", "48000"}), Clean},
      // Damaged: what decodes is converted, and the source is named afterwards (each decoder's damage:
      // BassFailures, CoderThread).
      {"aac_truncated", [=](auto &f) { return Truncated(adts(f)); }, Warned},
      // A film, read by the ffmpeg program.
      {"mkv_film_truncated",
       [=](auto &f) {
         const auto film = ff("film.mkv", {"-f", "lavfi", "-i", "testsrc=size=32x32:d=3", "-c:v", "mpeg4",
                                           "-c:a", "flac"});
         return Truncated(film(f));
       },
       Warned},
      // Its index is at the end: nothing can be opened, and the job fails.
      {"m4a_truncated", [=](auto &f) { return Truncated(aac(f)); }, Failed},
      // Types read beside the thirteen (their properties: AudioInfo); the last holds a film beside its sound.
      {"opus", ff("ffmpeg.opus", {"-c:a", "libopus"}), Clean},
      {"aiff_24", ff("ffmpeg.aiff", {"-c:a", "pcm_s24be"}), Clean},
      {"aifc_float", ff("ffmpeg.aifc", {"-c:a", "pcm_f32be"}), Clean},
      {"dsf_dsd64", [](const std::string &f) { return WriteDsf(f + "/tone.dsf", 1); }, Clean, 1},
      {"webm_film_opus",
       ff("film.webm", {"-f", "lavfi", "-i", "color=s=32x32:r=5:d=3", "-c:v", "libvpx", "-c:a", "libopus"}), Clean},
  };
}

class RealSources : public ::testing::TestWithParam<TSourceCase> {};

TEST_P(RealSources, ConvertToWhatFFmpegDecodesAndNameTheDamagedOnes) {
  const TSourceCase &c = GetParam();
  const std::string folder = TestProfileFolder(), source = c.Make(folder);
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
  const int bits = c.Steps24 ? 24 : 16;
  const std::vector<double> reference = AsSamples(FFmpegDecode(source, RawFormat(bits)), bits);
  const std::vector<double> samples = AsSamples(FFmpegDecode(output, RawFormat(bits)), bits);
  const double converted = double(samples.size());
  ASSERT_GT(reference.size(), 0u);
  EXPECT_NEAR(converted, double(reference.size()), double(reference.size()) * 0.01) << err;
  size_t differing = 0;
  for (size_t i = 0; i < std::min(reference.size(), samples.size()); ++i)
    differing += std::abs(reference[i] - samples[i]) > c.Steps24 / 8388608.0;
  EXPECT_EQ(differing, 0u);

  std::smatch warning;
  const std::regex line("tonmill: warning: " + std::regex_replace(source, std::regex(R"([.^$|()\[\]{}*+?\\])"), R"(\$&)") +
                        R"(: ([0-9.]+) s (of [0-9.]+ s )?decoded[^\n]*\n)");
  const bool warned = std::regex_search(err, warning, line);
  EXPECT_EQ(warned, c.Outcome == Warned) << err;
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

// One run per format over sources of every awkward rate, channel counts and depths rotating: a lossy output
// comes at what its encoder takes, noted once; a lossless one holds the source or fails naming the limit.
TEST(FurtherTypes, AwkwardSourcesGetWhatTheirEncoderTakes) {
  const std::string folder = TestProfileFolder();
  const int rates[] = {4000, 7350, 8000, 11025, 352800, 384000};  // DSD64 decodes to 352.8 kHz
  const int channels[] = {1, 3, 6, 8, 16};
  const int bits[] = {8, 16, 32};
  size_t f = 0;
  for (const TFormatRow *row : FormatRows()) {
    if (!row->CreateCoder) continue;
    SCOPED_TRACE(row->Name);
    const std::string in = folder + "/" + row->Extension + "-in", out = folder + "/" + row->Extension;
    fs::create_directories(in);
    std::vector<std::string> args = {"/q", "/keepgoing", "/input", in, "/output", out, "/dest", row->Name};
    const std::shared_ptr<void> options = row->NewOptions();
    if (row->Code == dfOGG) {  // a managed bitrate of 499 kbit/s, more than the library takes for most of them
      static_cast<TOGGOptions *>(options.get())->BitrateType = obCBR;
      args.insert(args.end(), {"/avgbitrate", "17"});
    }
    const TEncoderRange takes = row->Takes ? row->Takes(options.get()) : TEncoderRange{};
    const bool lossless = row->Lossless && row->Lossless(options.get());
    const auto fits = [&](int rate, int count) {
      return rate >= takes.MinRate && (!takes.MaxRate || rate <= takes.MaxRate) &&
             (takes.Rates.empty() || std::count(takes.Rates.begin(), takes.Rates.end(), rate)) &&
             (!takes.MaxChannels || count <= takes.MaxChannels);
    };
    std::vector<TTestSignal> signals;
    bool anyRefused = false;
    for (size_t r = 0; r < std::size(rates); ++r) {
      const TTestSignal s{.Rate = rates[r], .Channels = channels[(r + f) % 5], .Bits = bits[(r + f) % 3],
                          .Seconds = 0.6};
      const char *codec = s.Bits == 8 ? "pcm_u8" : s.Bits == 16 ? "pcm_s16le" : "pcm_f32le";
      WriteSignal(in + "/" + std::to_string(r) + ".wav", s, {"-c:a", codec});
      signals.push_back(s);
      anyRefused |= lossless && !fits(s.Rate, s.Channels);
    }
    ++f;
    std::string err;
    EXPECT_EQ(Tonmill(args, &err), anyRefused ? 1 : 0) << err;
    for (const auto &entry : fs::directory_iterator(out))
      EXPECT_NE(entry.path().filename().string()[0], '.') << entry.path() << " is left";
    for (size_t r = 0; r < signals.size(); ++r) {
      const TTestSignal &s = signals[r];
      SCOPED_TRACE(std::to_string(s.Rate) + " Hz, " + std::to_string(s.Channels) + " channels, " +
                   std::to_string(s.Bits) + " bits");
      const std::string source = in + "/" + std::to_string(r) + ".wav";
      std::string output = out + "/" + std::to_string(r) + "." + row->Extension;
      if (lossless && !fits(s.Rate, s.Channels)) {
        EXPECT_FALSE(fs::exists(output));
        const std::string refusal = FormatText(text_holds_channels, row->Name, takes.MaxChannels, s.Channels);
        EXPECT_NE(err.find(refusal), std::string::npos) << err;
        continue;
      }
      // FFmpeg reads no WavPack above eight channels (they have no speaker
      // mask): WavPack's own decoder unpacks them.
      if (row->Extension == std::string("wv")) {
        ASSERT_EQ(RunTool({"wvunpack", "-q", "-y", output, "-o", output + ".wav"}), 0);
        output += ".wav";
      }
      const std::string probe = ProbeStream(output, "sample_rate,channels");
      const int rate = std::atoi(probe.c_str()), count = std::atoi(probe.substr(probe.find(',') + 1).c_str());
      EXPECT_EQ(count, takes.MaxChannels ? std::min(s.Channels, takes.MaxChannels) : s.Channels);
      EXPECT_TRUE(fits(rate, count)) << probe;
      if (fits(s.Rate, count)) { EXPECT_EQ(rate, s.Rate); }
      const int64_t frames = int64_t(FFmpegDecode(output, "f32le").size()) / 4 / std::max(count, 1);
      const int64_t expected = std::llround(s.Seconds * rate);
      // Lossy decoders may keep the encoder's delay and fill the last frame.
      EXPECT_GE(frames, expected);
      EXPECT_LE(frames, expected + (lossless ? 0 : 2048));
      const std::string note = "note: " + source + ": converted to " + std::to_string(rate) + " Hz, " +
                               std::to_string(count) + " channels for ";
      EXPECT_EQ(err.find(note) != std::string::npos, rate != s.Rate || count != s.Channels) << err;
      EXPECT_EQ(err.find(note), err.rfind(note)) << "said once";
    }
  }
  // DSD128's 705.6 kHz is past what FLAC holds: taken at 352.8 kHz, not refused.
  std::string err;
  ASSERT_EQ(Tonmill({"/q", "/input", WriteDsf(folder + "/fast.dsf", 0.5, {}, 2 * 2822400), "/output", folder + "/128", "/dest", "flac"}, &err), 0) << err;
  EXPECT_EQ(ProbeStream(folder + "/128/fast.flac", "sample_rate,channels"), "352800,2\n");
}

// Names with every awkward byte: converted, each to its own output.
TEST(HostileInputs, HostileNames) {
  const std::string folder = TestProfileFolder(), out = folder + "/out";
  const std::string wav = WriteSignal(folder + "/image.wav", {.Seconds = 0.5});
  std::string err, deep = folder + "/names";
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
  const TSourceGuard guard({folder + "/names"});
  ASSERT_EQ(Tonmill(args, &err), 0) << err;
  for (const std::string &name : names) {  // decoded under a short name: ffmpeg's files beside it may not get longer ones
    SCOPED_TRACE(name);
    fs::copy_file(out + "/" + fs::path(name).stem().string() + ".wav", folder + "/check.wav", fs::copy_options::overwrite_existing);
    EXPECT_EQ(FFmpegDecode(folder + "/check.wav", "s16le"), MakeSamples({.Seconds = 0.5}));
  }
}

// A sheet over a film: one output per track, each exactly its span of the film's sound (lossy: in place).
TEST(FilmSources, ACueSheetCutsTheFilmsSoundIntoTracks) {
  const struct {
    const char *Extension;
    std::vector<std::string> Codecs;
    bool Lossless;
    const char *SheetName;  // beside "film.<ext>"
  } films[] = {{"mkv", {"-c:v", "mpeg4", "-c:a", "flac"}, true, "film.mkv.cue"},
               {"mpg", {"-c:v", "mpeg2video", "-c:a", "mp2"}, false, "film.cue"}};
  const int rate = 48000;
  const std::vector<int> starts = {0, 3 * 75 + 17, 7 * 75 + 38, 10 * 75 + 1};  // CD frames
  for (const auto &row : films) {
    SCOPED_TRACE(row.Extension);
    const std::string folder = TestProfileFolder() + "/" + row.Extension, film = folder + "/film." + row.Extension;
    fs::create_directories(folder);
    std::vector<std::string> make = {"ffmpeg", "-v", "error", "-y", "-nostdin", "-f", "lavfi", "-i", "testsrc=size=64x48:rate=25:d=12",
                                     "-f", "lavfi", "-i", "sine=f=330:r=48000:d=12", "-f", "lavfi", "-i",
                                     "anoisesrc=a=0.2:seed=7:r=48000:d=12", "-filter_complex", "[1][2]amerge=inputs=2[a]",
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
    ASSERT_EQ(size_t(std::distance(fs::directory_iterator(folder + "/out"), {})), starts.size()) << err;
    const std::vector<int32_t> whole = AsInt16(FFmpegDecode(film, "s16le"));
    size_t tiled = 0;
    for (size_t k = 0; k < starts.size(); ++k) {
      const std::string output = folder + fmt::sprintf("/out/%02d - Song %d.wav", k + 1, k + 1);
      SCOPED_TRACE(output);
      const size_t first = size_t(std::llround(starts[k] / 75.0 * rate)) * 2;
      const size_t end = k + 1 < starts.size() ? size_t(std::llround(starts[k + 1] / 75.0 * rate)) * 2 : whole.size();
      const std::vector<int32_t> got = AsInt16(FFmpegDecode(output, "s16le"));
      ASSERT_EQ(got.size(), end - first);
      const std::vector<int32_t> span(whole.begin() + ptrdiff_t(first), whole.begin() + ptrdiff_t(end));
      if (row.Lossless) { EXPECT_TRUE(got == span); }
      else EXPECT_GT(SnrDb(span, got, 2), 20.0);  // a frame off, the noise in the sound would not match
      tiled += got.size();
    }
    EXPECT_EQ(tiled, whole.size());
  }
}

}  // namespace
