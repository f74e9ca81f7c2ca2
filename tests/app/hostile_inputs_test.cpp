// SPDX-License-Identifier: GPL-3.0-or-later
// Damaged files of every input type, malformed CUE sheets and hostile names,
// each converted by the program itself: every run ends by itself, with
// success or a message naming the source, never by a signal.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <filesystem>
#include <functional>
#include <random>

#include "test_support.h"

namespace fs = std::filesystem;

namespace {

using TBytes = std::vector<uint8_t>;

class HostileInputs : public ::testing::Test {
 protected:
  void SetUp() override {
    Folder = TestProfileFolder();
    In = Folder + "/in";
    Out = Folder + "/out";
    fs::create_directories(In);
    Wav = WriteSignal(Folder + "/sound.wav", {.Seconds = 0.5});
  }

  // One run over `inputs`, killed after a minute should it hang. Returns
  // the status; standard error in Said.
  int Run(const std::vector<std::string> &inputs, const std::string &dest = "wav") {
    fs::remove_all(Out);
    std::vector<std::string> args = {"timeout", "-s", "KILL", "60", TONMILL_BINARY, "/input"};
    args.insert(args.end(), inputs.begin(), inputs.end());
    args.insert(args.end(), {"/output", Out, "/dest", dest});
    Said.clear();
    const TSourceGuard guard(inputs);
    return RunTool(args, nullptr, &Said);
  }

  // The run ended by itself: success, or status 1 with a message naming
  // the source (or `named`, the image of a sheet), or saying that no input
  // was a source at all.
  void ExpectCleanEnd(const std::string &source, const std::string &what, const std::string &named = "") {
    SCOPED_TRACE(what);
    const int status = Run({source});
    EXPECT_TRUE(status == 0 || status == 1) << "status " << status << ": " << Said;
    if (status == 1) {
      const bool says = Said.find(fs::path(source).filename().string()) != std::string::npos ||
                        (!named.empty() && Said.find(named) != std::string::npos) ||
                        Said.find("tonmill: no supported audio file among the inputs") != std::string::npos;
      EXPECT_TRUE(says) << Said;
    }
  }

