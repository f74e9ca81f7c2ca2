// SPDX-License-Identifier: GPL-3.0-or-later
// Tags: read from every kind of source tag, written as ID3v1 blocks and as WMA attributes.
#include <gtest/gtest.h>

#include <taglib/asffile.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "tags/id3v1.h"
#include "tags/read_tags.h"
#include "tags/wma_tags.h"
#include "test_support.h"

namespace {

const TTagRec kTags = {.Title = "Kreuzberg Nächte", .Artist = "Ensemble", .Album = "Live at the Hall", .Year = "1997",
                       .Comment = "recorded in one take", .Track = "7", .Genre = "psychadelic"};

// The block byte for byte, written over the last one (never appended): text in ISO-8859-1 ("?" for what it lacks), the
// track in byte 126 only when the comment leaves byte 125 empty, the genre's number (Winamp's list too).
TEST(ID3v1, TheBlockByteForByte) {
  const std::string path = TestFolder() + "/a.mp3";
  WriteFileBytes(path, std::vector<uint8_t>(1000, 0x55));
  // The tags' title, comment, track and genre (the rest as kTags); then the title and comment as stored, zero-padded.
  const struct { std::string InTitle, InComment, InTrack, InGenre, Title, Comment; int Track, Genre; } rows[] = {
      {kTags.Title, kTags.Comment, kTags.Track, kTags.Genre, "Kreuzberg N\xE4" "chte", "recorded in one take", 7, 67},
      {"Второй — second", std::string(30, 'c'), "7", "Drum & Bass", "?????? ? second", std::string(30, 'c'), 'c', 127},
      {"", std::string(29, 'x'), "5", "PSYCHEDELIC", "", std::string(29, 'x'), 0, 67},
      {"", "", "7/12", "SynthPop", "", "", 0, 147},
      {"", "", "300", "Chiptune", "", "", 44, 255},
      {"", "", "", "", "", "", 0, 255},
      {"", "", "12", "Psychedelic", "", "", 12, 67},
  };
  for (const auto &r : rows) {
    TTagRec tags = kTags;
    tags.Title = r.InTitle, tags.Comment = r.InComment, tags.Track = r.InTrack, tags.Genre = r.InGenre;
    ASSERT_TRUE(WriteID3v1Tag(path, tags));
    const std::vector<uint8_t> bytes = ReadFileBytes(path);
    ASSERT_EQ(bytes.size(), 1128u);
    const std::string b(bytes.end() - 128, bytes.end());
    auto padded = [](std::string s, size_t n) { return s.size() < n ? s + std::string(n - s.size(), '\0') : s; };
    EXPECT_EQ(b.substr(0, 33), "TAG" + padded(r.Title, 30));
    EXPECT_EQ(b.substr(33, 64), padded(kTags.Artist, 30) + padded(kTags.Album, 30) + kTags.Year);
    const size_t room = r.Comment.size() < 29 ? 29 : 30;  // then byte 126 holds the track
    EXPECT_EQ(b.substr(97, room), padded(r.Comment, room)) << r.InTrack;
    EXPECT_EQ(int(uint8_t(b[126])), room == 29 ? r.Track : uint8_t(padded(r.Comment, 30)[29])) << r.InTrack;
    EXPECT_EQ(int(uint8_t(b[127])), r.Genre) << r.InGenre;
  }
  EXPECT_FALSE(WriteID3v1Tag(TestFolder() + "/missing.mp3", kTags));
  EXPECT_EQ(errno, ENOENT);
  TFileSizeLimit limit(1100);  // room for only part of the block: false, and errno says why
  WriteFileBytes(path, std::vector<uint8_t>(1000, 0));
  EXPECT_FALSE(WriteID3v1Tag(path, kTags));
  EXPECT_EQ(errno, EFBIG);
}

// Opus, Ogg FLAC, AIFF's ID3 chunk, M4B through TagLib; Matroska, WebM, DSF and AIFF's own text chunks through FFmpeg.
// (The sources of every output format: the output tags' table.)
TEST(ReadTags, EveryKindOfSourceTag) {
  StartBass();
  const std::string folder = TestFolder();
  const TTestSignal signal{.Seconds = 0.5};
  const std::vector<std::string> meta = {"-metadata", "title=Kreuzberg Nächte", "-metadata", "artist=Ensemble",
                                         "-metadata", "album=Live at the Hall", "-metadata", "date=1997",
                                         "-metadata", "track=7", "-metadata", "genre=Jazz"};
  const std::string all = "Kreuzberg Nächte|Ensemble|Live at the Hall|1997|7|Jazz";
  // What is read: title|artist|album|year|track|genre.
  const struct { std::string Name; std::vector<std::string> Codec; std::string Read; } rows[] = {
      {"opus.opus", {"-c:a", "libopus"}, all},    {"flac.oga", {"-c:a", "flac"}, all},
      {"id3.aiff", {"-write_id3v2", "1"}, all},   {"book.m4b", {"-c:a", "aac"}, all},
      {"flac.mka", {"-c:a", "flac"}, all},        {"opus.webm", {"-c:a", "libopus"}, all},
      {"chunks.aif", {"-metadata", "author=Ensemble"}, "Kreuzberg Nächte|Ensemble||"},
  };
  auto read = [](const std::string &path) {
    TTagRec t;
    t.Title = "stale";
    ReadTags(path, t);
    return t.Title + "|" + t.Artist + "|" + t.Album + "|" + t.Year.substr(0, 4) + "|" + t.Track.substr(0, 1) + "|" +
           t.Genre + (t.IsEmpty ? "(empty)" : "");
  };
  for (auto r : rows) {
    r.Codec.insert(r.Codec.end(), meta.begin(), meta.end());
    const std::string got = read(WriteSignal(folder + "/" + r.Name, signal, r.Codec));
    EXPECT_EQ(r.Read == all ? got : got.substr(0, r.Read.size()), r.Read) << r.Name;
  }
  EXPECT_EQ(read(WriteDsf(folder + "/tone.dsf", 0.1, "Kreuzberg")).substr(0, 10), "Kreuzberg|");
  EXPECT_EQ(read(WriteSignal(folder + "/plain.wav", signal)), "||||0|(empty)");  // no tags: nothing stale left
  EXPECT_EQ(read(folder + "/film.mkv").substr(0, 6), "stale|");  // no stream function: left as passed
}

// Attributes the output had are replaced or removed (the fields: the output tags' table); a file that cannot grow
// for them is an error naming it and why.
TEST(WMATags, AttributesAreReplacedAndRemoved) {
  const std::string folder = TestFolder();
  const std::string wma = WriteSignal(folder + "/out.wma", TTestSignal{},
                                      {"-c:a", "wmav2", "-metadata", "title=Old", "-metadata", "composer=Somebody",
                                       "-metadata", "copyright=(c) X"});
  const std::string full = folder + "/full.wma";
  fs::copy_file(wma, full);
  WriteWMATags(wma, kTags);
  TagLib::ASF::File file(wma.c_str());
  ASSERT_TRUE(file.isValid());
  EXPECT_EQ(file.tag()->title().to8Bit(true) + "|" + file.tag()->copyright().to8Bit(true), "Kreuzberg Nächte|");
  EXPECT_FALSE(file.tag()->attributeListMap().contains("WM/Composer"));
  for (const char *name : {"WM/AlbumTitle", "WM/TrackNumber", "WM/Year", "WM/Genre"})
    EXPECT_EQ(file.tag()->attributeListMap()[name].front().type(), TagLib::ASF::Attribute::UnicodeType) << name;
  EXPECT_GT(FFmpegDecode(wma, "s16le").size(), 100000u);  // still decodes
  TFileSizeLimit cannotGrow(fs::file_size(full));
  try {
    WriteWMATags(full, kTags);
    ADD_FAILURE() << "a failed write passed for a success";
  } catch (const std::runtime_error &e) {
    EXPECT_NE(std::string(e.what()).find("\"" + full + "\""), std::string::npos) << e.what();
    EXPECT_NE(std::string(e.what()).find(std::strerror(EFBIG)), std::string::npos) << e.what();
  }
}

}  // namespace
