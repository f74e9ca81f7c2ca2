// SPDX-License-Identifier: GPL-3.0-or-later
// The source's tags and cover in every output: each tag-carrying source type and a CUE sheet's tracks, converted by the
// program into the formats pairwise, read back with ffprobe; /notags leaves only what the encoders write.
#include <fmt/printf.h>
#include <gtest/gtest.h>

#include <taglib/apefile.h>
#include <taglib/apetag.h>
#include <taglib/asffile.h>
#include <taglib/fileref.h>
#include <taglib/flacfile.h>
#include <taglib/flacpicture.h>
#include <taglib/vorbisfile.h>
#include <taglib/wavfile.h>
#include <taglib/wavpackfile.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <sstream>

#include "base/texts.h"
#include "encoders/format.h"
#include "tags/checked_file_stream.h"
#include "tags/cover_art.h"
#include "test_support.h"

namespace {

// The fields a source carries, by ffprobe's names.
using TFields = std::map<std::string, std::string>;
const TFields kSourceTags = {{"title", "Kreuzberg Nächte"}, {"artist", "Ensemble Ünder"}, {"album", "Live at the Hall"},
                             {"date", "1997"}, {"track", "7"}, {"genre", "Jazz"}, {"comment", "recorded in one take"}};

// ffprobe's format and audio stream tags (the first of each, names in lower case, other names of the same field as
// ffprobe's), and whether a stream is an attached picture.
// CoverKind: what the picture's own tag says it shows, where the format has one.
struct TProbe { TFields Tags; bool Cover = false; std::string CoverKind; };
TProbe Probe(const std::string &path) {
  std::string out, err;
  EXPECT_EQ(RunTool({"ffprobe", "-v", "error", "-show_entries",
                     "format_tags:stream=codec_type:stream_tags:stream_disposition=attached_pic", "-of", "default",
                     path}, &out, &err), 0) << path << ": " << err;
  const TFields same = {{"year", "date"}, {"wm/year", "date"}, {"tracknumber", "track"}, {"description", "comment"}};
  TProbe probe;
  std::istringstream lines(out);
  bool picture = false;  // the tags of a picture's stream describe the picture
  for (std::string line; std::getline(lines, line);) {
    if (line == "DISPOSITION:attached_pic=1") probe.Cover = true;
    if (line.starts_with("codec_type=")) picture = line == "codec_type=video";
    if (line.starts_with("[FORMAT]")) picture = false;
    if (picture && line.starts_with("TAG:comment=")) probe.CoverKind = line.substr(12);
    if (picture || !line.starts_with("TAG:")) continue;
    const size_t eq = line.find('=');
    std::string key = line.substr(4, eq - 4);
    std::transform(key.begin(), key.end(), key.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    probe.Tags.emplace(same.count(key) ? same.at(key) : key, line.substr(eq + 1));
  }
  return probe;
}

// What ffmpeg cannot put into a source, added with TagLib: the cover of Ogg, WavPack, APE and WMA sources, the tags of
// APE sources (made by this program), a Vorbis COMMENT (ffmpeg writes DESCRIPTION), the standard WMA year and comment.
void CompleteWithTagLib(const std::string &path, const std::string &png) {
  const std::vector<uint8_t> bytes = ReadFileBytes(png);
  const TagLib::ByteVector image(reinterpret_cast<const char *>(bytes.data()), unsigned(bytes.size()));
  const TagLib::String comment(kSourceTags.at("comment"), TagLib::String::UTF8);
  TagLib::FileRef ref(path.c_str(), false);
  ASSERT_FALSE(ref.isNull()) << path;
  if (auto *wma = dynamic_cast<TagLib::ASF::File *>(ref.file())) {
    TagLib::ASF::Picture picture;
    picture.setMimeType("image/png");
    picture.setType(TagLib::ASF::Picture::FrontCover);
    picture.setPicture(image);
    wma->tag()->setAttribute("WM/Picture", TagLib::ASF::Attribute(picture));
    wma->tag()->setComment(comment);
    wma->tag()->setAttribute("WM/Year", TagLib::ASF::Attribute(TagLib::String(kSourceTags.at("date"))));
  } else if (auto *flac = dynamic_cast<TagLib::FLAC::File *>(ref.file())) {
    flac->xiphComment(true)->addField("COMMENT", comment);
  } else if (auto *ogg = dynamic_cast<TagLib::Ogg::Vorbis::File *>(ref.file())) {
    ogg->tag()->addField("COMMENT", comment);
    auto *picture = new TagLib::FLAC::Picture;
    picture->setMimeType("image/png");
    picture->setType(TagLib::FLAC::Picture::FrontCover);
    picture->setData(image);
    ogg->tag()->addPicture(picture);
  } else {
    TagLib::APE::Tag *tag = nullptr;
    if (auto *ape = dynamic_cast<TagLib::APE::File *>(ref.file())) tag = ape->APETag(true);
    if (auto *wv = dynamic_cast<TagLib::WavPack::File *>(ref.file())) tag = wv->APETag(true);
    ASSERT_NE(tag, nullptr) << path;
    TagLib::ByteVector value("cover.png", 10);
    value.append(image);
    tag->setItem("Cover Art (Front)", TagLib::APE::Item("Cover Art (Front)", value, true));
    for (const auto &[key, text] : path.ends_with(".ape") ? kSourceTags : TFields{})  // WavPack's has ffmpeg's
      tag->addValue(key == "date" ? "Year" : key == "track" ? "Track" : key, TagLib::String(text, TagLib::String::UTF8));
  }
  ASSERT_TRUE(ref.save()) << path;
}

std::string Cover(const std::string &path, const char *size = "testsrc=s=32x32") {
  EXPECT_EQ(RunTool({"ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i", size, "-frames:v", "1", path}), 0);
  return path;
}

// Every source type and the sheet's tracks, each into two or three formats; every format from two or three sources.
TEST(OutputTags, SourceTypesIntoFormatsPairwise) {
  const std::string f = TestProfileFolder(), png = Cover(f + "/cover.png");
  const TTestSignal music{.Music = true};
  // ffmpeg writes the tags of each, and the cover where its muxer takes one.
  for (const auto &[type, codec] : std::map<std::string, std::string>{{"flac", "flac"}, {"mp3", "libmp3lame"},
                                                                       {"m4a", "aac"}, {"ogg", "libvorbis"},
                                                                       {"wv", "wavpack"}, {"wma", "wmav2"}}) {
    std::vector<std::string> args;
    if (type == "flac" || type == "mp3" || type == "m4a")
      args = {"-i", png, "-map", "0:a", "-map", "1:v", "-c:v", "copy", "-disposition:v", "attached_pic"};
    args.insert(args.end(), {"-c:a", codec});
    for (const auto &[key, text] : kSourceTags) args.insert(args.end(), {"-metadata", key + "=" + text});
    fs::create_directories(f + "/in");
    const std::string source = WriteSignal(f + "/in/s_" + type + "." + type, music, args);
    if (type != "mp3" && type != "m4a") CompleteWithTagLib(source, png);
  }
  // No ffmpeg encoder writes Monkey's Audio: ours does, tagged afterwards with TagLib.
  const std::string wav = WriteSignal(f + "/s_ape.wav", music);
  ASSERT_EQ(Tonmill({"/q", "/notags", "/input", wav, "/output", f + "/in", "/dest", "ape"}), 0);
  CompleteWithTagLib(f + "/in/s_ape.ape", png);
  // A sheet over a copy of the FLAC source: two tracks with their own title and performer.
  fs::create_directories(f + "/sheet");
  fs::copy_file(f + "/in/s_flac.flac", f + "/sheet/image.flac");
  WriteText(f + "/sheet/image.cue", "PERFORMER \"Sheet Artist\"\nTITLE \"Sheet Album\"\nFILE \"image.flac\" WAVE\n"
                                    "  TRACK 01 AUDIO\n    TITLE \"Erster Teil\"\n    PERFORMER \"Spieler Eins\"\n"
                                    "    INDEX 01 00:00:00\n  TRACK 02 AUDIO\n    TITLE \"Zweiter Teil\"\n"
                                    "    PERFORMER \"Spielerin Zwei\"\n    INDEX 01 00:00:40\n");
  // The outputs of the sources (and the sheet) in Format, by name ("s_flac", "01 - Erster Teil").
  auto convert = [&](const std::string &format, bool tags, const std::vector<std::string> &sources, bool sheet) {
    const std::string out = f + "/out-" + format + (tags ? "" : "-plain");
    std::vector<std::string> args = {"/q", "/input"};
    for (const std::string &s : sources) args.push_back(f + "/in/" + s + "." + s.substr(2));
    if (sheet) args.push_back(f + "/sheet/image.cue");
    args.insert(args.end(), {"/output", out, "/dest", format, "/p", "2"});
    if (!tags) args.push_back("/notags");
    std::string err;
    EXPECT_EQ(Tonmill(args, &err), 0) << err;
    std::map<std::string, std::string> outputs;
    for (const auto &entry : fs::directory_iterator(out)) outputs[entry.path().stem().string()] = entry.path().string();
    return outputs;
  };

  // Each format from the next two sources in turn, every other one with the sheet.
  const std::string sources[] = {"s_flac", "s_wma", "s_mp3", "s_ape", "s_m4a", "s_ogg", "s_wv"};
  size_t turn = 0;
  for (const TFormatRow *format_row : FormatRows()) {
    if (!format_row->CreateCoder) continue;
    const std::vector<std::string> pair = {sources[2 * turn % 7], sources[(2 * turn + 1) % 7]};
    const bool sheet = turn++ % 2 == 0;
    std::string format = format_row->Name;
    std::transform(format.begin(), format.end(), format.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    SCOPED_TRACE(format);
    const auto tagged = convert(format, true, pair, sheet), plain = convert(format, false, pair, sheet);
    ASSERT_EQ(tagged.size(), pair.size() + (sheet ? 2 : 0));
    std::map<std::string, TFields> expected;
    if (sheet)
      expected = {{"01 - Erster Teil", {{"title", "Erster Teil"}, {"artist", "Spieler Eins"}, {"album", "Sheet Album"}, {"track", "1"}}},
                  {"02 - Zweiter Teil", {{"title", "Zweiter Teil"}, {"artist", "Spielerin Zwei"}, {"album", "Sheet Album"}, {"track", "2"}}}};
    for (const std::string &s : pair) expected[s] = kSourceTags;
    for (const auto &[name, want] : expected) {
      SCOPED_TRACE(name);
      ASSERT_TRUE(tagged.count(name) && plain.count(name));
      const std::string &path = tagged.at(name);
      // Every field in the format's own tags, and the front cover byte for byte.
      const TProbe probe = Probe(path);
      for (const auto &[key, value] : want) {
        const auto it = probe.Tags.find(key);
        EXPECT_TRUE(it != probe.Tags.end() && (it->second == value || it->second.starts_with(value + "/")))
            << key << " = " << (it == probe.Tags.end() ? "(none)" : it->second);
      }
      ASSERT_TRUE(probe.Cover);
      EXPECT_TRUE(probe.CoverKind.empty() || probe.CoverKind == "Cover (front)") << probe.CoverKind;
      ASSERT_EQ(RunTool({"ffmpeg", "-v", "error", "-y", "-i", path, "-map", "0:v", "-c", "copy", "-f", "image2", path + ".png"}), 0);
      EXPECT_EQ(ReadFileBytes(path + ".png"), ReadFileBytes(png));
      const std::vector<uint8_t> bytes = ReadFileBytes(path), bare = ReadFileBytes(plain.at(name));
      if (format == "mp3") {  // ID3v2.4 at the head, then the file written without tags (no ID3v1 either), byte for byte
        EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 4), std::string("ID3\x04", 4));
        EXPECT_EQ(std::string(bytes.end() - 128, bytes.end() - 125), "TAG");
        ASSERT_GT(bytes.size(), bare.size() + 128);
        EXPECT_TRUE(std::equal(bare.begin(), bare.end(), bytes.end() - 128 - std::ptrdiff_t(bare.size())));
      }
      if (format == "wav") {  // RIFF INFO beside the ID3 chunk
        TagLib::RIFF::WAV::File file(path.c_str(), false);
        EXPECT_EQ(file.InfoTag()->title().to8Bit(true) + "|" + file.InfoTag()->artist().to8Bit(true) + "|" +
                      std::to_string(file.InfoTag()->track()),
                  want.at("title") + "|" + want.at("artist") + "|" + want.at("track"));
        EXPECT_TRUE(file.hasID3v2Tag());
      }
      // The audio is what the same run without tags writes.
      const std::vector<uint8_t> sound = FFmpegDecode(path, "s16le"), plainSound = FFmpegDecode(plain.at(name), "s16le");
      EXPECT_GT(sound.size(), 10000u);
      const bool lossless = format_row->Lossless && format_row->Lossless(nullptr);
      EXPECT_TRUE(lossless ? sound == plainSound : sound.size() == plainSound.size());
      // Without tags: nothing but what the encoders write (MP3's ID3v1 block, WMA's attributes).
      const TProbe none = Probe(plain.at(name));
      EXPECT_FALSE(none.Cover);
      EXPECT_NE(std::string(bare.begin(), bare.begin() + 3), "ID3");
      for (const auto &[key, value] : want)
        EXPECT_TRUE(format == "mp3" || format == "wma" || !none.Tags.count(key)) << key;
    }
  }
}

// Pictures are carried only whole: each kind of cover as written, cut short anywhere, or stating more than its bytes.
TEST(CoverPictures, OnlyWholeImagesReadAsImages) {
  const std::string folder = TestFolder();
  for (const char *ext : {"png", "jpg", "gif", "bmp", "webp"}) {
    const std::vector<uint8_t> bytes = ReadFileBytes(Cover(folder + "/cover." + ext, "testsrc=s=48x32"));
    const std::string image(bytes.begin(), bytes.end());
    EXPECT_TRUE(ReadsAsImage(image)) << ext;
    for (const size_t keep : {size_t(12), image.size() / 2, image.size() - 1})
      EXPECT_FALSE(ReadsAsImage(image.substr(0, keep))) << ext << ": " << keep << " of " << image.size();
  }
  EXPECT_FALSE(ReadsAsImage("a text that is no picture at all"));
  EXPECT_FALSE(ReadsAsImage(std::string("\x89PNG\r\n\x1a\n\0\0\0\x0dIHDR", 16) + std::string(17, '\0') +
                            std::string("\xff\xff\xff\xf0IDAT", 8)));  // a chunk larger than the rest
  EXPECT_FALSE(ReadsAsImage(""));
}

// A source whose cover is cut short or states more image than its block holds: outputs without picture, each said.
TEST(CoverPictures, ADamagedCoverIsLeftOutAndSaid) {
  const std::string folder = TestProfileFolder(), png = Cover(folder + "/cover.png", "testsrc=s=64x64");
  const std::vector<uint8_t> whole = ReadFileBytes(png);
  const std::string cut = CutInHalf(WriteText(folder + "/cut.png", ReadText(png)));
  fs::create_directories(folder + "/in");
  for (const std::string name : {"cut", "overlong", "whole"}) {
    const std::string path = WriteSignal(folder + "/in/" + name + ".flac", TTestSignal{}, {"-c:a", "flac"});
    ASSERT_EQ(RunTool({"metaflac", "--import-picture-from=3||||" + (name == "cut" ? cut : png), path}), 0);
    if (name != "overlong") continue;
    // The picture's own length field says 1000 bytes more than its block holds.
    std::vector<uint8_t> bytes = ReadFileBytes(path);
    const auto at = std::search(bytes.begin(), bytes.end(), whole.begin(), whole.begin() + 8);
    ASSERT_NE(at, bytes.end());
    const uint32_t claimed = uint32_t(whole.size()) + 1000;
    for (int i = 0; i < 4; ++i) *(at - 4 + i) = uint8_t(claimed >> (24 - 8 * i));
    WriteFileBytes(path, bytes);
  }
  for (const std::string format : {"flac", "mp3"}) {
    std::string err;
    EXPECT_EQ(Tonmill({"/input", folder + "/in", "/output", folder + "/out", "/dest", format}, &err), 0) << err;
    for (const std::string name : {"cut", "overlong", "whole"}) {
      SCOPED_TRACE(format + " from " + name);
      const std::string output = folder + "/out/" + name + "." + format;
      EXPECT_EQ(Probe(output).Cover, name == "whole");
      const double frames = double(FFmpegDecode(output, "s16le").size() / 4);  // the audio is whole
      EXPECT_NEAR(frames, double(FrameCount(TTestSignal{})), format == "mp3" ? 3 * 1152 : 0);
      EXPECT_EQ(err.find(folder + "/in/" + name + ".flac: " + text_cover_left_out) != std::string::npos, name != "whole") << err;
    }
  }
}

// Room made and taken back in the middle of a file longer than the blocks bytes move in; the rest stays byte for byte.
TEST(CheckedFileStream, InsertAndRemoveKeepTheRest) {
  const std::string path = TestFolder() + "/big.bin";
  const std::vector<uint8_t> original = MakeSamples({.Seconds = 14});  // 2.5 MB
  WriteFileBytes(path, original);
  std::vector<uint8_t> expected = original;
  auto edit = [&](auto change) {
    TCheckedFileStream stream(path);
    change(stream);
    stream.Close();
    EXPECT_TRUE(ReadFileBytes(path) == expected);
  };
  expected.insert(expected.begin() + 7, 3000, 'h');
  edit([&](TCheckedFileStream &s) { s.insert(TagLib::ByteVector(3000, 'h'), 7, 0); });  // grows
  expected.erase(expected.begin() + 7, expected.begin() + 3007);
  expected.insert(expected.begin() + 7, 10, 's');
  edit([&](TCheckedFileStream &s) { s.insert(TagLib::ByteVector(10, 's'), 7, 3000); });  // shrinks
  expected = original;
  edit([&](TCheckedFileStream &s) { s.removeBlock(7, 10); });
  // A tag at the end is found and rewritten from there.
  std::fill(expected.end() - 2, expected.end(), 'z');
  edit([&](TCheckedFileStream &s) {
    s.seek(-4, TagLib::IOStream::End);
    EXPECT_EQ(s.readBlock(4), TagLib::ByteVector(reinterpret_cast<const char *>(&original[original.size() - 4]), 4));
    s.seek(-2, TagLib::IOStream::End);
    s.writeBlock(TagLib::ByteVector(2, 'z'));
  });
}

}  // namespace

