// SPDX-License-Identifier: GPL-3.0-or-later
// The source's tags and cover in every output: every tag-carrying source type
// and a CUE track, converted by the real program into each of the eight
// formats, read back with ffprobe and with TagLib; /notags leaves the outputs
// with only what their encoders write.
#include <gtest/gtest.h>

#include <taglib/apefile.h>
#include <taglib/apetag.h>
#include <taglib/asffile.h>
#include <taglib/asftag.h>
#include <taglib/fileref.h>
#include <taglib/flacfile.h>
#include <taglib/flacpicture.h>
#include <taglib/vorbisfile.h>
#include <taglib/xiphcomment.h>
#include <taglib/id3v2tag.h>
#include <taglib/infotag.h>
#include <taglib/mpegfile.h>
#include <taglib/tbytevectorstream.h>
#include <taglib/tpropertymap.h>
#include <taglib/wavfile.h>
#include <taglib/wavpackfile.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <cctype>
#include <filesystem>
#include <map>
#include <sstream>

#include "base/texts.h"
#include "tags/cover_art.h"
#include "test_support.h"

namespace fs = std::filesystem;

namespace {

// The fields a source carries, by ffprobe's names.
using TFields = std::map<std::string, std::string>;
const TFields kSourceTags = {{"title", "Kreuzberg Nächte"}, {"artist", "Ensemble Ünder"},
                             {"album", "Live at the Hall"}, {"date", "1997"},
                             {"track", "7"},                {"genre", "Jazz"},
                             {"comment", "recorded in one take"}};
// TagLib's names of the same fields.
const std::map<std::string, std::string> kTagLibName = {
    {"title", "TITLE"}, {"artist", "ARTIST"}, {"album", "ALBUM"},   {"date", "DATE"},
    {"track", "TRACKNUMBER"}, {"genre", "GENRE"}, {"comment", "COMMENT"}};

std::string Lower(std::string s) {
  for (char &c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// ffprobe's format and audio stream tags (names in lower case, the first of each;
// "year" and "WM/Year" read as "date", "tracknumber" as "track", "description"
// as "comment")
// and whether a stream is an attached picture.
struct TProbe {
  TFields Tags;
  bool Cover = false;
};
TProbe Probe(const std::string &path) {
  std::string out, err;
  EXPECT_EQ(RunTool({"ffprobe", "-v", "error", "-show_entries",
                     "format_tags:stream=codec_type:stream_tags:stream_disposition=attached_pic", "-of",
                     "default", path},
                    &out, &err),
            0)
      << path << ": " << err;
  TProbe probe;
  std::istringstream lines(out);
  const std::map<std::string, std::string> same = {
      {"year", "date"}, {"wm/year", "date"}, {"tracknumber", "track"}, {"description", "comment"}};
  bool picture = false;  // the tags of a picture's stream describe the picture
  for (std::string line; std::getline(lines, line);) {
    if (line == "DISPOSITION:attached_pic=1") probe.Cover = true;
    if (line.starts_with("codec_type=")) picture = line == "codec_type=video";
    if (line.starts_with("[FORMAT]")) picture = false;
    if (picture || !line.starts_with("TAG:")) continue;
    const size_t eq = line.find('=');
    std::string key = Lower(line.substr(4, eq - 4));
    if (same.count(key)) key = same.at(key);
    probe.Tags.emplace(key, line.substr(eq + 1));
  }
  return probe;
}

// TagLib's reading of the output's own tags (AAC: the ID3v2 tag at its head).
TagLib::PropertyMap TagLibFields(const std::string &path) {
  if (path.ends_with(".aac")) {
    TagLib::ByteVectorStream stream(TagLib::ByteVector(reinterpret_cast<const char *>(ReadFileBytes(path).data()),
                                                       unsigned(fs::file_size(path))));
    TagLib::MPEG::File file(&stream, TagLib::ID3v2::FrameFactory::instance(), false);
    return file.ID3v2Tag() ? file.ID3v2Tag()->properties() : TagLib::PropertyMap();
  }
  TagLib::FileRef ref(path.c_str(), false);
  return ref.isNull() ? TagLib::PropertyMap() : ref.file()->properties();
}

std::string Decoded(const std::string &path) {
  const std::vector<uint8_t> bytes = FFmpegDecode(path, "s16le");
  return std::string(bytes.begin(), bytes.end());
}

// What ffmpeg cannot put into a source, added with TagLib: the cover of
// Ogg, WavPack, APE and WMA sources, the tags of APE sources (made by this
// program), a Vorbis COMMENT (ffmpeg writes its comment as DESCRIPTION) and
// the standard WMA year and comment.
void CompleteWithTagLib(const std::string &path, const std::string &png) {
  const std::vector<uint8_t> bytes = ReadFileBytes(png);
  const TagLib::ByteVector image(reinterpret_cast<const char *>(bytes.data()), unsigned(bytes.size()));
  const TagLib::String comment(kSourceTags.at("comment"), TagLib::String::UTF8);
  TagLib::FileRef ref(path.c_str(), false);
  ASSERT_FALSE(ref.isNull()) << path;
  TagLib::File *file = ref.file();
  if (auto *wma = dynamic_cast<TagLib::ASF::File *>(file)) {
    TagLib::ASF::Picture picture;
    picture.setMimeType("image/png");
    picture.setType(TagLib::ASF::Picture::FrontCover);
    picture.setPicture(image);
    wma->tag()->setAttribute("WM/Picture", TagLib::ASF::Attribute(picture));
    // ffmpeg keeps the year and comment in attributes of its own names.
    wma->tag()->setComment(comment);
    wma->tag()->setAttribute("WM/Year", TagLib::ASF::Attribute(TagLib::String(kSourceTags.at("date"))));
  } else if (auto *flac = dynamic_cast<TagLib::FLAC::File *>(file)) {
    flac->xiphComment(true)->addField("COMMENT", comment);
  } else if (auto *ogg = dynamic_cast<TagLib::Ogg::Vorbis::File *>(file)) {
    ogg->tag()->addField("COMMENT", comment);
    auto *picture = new TagLib::FLAC::Picture;
    picture->setMimeType("image/png");
    picture->setType(TagLib::FLAC::Picture::FrontCover);
    picture->setData(image);
    ogg->tag()->addPicture(picture);
  } else {
    TagLib::APE::Tag *tag = nullptr;
    if (auto *ape = dynamic_cast<TagLib::APE::File *>(file)) tag = ape->APETag(true);
    if (auto *wv = dynamic_cast<TagLib::WavPack::File *>(file)) tag = wv->APETag(true);
    ASSERT_NE(tag, nullptr) << path;
    TagLib::ByteVector value("cover.png", 10);
    value.append(image);
    tag->setItem("Cover Art (Front)", TagLib::APE::Item("Cover Art (Front)", value, true));
    for (const auto &[key, text] : kSourceTags)
      if (tag->itemListMap().isEmpty() || path.ends_with(".ape"))
        tag->addValue(key == "date" ? "Year" : key == "track" ? "Track" : key, TagLib::String(text, TagLib::String::UTF8));
  }
  ASSERT_TRUE(ref.save()) << path;
}

class OutputTags : public ::testing::Test {
 protected:
  // The sources, each with the tags and cover.
  void SetUp() override {
    Folder = TestProfileFolder();
    const std::string &f = Folder;
    const std::string wav = WriteMusic(f + "/plain.wav", TTestSignal{});
    Cover = f + "/cover.png";
    ASSERT_EQ(RunTool({"ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i", "testsrc=s=32x32", "-frames:v", "1",
                       Cover}),
              0);
    fs::create_directories(f + "/in");
    std::vector<std::string> meta;
    for (const auto &[key, text] : kSourceTags) meta.insert(meta.end(), {"-metadata", key + "=" + text});
    // ffmpeg writes the tags of each, and the cover of those whose muxer takes one.
    const std::vector<std::pair<std::string, std::vector<std::string>>> made = {
        {"flac", {"-c:a", "flac"}}, {"mp3", {"-c:a", "libmp3lame"}}, {"m4a", {"-c:a", "aac"}},
        {"ogg", {"-c:a", "libvorbis"}}, {"wv", {"-c:a", "wavpack"}}, {"wma", {"-c:a", "wmav2"}}};
    for (const auto &[type, codec] : made) {
      const bool picture = type == "flac" || type == "mp3" || type == "m4a";
      std::vector<std::string> argv = {"ffmpeg", "-v", "error", "-y", "-i", wav};
      if (picture) argv.insert(argv.end(), {"-i", Cover, "-map", "0:a", "-map", "1:v", "-c:v", "copy",
                                            "-disposition:v", "attached_pic"});
      argv.insert(argv.end(), codec.begin(), codec.end());
      argv.insert(argv.end(), meta.begin(), meta.end());
      argv.push_back(f + "/in/s_" + type + "." + type);
      ASSERT_EQ(RunTool(argv), 0) << type;
    }
    for (const char *type : {"flac", "ogg", "wv", "wma"})
      CompleteWithTagLib(f + "/in/s_" + std::string(type) + "." + type, Cover);
    // No ffmpeg encoder writes Monkey's Audio: ours does, tagged afterwards with TagLib.
    fs::copy_file(wav, f + "/s_ape.wav");
    std::string err;
    ASSERT_EQ(RunTool({TONMILL_BINARY, "/q", "/notags", "/input", f + "/s_ape.wav", "/output", f + "/in",
                       "/dest", "ape"}, nullptr, &err), 0) << err;
    CompleteWithTagLib(f + "/in/s_ape.ape", Cover);
    // A sheet over a copy of the FLAC source: two tracks with their own title and performer.
    fs::create_directories(f + "/sheet");
    fs::copy_file(f + "/in/s_flac.flac", f + "/sheet/image.flac");
    WriteText(f + "/sheet/image.cue",
              "PERFORMER \"Sheet Artist\"\nTITLE \"Sheet Album\"\nFILE \"image.flac\" WAVE\n"
              "  TRACK 01 AUDIO\n    TITLE \"Erster Teil\"\n    PERFORMER \"Spieler Eins\"\n"
              "    INDEX 01 00:00:00\n  TRACK 02 AUDIO\n    TITLE \"Zweiter Teil\"\n"
              "    PERFORMER \"Spielerin Zwei\"\n    INDEX 01 00:00:40\n");
  }

  // Converts every source into Format; returns the outputs by name ("s_flac",
  // "01 - Erster Teil", ...).
  std::map<std::string, std::string> Convert(const std::string &format, bool tags) {
    const std::string out = Folder + "/out-" + format + (tags ? "" : "-plain");
    std::vector<std::string> argv = {TONMILL_BINARY, "/q", "/input", Folder + "/in",
                                     Folder + "/sheet/image.cue", "/output", out, "/dest", format, "/p", "2"};
    if (!tags) argv.push_back("/notags");
    std::string err;
    EXPECT_EQ(RunTool(argv, nullptr, &err), 0) << err;
    std::map<std::string, std::string> outputs;
    for (const auto &entry : fs::directory_iterator(out)) {
      const std::string path = entry.path().string();
      outputs[entry.path().stem().string()] = path;
    }
    return outputs;
  }

  std::string Folder, Cover;
};

TEST_F(OutputTags, EverySourceTypeIntoEveryFormat) {
  const std::vector<std::string> sources = {"s_flac", "s_mp3", "s_m4a", "s_ogg", "s_wv", "s_wma", "s_ape"};
  TFields first = {{"title", "Erster Teil"}, {"artist", "Spieler Eins"}, {"album", "Sheet Album"}, {"track", "1"}};
  TFields second = {{"title", "Zweiter Teil"}, {"artist", "Spielerin Zwei"}, {"album", "Sheet Album"}, {"track", "2"}};
  const std::vector<uint8_t> coverBytes = ReadFileBytes(Cover);
  for (const std::string format : {"mp3", "wma", "ogg", "ape", "flac", "wavpack", "aac", "wav"}) {
    SCOPED_TRACE(format);
    const auto tagged = Convert(format, true);
    const auto plain = Convert(format, false);
    ASSERT_EQ(tagged.size(), sources.size() + 2);
    std::map<std::string, TFields> expected = {{"01 - Erster Teil", first}, {"02 - Zweiter Teil", second}};
    for (const std::string &s : sources) expected[s] = kSourceTags;
    for (const auto &[name, want] : expected) {
      SCOPED_TRACE(name);
      ASSERT_TRUE(tagged.count(name) && plain.count(name));
      const std::string &path = tagged.at(name);
      // ffprobe: every field, and the cover byte for byte.
      const TProbe probe = Probe(path);
      for (const auto &[key, value] : want) {
        const auto it = probe.Tags.find(key);
        EXPECT_TRUE(it != probe.Tags.end() && (it->second == value || it->second.starts_with(value + "/")))
            << key << " = " << (it == probe.Tags.end() ? "(none)" : it->second);
      }
      ASSERT_TRUE(probe.Cover);
      const std::string image = path + ".png";
      ASSERT_EQ(RunTool({"ffmpeg", "-v", "error", "-y", "-i", path, "-map", "0:v", "-c", "copy", "-f", "image2",
                         image}),
                0);
      EXPECT_EQ(ReadFileBytes(image), coverBytes);
      // TagLib: every field in the format's own tags.
      const TagLib::PropertyMap fields = TagLibFields(path);
      for (const auto &[key, value] : want) {
        const auto it = fields.find(kTagLibName.at(key));
        EXPECT_TRUE(it != fields.end() && !it->second.isEmpty() &&
                    it->second.front().to8Bit(true).starts_with(value))
            << kTagLibName.at(key) << " = " << (it == fields.end() ? "(none)" : it->second.toString().to8Bit(true));
      }
      const std::vector<uint8_t> bytes = ReadFileBytes(path);
      if (format == "mp3") {  // ID3v2.4 at the head, the ID3v1 block still at the end
        EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 4), std::string("ID3\x04", 4));
        EXPECT_EQ(std::string(bytes.end() - 128, bytes.end() - 125), "TAG");
        // Between them, the file written without tags (no ID3v1 either), byte for byte.
        const std::vector<uint8_t> bare = ReadFileBytes(plain.at(name));
        ASSERT_GT(bytes.size(), bare.size() + 128);
        EXPECT_TRUE(std::equal(bare.begin(), bare.end(), bytes.end() - 128 - std::ptrdiff_t(bare.size())));
      }
      if (format == "wav") {  // RIFF INFO beside the ID3 chunk
        TagLib::RIFF::WAV::File wav(path.c_str(), false);
        EXPECT_EQ(wav.InfoTag()->title().to8Bit(true), want.at("title"));
        EXPECT_EQ(wav.InfoTag()->artist().to8Bit(true), want.at("artist"));
        EXPECT_EQ(wav.InfoTag()->track(), unsigned(std::stoi(want.at("track"))));
        EXPECT_TRUE(wav.hasID3v2Tag());
      }
      if (format == "aac") {
        EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 3), "ID3");
      }
      // The audio is what the same run without tags writes.
      const std::string sound = Decoded(path), plainSound = Decoded(plain.at(name));
      EXPECT_GT(sound.size(), 10000u);
      if (format == "flac" || format == "ape" || format == "wavpack" || format == "wav") {
        EXPECT_TRUE(sound == plainSound);
      } else {
        EXPECT_EQ(sound.size(), plainSound.size());
      }

      // Without tags: nothing but what the encoders write (MP3's ID3v1 block,
      // WMA's attributes).
      const TProbe bare = Probe(plain.at(name));
      EXPECT_FALSE(bare.Cover);
      const std::vector<uint8_t> plainBytes = ReadFileBytes(plain.at(name));
      EXPECT_NE(std::string(plainBytes.begin(), plainBytes.begin() + 3), "ID3");
      if (format == "mp3" || format == "wma") continue;
      for (const auto &[key, value] : want) EXPECT_EQ(bare.Tags.count(key), 0u) << key;
    }
  }
}

}  // namespace