  std::string Folder, In, Out, Wav, Said;
};

// A sound source of each input type, made by the encoders of each format.
std::vector<std::pair<std::string, std::vector<std::string>>> SourceMakers() {
  const auto ff = [](std::vector<std::string> codec) {
    std::vector<std::string> a = {"ffmpeg", "-v", "error", "-y", "-i", "IN"};
    a.insert(a.end(), codec.begin(), codec.end());
    a.push_back("OUT");
    return a;
  };
  return {
      {"mp3", {"lame", "--quiet", "IN", "OUT"}},
      {"wma", ff({"-c:a", "wmav2"})},
      {"ogg", {"oggenc", "-Q", "IN", "-o", "OUT"}},
      {"wav", ff({"-c:a", "pcm_s16le"})},
      {"flac", {"flac", "-s", "-f", "IN", "-o", "OUT"}},
      {"ape", {}},  // our own compressor, through the program
      {"ac3", ff({"-c:a", "ac3"})},
      {"aac", ff({"-c:a", "aac", "-f", "adts"})},
      {"mp4", ff({"-c:a", "aac"})},
      {"m4a", ff({"-c:a", "aac"})},
      {"wv", {"wavpack", "-q", "-y", "IN", "-o", "OUT"}},
      {"mpc", {"mpcenc", "--silent", "--overwrite", "IN", "OUT"}},
      {"tta", ff({"-c:a", "tta"})},
      {"avi", ff({"-c:a", "mp2"})},
      {"mpg", ff({"-c:a", "mp2", "-f", "mpeg"})},
      {"vob", ff({"-c:a", "ac3", "-f", "vob"})},
      {"mkv", ff({"-c:a", "flac"})},
      {"flv", ff({"-c:a", "libmp3lame", "-ar", "44100"})},
      // Of the further types, those with a demuxer or decoder of their own
      // (.oga and .m4b share Ogg's and MP4's, .webm Matroska's).
      {"opus", ff({"-c:a", "libopus"})},
      {"aifc", ff({"-c:a", "pcm_f32be"})},
      {"mka", ff({"-c:a", "flac"})},
      {"dsf", {}},  // our own writer
  };
}

// Truncated, empty, random and bit-flipped files of every input type.
TEST_F(HostileInputs, DamagedFilesOfEveryType) {
  std::mt19937 random(17);
  const std::vector<std::pair<const char *, std::function<void(TBytes &)>>> damages = {
      {"empty", [](TBytes &b) { b.clear(); }},
      {"header_only", [](TBytes &b) { b.resize(std::min<size_t>(b.size(), 64)); }},
      {"truncated", [](TBytes &b) { b.resize(b.size() / 2); }},
      {"random", [&](TBytes &b) { for (uint8_t &x : b) x = uint8_t(random()); }},
      {"bit_flipped", [&](TBytes &b) {
         for (int i = 0; i < 40 && b.size() > 16; ++i) b[16 + random() % (b.size() - 16)] ^= uint8_t(1 << (random() % 8));
       }},
  };
  for (auto [ext, argv] : SourceMakers()) {
    const std::string good = Folder + "/good." + ext;
    if (ext == "dsf") {
      WriteDsf(good, 0.5);
    } else if (argv.empty()) {
      ASSERT_EQ(Run({Wav}, ext), 0) << Said;
      fs::rename(Out + "/sound." + ext, good);
    } else {
      for (std::string &a : argv) a = a == "IN" ? Wav : a == "OUT" ? good : a;
      std::string err;
      ASSERT_EQ(RunTool(argv, nullptr, &err), 0) << ext << ": " << err;
    }
    ExpectCleanEnd(good, std::string("sound ") + ext);
    const TBytes bytes = ReadFileBytes(good);
    for (const auto &[name, damage] : damages) {
      TBytes copy = bytes;
      damage(copy);
      const std::string path = In + "/" + name + "." + ext;
      WriteFileBytes(path, copy);
      ExpectCleanEnd(path, std::string(name) + " " + ext);
    }
  }
}

// Sheets as people and broken programs write them, beside a sound image.
TEST_F(HostileInputs, MalformedCueSheets) {
  fs::copy_file(Wav, In + "/image.wav");
  const std::string track = "  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n";
  std::string many = "FILE \"image.wav\" WAVE\n";
  for (int t = 1; t <= 99; ++t) {
    const std::string n = (t < 10 ? "0" : "") + std::to_string(t);
    many += "  TRACK " + n + " AUDIO\n    TITLE \"Track " + n + "\"\n    INDEX 01 00:00:" + n + "\n";
  }
  std::string longLine = "FILE \"image.wav\" WAVE\nTITLE \"" + std::string(1 << 20, 'x') + "\"\n" + track;
  std::string garbage(4096, '\0');
  std::mt19937 random(3);
  for (char &c : garbage) c = char(random());
  const std::vector<std::pair<const char *, std::string>> sheets = {
      {"missing_file", track + "  TRACK 02 AUDIO\n    INDEX 01 00:00:10\n"},
      {"missing_audio", "FILE \"nowhere.wav\" WAVE\n" + track},
      {"out_of_order", "FILE \"image.wav\" WAVE\n  TRACK 02 AUDIO\n    INDEX 01 00:00:20\n" + track},
      {"past_the_end", "FILE \"image.wav\" WAVE\n" + track + "  TRACK 02 AUDIO\n    INDEX 01 59:59:74\n"},
      {"duplicated", "FILE \"image.wav\" WAVE\n" + track + track + track},
      {"99_tracks", many},
      {"no_tracks", "FILE \"image.wav\" WAVE\nTITLE \"x\"\n"},
      {"bad_times", "FILE \"image.wav\" WAVE\n  TRACK 01 AUDIO\n    INDEX 01 aa:-1:999999999999\n"},
      {"huge_numbers", "FILE \"image.wav\" WAVE\n  TRACK 99999999999 AUDIO\n    INDEX 01 2147483647:99:99\n"},
      {"empty_values", "FILE\nTRACK\nINDEX 01\nTITLE\nPERFORMER\n"},
      {"garbage", garbage},
      {"utf8_bom", "\xef\xbb\xbf" "FILE \"image.wav\" WAVE\n" + track},
      {"utf16le_bom", std::string("\xff\xfe" "F\0I\0L\0E\0", 10)},
      {"utf16be_bom_odd", std::string("\xfe\xff\0F\0I\0L", 9)},
      {"cr_only", "FILE \"image.wav\" WAVE\r  TRACK 01 AUDIO\r    INDEX 01 00:00:00\r"},
      {"megabyte_line", longLine},
      {"empty", ""},
  };
  for (const auto &[name, text] : sheets) {
    const std::string sheet = In + "/" + name + ".cue";
    WriteText(sheet, text);
    ExpectCleanEnd(sheet, name, "image.wav");
    fs::remove(sheet);
  }
}

// Names with every awkward byte: each converts to an output of its own name.
TEST_F(HostileInputs, HostileNames) {
  std::string deep = In;
  for (int i = 0; i < 40; ++i) deep += "/deeper folder " + std::to_string(i);
  const std::vector<std::string> names = {
      "it's \"quoted\".wav", "  spaces  .wav", "-leading dash.wav", "--input.wav", "new\nline.wav", "invalid \xff\xfe utf8.wav", "*?[glob].wav", "$(echo x) `y`.wav",
      std::string(250, 'n') + ".wav",  // the longest name an output keeps whole (a companion file adds a letter)
      deep.substr(In.size() + 1) + "/a.wav",
  };
  for (const std::string &name : names) {
    SCOPED_TRACE(name);
    const std::string path = In + "/" + name;
    fs::create_directories(fs::path(path).parent_path());
    fs::copy_file(Wav, path, fs::copy_options::overwrite_existing);
    const int status = Run({path});
    EXPECT_EQ(status, 0) << Said;
    const std::string output = Out + "/" + fs::path(path).stem().string() + ".wav";
    if (status == 0) {  // decoded under a short name: ffmpeg's own files beside it may not get longer names
      fs::copy_file(output, Folder + "/check.wav", fs::copy_options::overwrite_existing);
      EXPECT_EQ(FFmpegDecode(Folder + "/check.wav", "s16le"), FFmpegDecode(Wav, "s16le"));
    }
    EXPECT_EQ(ReadFileBytes(path), ReadFileBytes(Wav));
  }
}

}  // namespace
