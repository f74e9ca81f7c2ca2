// SPDX-License-Identifier: GPL-3.0-or-later
// Tags: read from every kind of source tag, written as ID3v1 blocks and as
// WMA attributes.
#include <gtest/gtest.h>

#include <taglib/asffile.h>
#include <taglib/fileref.h>
#include <taglib/tpropertymap.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "tags/id3v1.h"
#include "tags/read_tags.h"
#include "tags/wma_tags.h"
#include "test_support.h"

namespace fs = std::filesystem;

namespace {

std::string Tail128(const std::string &path) {
  const std::vector<uint8_t> bytes = ReadFileBytes(path);
  return std::string(bytes.end() - 128, bytes.end());
}

std::string Field(const std::string &block, size_t offset, size_t width) {
  std::string text = block.substr(offset, width);
  return text.substr(0, text.find('\0'));
}

TTagRec SampleTags() {
  TTagRec t;
  t.Title = "Kreuzberg Nächte";
  t.Artist = "Ensemble";
  t.Album = "Live at the Hall";
  t.Year = "1997";
  t.Comment = "recorded in one take";
  t.Track = "7";
  t.Genre = "psychadelic";
  return t;
}

TEST(ID3v1, TheBlockByteForByte) {
  const std::string path = TestFolder() + "/a.mp3";
  WriteFileBytes(path, std::vector<uint8_t>(1000, 0x55));
  ASSERT_TRUE(WriteID3v1Tag(path, SampleTags()));
  const std::string block = Tail128(path);
  EXPECT_EQ(fs::file_size(path), 1128u);
  EXPECT_EQ(block.substr(0, 3), "TAG");
  EXPECT_EQ(Field(block, 3, 30), "Kreuzberg N\xE4" "chte");  // ISO-8859-1
  EXPECT_EQ(Field(block, 33, 30), "Ensemble");
  EXPECT_EQ(Field(block, 63, 30), "Live at the Hall");
  EXPECT_EQ(block.substr(93, 4), "1997");
  EXPECT_EQ(Field(block, 97, 30), "recorded in one take");
  EXPECT_EQ(block[125], '\0');
  EXPECT_EQ(uint8_t(block[126]), 7);
  EXPECT_EQ(uint8_t(block[127]), 67);

  // Written again: the block is replaced, not appended.
  TTagRec other = SampleTags();
  other.Title = "Второй — second";  // outside ISO-8859-1
  other.Comment = std::string(30, 'c');
  other.Genre = "Drum & Bass";
  ASSERT_TRUE(WriteID3v1Tag(path, other));
  EXPECT_EQ(fs::file_size(path), 1128u);
  const std::string again = Tail128(path);
  EXPECT_EQ(Field(again, 3, 30), "?????? ? second");
  EXPECT_EQ(again.substr(97, 30), std::string(30, 'c'));  // no room for the track
  EXPECT_EQ(uint8_t(again[127]), 127);
}

TEST(ID3v1, TrackAndGenreNumbers) {
  EXPECT_EQ(ID3v1GenreNumber("Psychedelic"), 67);
  EXPECT_EQ(ID3v1GenreNumber("PSYCHEDELIC"), 67);
  EXPECT_EQ(ID3v1GenreNumber("Drum & Bass"), 127);
  EXPECT_EQ(ID3v1GenreNumber("SynthPop"), 147);
  EXPECT_EQ(ID3v1GenreNumber("Chiptune"), 255);
  EXPECT_EQ(ID3v1GenreNumber(""), 255);

  const std::string path = TestFolder() + "/b.mp3";
  WriteFileBytes(path, std::vector<uint8_t>(10, 0));
  TTagRec t;
  for (const auto &[track, number] : std::vector<std::pair<std::string, int>>{
           {"7/12", 0}, {"300", 44}, {"0", 0}, {"", 0}, {"12", 12}}) {
    t.Track = track;
    ASSERT_TRUE(WriteID3v1Tag(path, t));
    EXPECT_EQ(uint8_t(Tail128(path)[126]), number) << track;
  }
  t.Comment = std::string(29, 'x');
  t.Track = "5";
  WriteID3v1Tag(path, t);
  EXPECT_EQ(Tail128(path)[125], 'x');  // byte 125 holds the comment: no track
  EXPECT_EQ(Tail128(path)[126], '\0');
  EXPECT_FALSE(WriteID3v1Tag(TestFolder() + "/missing.mp3", t));
  EXPECT_EQ(errno, ENOENT);

  // Room for only part of the block: false, and errno says why.
  const std::string cut = TestFolder() + "/cut.mp3";
  WriteFileBytes(cut, std::vector<uint8_t>(1000, 0));
  TFileSizeLimit limit(1100);
  EXPECT_FALSE(WriteID3v1Tag(cut, t));
  EXPECT_EQ(errno, EFBIG);
}

class ReadTagsFrom : public ::testing::Test {
 protected:
  void SetUp() override {
    StartBass();
    Folder = TestFolder();
    Wav = WriteSignal(Folder + "/plain.wav", TTestSignal{});
  }
  void ExpectSample(const std::string &path) {
    TTagRec t;
    ReadTags(path, t);
    EXPECT_EQ(t.Title, "Kreuzberg Nächte") << path;
    EXPECT_EQ(t.Artist, "Ensemble") << path;
    EXPECT_EQ(t.Album, "Live at the Hall") << path;
    EXPECT_EQ(t.Year.substr(0, 4), "1997") << path;
    EXPECT_EQ(t.Track.substr(0, 1), "7") << path;
    EXPECT_EQ(t.Genre, "Jazz") << path;
    EXPECT_FALSE(t.IsEmpty) << path;
  }
  std::vector<std::string> Metadata() const {
    return {"-metadata", "title=Kreuzberg Nächte", "-metadata", "artist=Ensemble",
            "-metadata", "album=Live at the Hall", "-metadata", "date=1997",
            "-metadata", "track=7",          "-metadata", "genre=Jazz"};
  }
  std::string Encode(const std::string &name, std::vector<std::string> codec) {
    std::vector<std::string> argv = {"ffmpeg", "-v", "error", "-y", "-i", Wav};
    argv.insert(argv.end(), codec.begin(), codec.end());
    const std::vector<std::string> meta = Metadata();
    argv.insert(argv.end(), meta.begin(), meta.end());
    argv.push_back(Folder + "/" + name);
    EXPECT_EQ(RunTool(argv), 0);
    return Folder + "/" + name;
  }
  std::string Folder, Wav;
};

TEST_F(ReadTagsFrom, Id3v2VorbisCommentsApeAndMp4) {
  ExpectSample(Encode("id3v2.mp3", {"-c:a", "libmp3lame"}));
  ExpectSample(Encode("vorbis.flac", {"-c:a", "flac"}));
  ExpectSample(Encode("vorbis.ogg", {"-c:a", "libvorbis"}));
  ExpectSample(Encode("mp4.m4a", {"-c:a", "aac"}));
  const std::string wv = Folder + "/ape.wv";
  ASSERT_EQ(RunTool({"wavpack", "-q", "-y", Wav, "-o", wv, "-w", "Title=Kreuzberg Nächte", "-w",
                     "Artist=Ensemble", "-w", "Album=Live at the Hall", "-w", "Year=1997", "-w",
                     "Track=7", "-w", "Genre=Jazz"}),
            0);
  ExpectSample(wv);
}

// Opus, Ogg audio, AIFF's ID3 chunk and M4B through TagLib; Matroska, WebM,
// DSF and AIFF's own text chunks (title, author, comment) through FFmpeg.
TEST_F(ReadTagsFrom, TheFurtherSourceTypes) {
  ExpectSample(Encode("opus.opus", {"-c:a", "libopus"}));
  ExpectSample(Encode("flac.oga", {"-c:a", "flac"}));
  ExpectSample(Encode("id3.aiff", {"-write_id3v2", "1"}));
  ExpectSample(Encode("book.m4b", {"-c:a", "aac"}));
  ExpectSample(Encode("flac.mka", {"-c:a", "flac"}));
  ExpectSample(Encode("opus.webm", {"-c:a", "libopus"}));
  TTagRec t;
  ReadTags(Encode("chunks.aif", {"-metadata", "author=Ensemble"}), t);
  EXPECT_EQ(t.Title + "|" + t.Artist + "|" + t.Album, "Kreuzberg Nächte|Ensemble|");
  ReadTags(WriteDsf(Folder + "/tone.dsf", 0.1, "Kreuzberg"), t);
  EXPECT_EQ(t.Title, "Kreuzberg");
}

TEST_F(ReadTagsFrom, ASourceWithoutTags) {
  TTagRec t;
  t.Title = "stale";
  ReadTags(Wav, t);
  EXPECT_EQ(t.Title, "");
  EXPECT_EQ(t.Track, "0");
  EXPECT_TRUE(t.IsEmpty);
  TTagRec untouched;
  untouched.Title = "kept";
  ReadTags(Folder + "/film.mkv", untouched);  // no stream function: left as passed
  EXPECT_EQ(untouched.Title, "kept");
}

TEST(WMATags, AttributesAreAddedReplacedAndRemoved) {
  const std::string folder = TestFolder();
  const std::string wav = WriteSignal(folder + "/in.wav", TTestSignal{});
  const std::string wma = folder + "/out.wma";
  ASSERT_EQ(RunTool({"ffmpeg", "-v", "error", "-y", "-i", wav, "-c:a", "wmav2", "-metadata",
                     "title=Old", "-metadata", "composer=Somebody", "-metadata", "copyright=(c) X", wma}),
            0);
  TTagRec t = SampleTags();
  t.Genre = "Jazz";
  const std::string full = folder + "/full.wma";
  fs::copy_file(wma, full);
  WriteWMATags(wma, t);

  TagLib::ASF::File file(wma.c_str());
  ASSERT_TRUE(file.isValid());
  TagLib::ASF::Tag *tag = file.tag();
  EXPECT_EQ(tag->title().to8Bit(true), "Kreuzberg Nächte");
  EXPECT_EQ(tag->artist().to8Bit(true), "Ensemble");
  EXPECT_EQ(tag->comment().to8Bit(true), "recorded in one take");
  EXPECT_EQ(tag->copyright().to8Bit(true), "");
  const auto &attributes = tag->attributeListMap();
  EXPECT_EQ(attributes["WM/AlbumTitle"].front().toString().to8Bit(true), "Live at the Hall");
  EXPECT_EQ(attributes["WM/TrackNumber"].front().toString().to8Bit(true), "7");
  EXPECT_EQ(attributes["WM/TrackNumber"].front().type(), TagLib::ASF::Attribute::UnicodeType);
  EXPECT_EQ(attributes["WM/Year"].front().toString().to8Bit(true), "1997");
  EXPECT_EQ(attributes["WM/Genre"].front().toString().to8Bit(true), "Jazz");
  EXPECT_FALSE(attributes.contains("WM/Composer"));
  // The file still decodes.
  EXPECT_GT(FFmpegDecode(wma, "s16le").size(), 100000u);

  // A file that cannot grow for its attributes: an error naming it and why.
  TFileSizeLimit cannotGrow(fs::file_size(full));
  try {
    WriteWMATags(full, t);
    ADD_FAILURE() << "a failed write passed for a success";
  } catch (const std::runtime_error &e) {
    const std::string message = e.what();
    EXPECT_NE(message.find("\"" + full + "\""), std::string::npos) << message;
    EXPECT_NE(message.find(std::strerror(EFBIG)), std::string::npos) << message;
  }
}

}  // namespace