// Loudness tags (/replaygain), measured while converting, against loudgain measuring the outputs: each kind of source
// into a format, alone in its folder (an album of one), and a sheet of twelve tracks, each two seconds at its own level
// and pitch, as an album.
TEST(ReplayGain, TagsMatchLoudgainOnTheOutputs) {
  if (RunTool({"loudgain", "--version"}) != 0) GTEST_SKIP() << "loudgain is not installed";
  const std::string f = TestProfileFolder();
  // loudgain's findings by file name, the album's as "Album": loudness gain and true peak.
  struct TFound { double Gain, Peak; };
  auto loudgain = [](const std::vector<std::string> &files) {
    std::vector<std::string> args = {"loudgain", "-q", "-O", "-a"};
    args.insert(args.end(), files.begin(), files.end());
    std::string out, err;
    EXPECT_EQ(RunTool(args, &out, &err), 0) << err;
    std::map<std::string, TFound> found;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);) {
      std::vector<std::string> cells;
      std::istringstream row(line);
      for (std::string cell; std::getline(row, cell, '\t');) cells.push_back(cell);
      if (cells.size() < 9 || cells[0] == "File") continue;
      found[cells[0] == "Album" ? "Album" : fs::path(cells[0]).filename().string()] = {std::stod(cells[8]), std::stod(cells[3])};
    }
    return found;
  };
  // The tags of an output against loudgain's findings: gains within 0.1 dB, peaks within Peaks (relative: lossy outputs
  // decode a little off).
  auto check = [](const std::string &path, const TFound &track, const TFound &album, double peaks) {
    SCOPED_TRACE(path);
    const TFields tags = Probe(path).Tags;
    auto value = [&](const std::string &key) { return tags.count(key) ? std::stod(tags.at(key)) : 1e9; };  // 1e9: none
    if (path.ends_with(".opus")) {  // Q7.8 gains to -23 LUFS, as loudgain gives them for Opus
      EXPECT_NEAR(value("r128_track_gain") / 256, track.Gain, 0.1);
      EXPECT_NEAR(value("r128_album_gain") / 256, album.Gain, 0.1);
      EXPECT_FALSE(tags.count("replaygain_track_gain"));
      return;
    }
    EXPECT_TRUE(tags.count("replaygain_track_gain") && tags.at("replaygain_track_gain").ends_with(" dB"));
    EXPECT_NEAR(value("replaygain_track_gain"), track.Gain, 0.1);
    EXPECT_NEAR(value("replaygain_album_gain"), album.Gain, 0.1);
    EXPECT_NEAR(value("replaygain_track_peak"), track.Peak, track.Peak * peaks);
    EXPECT_NEAR(value("replaygain_album_peak"), album.Peak, album.Peak * peaks);
  };
  // bs1770gain, for outputs whose floats go beyond full scale (loudgain cuts them there).
  auto bs1770gain = [](const std::string &file) {
    std::string out, err;
    EXPECT_EQ(RunTool({"bs1770gain", "-it", file}, &out, &err), 0) << err;
    const size_t integrated = out.find("integrated"), peak = out.find("true peak");
    if (integrated == std::string::npos || peak == std::string::npos) return TFound{1e9, 1e9};
    const double loudness = std::stod(out.substr(out.find(':', integrated) + 1));
    return TFound{-18 - loudness, std::stod(out.substr(out.find('/', peak) + 1))};
  };
  const std::string stereo = "0.6*sin(2*PI*220*t)*(0.6+0.4*sin(2*PI*0.7*t))+0.2*sin(2*PI*1760*t)";
  const std::string clipped = "aevalsrc=2*sin(2*PI*997*t)|1.4*sin(2*PI*500*t):s=48000:d=8";
  // Its fifth channel peaks between samples: at a quarter of the rate, 45 degrees off them.
  const std::string surround = "aevalsrc=" + stereo + "|0.3*sin(2*PI*330*t)|0.5*sin(2*PI*440*t)|0.5*sin(2*PI*50*t)|"
                               "0.9*sin(2*PI*12000*t+PI/4)|0.1*sin(2*PI*880*t):s=48000:d=8:c=5.1";
  const std::string level = "(0.03+0.08*mod(floor(t/2)*5\\,12))*sin(2*PI*(150+70*floor(t/2))*t)";
  const std::string levels = "aevalsrc=" + level + "|" + level + ":s=44100:d=24";
  // FloatsKept: the output holds the source's floats beyond full scale.
  const struct { const char *Name; std::string Signal; const char *Codec, *Format; std::vector<std::string> Keys;
                 double Peaks; bool FloatsKept; } rows[] = {
      {"quiet", "anoisesrc=c=pink:a=0.0316:r=44100:d=8", "pcm_s16le", "flac", {}, 0.002, false},
      {"loud", "aevalsrc=1.5*(" + stereo + ")|0.9*sin(2*PI*330*t):s=44100:d=8", "pcm_s16le", "mp3", {}, 0.05, false},
      {"clipped", clipped, "pcm_f32le", "flac", {}, 0.002, false},
      {"clipped", clipped, "pcm_f32le", "wavpack", {}, 0.002, true},
      {"mono", "aevalsrc=0.3*sin(2*PI*440*t)+0.05*sin(2*PI*3000*t):s=48000:d=8", "pcm_s16le", "opus", {}, 0, false},
      {"surround", surround, "pcm_s24le", "alac", {}, 0.002, false},
      {"surround", surround, "pcm_s24le", "aac", {"/container", "m4a"}, 0.05, false},
      {"sheet", levels, "pcm_s16le", "flac", {"/p", "3"}, 0.002, false},
      {"sheet", levels, "pcm_s16le", "mp3", {"/p", "3"}, 0.05, false},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(std::string(row.Name) + " into " + row.Format);
    const std::string in = f + "/in-" + row.Name + "-" + row.Format, out = f + "/out-" + row.Name + "-" + row.Format;
    fs::create_directories(in);
    ASSERT_EQ(RunTool({"ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i", row.Signal, "-c:a", row.Codec,
                       in + "/" + row.Name + ".wav"}), 0);
    const bool album = row.Name == std::string("sheet");
    std::string sheet = "TITLE \"Levels\"\nFILE \"sheet.wav\" WAVE\n";
    for (int k = 0; album && k < 12; ++k)
      sheet += fmt::sprintf("  TRACK %02d AUDIO\n    TITLE \"Level %d\"\n    INDEX 01 00:%02d:00\n", k + 1, k + 1, k * 2);
    std::vector<std::string> args = {"/q", "/replaygain", "/input", album ? WriteText(in + "/sheet.cue", sheet) : in,
                                     "/output", out, "/dest", row.Format};
    args.insert(args.end(), row.Keys.begin(), row.Keys.end());
    std::string err;
    ASSERT_EQ(Tonmill(args, &err), 0) << err;
    std::vector<std::string> outputs;
    for (const auto &entry : fs::directory_iterator(out)) outputs.push_back(entry.path().string());
    ASSERT_EQ(outputs.size(), album ? 12u : 1u);
    const auto found = row.FloatsKept ? std::map<std::string, TFound>{} : loudgain(outputs);
    for (const std::string &output : outputs) {  // an album of one: its values are the track's
      const TFound track = row.FloatsKept ? bs1770gain(output) : found.at(fs::path(output).filename().string());
      check(output, track, row.FloatsKept ? track : found.at("Album"), row.Peaks);
    }
  }
}