namespace {

// Pictures are carried only whole: each kind a cover comes in, as written and
// cut short anywhere, or with a stated size beyond its bytes.
TEST(CoverPictures, OnlyWholeImagesReadAsImages) {
  const std::string folder = TestFolder();
  for (const char *ext : {"png", "jpg", "gif", "bmp", "webp"}) {
    SCOPED_TRACE(ext);
    const std::string path = folder + "/cover." + ext;
    ASSERT_EQ(RunTool({"ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i", "testsrc=s=48x32", "-frames:v", "1",
                       path}),
              0);
    const std::vector<uint8_t> bytes = ReadFileBytes(path);
    const std::string image(bytes.begin(), bytes.end());
    EXPECT_TRUE(ReadsAsImage(image));
    for (const size_t keep : {size_t(12), image.size() / 2, image.size() - 1})
      EXPECT_FALSE(ReadsAsImage(image.substr(0, keep))) << keep << " of " << image.size();
  }
  EXPECT_FALSE(ReadsAsImage("a text that is no picture at all"));
  EXPECT_FALSE(ReadsAsImage(std::string("\x89PNG\r\n\x1a\n\0\0\0\x0dIHDR", 16) + std::string(17, '\0') +
                            std::string("\xff\xff\xff\xf0IDAT", 8)));  // a chunk larger than the rest
  EXPECT_FALSE(ReadsAsImage(""));
}

// A source whose cover is cut short, or whose picture block states more image
// than it holds: its outputs carry no picture, and the run says so of each.
TEST(CoverPictures, ADamagedCoverIsLeftOutAndSaid) {
  const std::string folder = TestProfileFolder();
  const std::string png = folder + "/cover.png";
  ASSERT_EQ(RunTool({"ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i", "testsrc=s=64x64", "-frames:v", "1", png}),
            0);
  const std::vector<uint8_t> whole = ReadFileBytes(png);
  fs::copy_file(png, folder + "/cut.png");
  CutInHalf(folder + "/cut.png");
  fs::create_directories(folder + "/in");
  const std::string wav = WriteSignal(folder + "/plain.wav", TTestSignal{});
  auto flacWith = [&](const std::string &name, const std::string &picture) {
    const std::string path = folder + "/in/" + name + ".flac";
    EXPECT_EQ(RunTool({"ffmpeg", "-v", "error", "-y", "-i", wav, "-c:a", "flac", path}), 0);
    EXPECT_EQ(RunTool({"metaflac", "--import-picture-from=3||||" + picture, path}), 0);
    return path;
  };
  flacWith("cut", folder + "/cut.png");
  // The picture's own length field says 1000 bytes more than its block holds.
  const std::string overlong = flacWith("overlong", png);
  std::vector<uint8_t> bytes = ReadFileBytes(overlong);
  const auto at = std::search(bytes.begin(), bytes.end(), whole.begin(), whole.begin() + 8);
  ASSERT_NE(at, bytes.end());
  const uint32_t claimed = uint32_t(whole.size()) + 1000;
  for (int i = 0; i < 4; ++i) *(at - 4 + i) = uint8_t(claimed >> (24 - 8 * i));
  WriteFileBytes(overlong, bytes);
  flacWith("whole", png);

  for (const std::string format : {"flac", "mp3"}) {
    SCOPED_TRACE(format);
    const std::string out = folder + "/out-" + format;
    std::string err;
    EXPECT_EQ(RunTool({TONMILL_BINARY, "/input", folder + "/in", "/output", out, "/dest", format}, nullptr, &err), 0)
        << err;
    for (const char *name : {"cut", "overlong", "whole"}) {
      SCOPED_TRACE(name);
      const std::string output = out + "/" + name + "." + format;
      const bool damaged = std::string(name) != "whole";
      EXPECT_EQ(Probe(output).Cover, !damaged);
      const double frames = double(FFmpegDecode(output, "s16le").size() / 4);  // the audio is whole
      EXPECT_NEAR(frames, double(FrameCount(TTestSignal{})), format == "mp3" ? 3 * 1152 : 0);
      const std::string note = folder + "/in/" + name + ".flac: " + text_cover_left_out;
      EXPECT_EQ(err.find(note) != std::string::npos, damaged) << err;
    }
  }
}

// Tags that cannot be written fail the job, saying which output and why, and
// leave nothing under the output's name (nor a hidden file).
TEST(OutputTagsFailing, AFullDiskFailsTheJob) {
  const std::string folder = TestFolder();
  const std::string wav = WriteSignal(folder + "/in.wav", TTestSignal{});
  const std::string source = folder + "/in.flac";
  ASSERT_EQ(RunTool({"ffmpeg", "-v", "error", "-y", "-i", wav, "-metadata", "title=Long enough to grow the file",
                     source}),
            0);
  for (const TDestinationFormat format : {dfFLAC, dfMP3}) {
    const std::string ext = format == dfFLAC ? ".flac" : ".mp3";
    SCOPED_TRACE(ext);
    TFileListRec bare = WholeSourceJob(source, folder + "/bare" + ext, format, nullptr);
    bare.WriteTags = false;
    ASSERT_TRUE(ConvertJob(bare).empty());
    const std::string output = folder + "/tagged" + ext;
    std::vector<TThreadErrorRec> errors;
    {
      TFileSizeLimit room(fs::file_size(bare.OutputFileName));  // the audio fits, its tags do not
      errors = ConvertJob(WholeSourceJob(source, output, format, nullptr));
    }
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_NE(errors[0].ErrorMessage.find("\"" + output + "\""), std::string::npos) << errors[0].ErrorMessage;
    EXPECT_NE(errors[0].ErrorMessage.find(std::strerror(EFBIG)), std::string::npos) << errors[0].ErrorMessage;
    EXPECT_FALSE(fs::exists(output));
    EXPECT_FALSE(fs::exists(PartialFileName(output)));
  }
}

}  // namespace

#include "tags/checked_file_stream.h"

namespace {

// Room made and taken back in the middle of a file longer than the blocks the
// bytes move in; what is around it stays byte for byte.
TEST(CheckedFileStream, InsertAndRemoveKeepTheRest) {
  const std::string path = TestFolder() + "/big.bin";
  std::vector<uint8_t> original(2500000);
  for (size_t i = 0; i < original.size(); ++i) original[i] = uint8_t((i * 2654435761u) >> 13);
  WriteFileBytes(path, original);
  std::vector<uint8_t> expected = original;
  auto edit = [&](auto change) {
    TCheckedFileStream stream(path);
    change(stream);
    stream.Close();
    EXPECT_TRUE(ReadFileBytes(path) == expected);
  };
  const TagLib::ByteVector head(3000, 'h'), small(10, 's');
  expected.insert(expected.begin() + 7, 3000, 'h');
  edit([&](TCheckedFileStream &s) { s.insert(head, 7, 0); });  // grows
  expected.erase(expected.begin() + 7, expected.begin() + 3007);
  expected.insert(expected.begin() + 7, 10, 's');
  edit([&](TCheckedFileStream &s) { s.insert(small, 7, 3000); });  // shrinks
  expected = original;
  edit([&](TCheckedFileStream &s) { s.removeBlock(7, 10); });
}

}  // namespace
