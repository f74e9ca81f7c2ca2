// SPDX-License-Identifier: GPL-3.0-or-later
// CUE sheets as ripping programs write them, in the encodings they use, and
// sheets that are damaged.
#include <gtest/gtest.h>

#include <iconv.h>

#include <filesystem>
#include <fstream>

#include "platform/text_encoding.h"
#include "sources/cue.h"
#include "test_support.h"

namespace fs = std::filesystem;

namespace {

std::string Encode(const std::string &utf8, const char *charset) {
  iconv_t cd = iconv_open(charset, "UTF-8");
  std::string in = utf8, out(utf8.size() * 4 + 16, '\0');
  char *inp = in.data(), *outp = out.data();
  size_t inLeft = in.size(), outLeft = out.size();
  iconv(cd, &inp, &inLeft, &outp, &outLeft);
  iconv_close(cd);
  out.resize(out.size() - outLeft);
  return out;
}

// A sheet as a common ripping program writes it (CR LF line ends).
std::string RipperSheet(const std::string &title1, const std::string &performer) {
  return "REM GENRE \"Classical\"\r\n"
         "REM DATE 1997\r\n"
         "REM DISCID 8A0B5C0C\r\n"
         "REM COMMENT \"ExactAudioCopy v1.6\"\r\n"
         "CATALOG 0724356684727\r\n"
         "PERFORMER \"" + performer + "\"\r\n"
         "TITLE \"Album: Live\"\r\n"
         "FILE \"Album Image.flac\" WAVE\r\n"
         "  TRACK 01 AUDIO\r\n"
         "    TITLE \"" + title1 + "\"\r\n"
         "    ISRC GBAYE9700001\r\n"
         "    FLAGS DCP\r\n"
         "    INDEX 01 00:00:00\r\n"
         "  TRACK 02 AUDIO\r\n"
         "    TITLE Unquoted title\r\n"
         "    PERFORMER \"Guest\"\r\n"
         "    INDEX 00 03:22:70\r\n"
         "    INDEX 01 03:25:40\r\n"
         "  TRACK 3 AUDIO\r\n"
         "    PREGAP 00:02:00\r\n"
         "    INDEX 01 07:01:01\r\n";
}

class CueSheets : public ::testing::Test {
 protected:
  void SetUp() override { Folder = TestFolder() + "/"; }
  std::string Folder;
};

TEST_F(CueSheets, ARippersSheetReadsTrackByTrack) {
  WriteText(Folder + "album.cue", RipperSheet("Allegro / Vivace", "Orchestra"));
  TCUEArr t;
  ParseCue(Folder + "album.cue", t);
  ASSERT_EQ(t.size(), 3u);
  EXPECT_EQ(t[0].TrackNumber, 1);
  EXPECT_EQ(t[0].Title, "Allegro  Vivace");  // cleaned for file names
  EXPECT_EQ(t[0].Performer, "Orchestra");
  EXPECT_EQ(t[0].Album, "Album Live");
  EXPECT_EQ(t[0].FileName, "Album Image.flac");
  EXPECT_EQ(t[0].Index01Minutes, 0);
  EXPECT_EQ(t[0].Index00Minutes, -1);
  EXPECT_EQ(t[1].Title, "Unquoted title");
  EXPECT_EQ(t[1].Performer, "Guest");
  EXPECT_EQ(t[1].Index00Seconds, 22);
  EXPECT_EQ(t[1].Index01Minutes, 3);
  EXPECT_EQ(t[1].Index01Seconds, 25);
  EXPECT_EQ(t[1].Index01Frames, 40);
  EXPECT_DOUBLE_EQ(CueTrackStart(t[1]), 205 + 40 / 75.0);
  EXPECT_EQ(t[2].TrackNumber, 3);
  EXPECT_EQ(t[2].Title, "");  // no TITLE of its own
  EXPECT_EQ(t[2].Performer, "Orchestra");
  EXPECT_EQ(t[2].Index01Frames, 1);
}

TEST_F(CueSheets, EveryCommonEncodingGivesTheRightTitles) {
  const std::string cyrillic = "Звёзды над городом", accented = "Café Müller à l'été";
  struct TCase {
    const char *Name;
    std::string Bytes;
    std::string Title;
  } cases[] = {
      {"utf8", RipperSheet(accented, "Ensemble"), accented},
      {"utf8bom", "\xEF\xBB\xBF" + RipperSheet(cyrillic, "Ансамбль"), cyrillic},
      {"utf16le", "\xFF\xFE" + Encode(RipperSheet(cyrillic, "Ансамбль"), "UTF-16LE"), cyrillic},
      {"utf16be", "\xFE\xFF" + Encode(RipperSheet(accented, "Ensemble"), "UTF-16BE"), accented},
      {"cp1251", Encode(RipperSheet(cyrillic, "Ансамбль"), "WINDOWS-1251"), cyrillic},
      {"cp1252", Encode(RipperSheet(accented, "Ensemble"), "WINDOWS-1252"), accented},
  };
  for (const TCase &c : cases) {
    const std::string sheet = Folder + c.Name + ".cue";
    WriteText(sheet, c.Bytes);
    TCUEArr t;
    ParseCue(sheet, t);
    ASSERT_EQ(t.size(), 3u) << c.Name;
    EXPECT_EQ(t[0].Title, CleanCueValue(c.Title)) << c.Name;
    EXPECT_EQ(t[1].Title, "Unquoted title") << c.Name;
  }
}

// Sheets whose bytes belie their mark, or that no character set reads
// whole, still give UTF-8 (fuzzing found both handed on as they were).
TEST_F(CueSheets, WhateverTheBytesTheTextIsUtf8) {
  const std::string accented = "Café Müller à l'été";
  struct TCase {
    const char *Name;
    std::string Bytes;
    std::string Title;  // "" when any valid reading will do
  } cases[] = {
      {"utf8 mark over Windows-1252", "\xEF\xBB\xBF" + Encode(RipperSheet(accented, "Ensemble"), "WINDOWS-1252"),
       accented},
      {"utf8 mark over stray bytes", std::string("\xEF\xBB\xBF" "F\xB7\xB3\xBA\xDF\xDD<[\xC9wav\" WAVE\r\nTRACK 1 AUDIO\r\n"),
       ""},
      {"bytes Windows-1252 leaves undefined", "FILE \"a.wav\" WAVE\nTRACK 01 AUDIO\nTITLE \"\x81\x8D\x8F\x90\x9D\"\n", ""},
      {"odd utf16", std::string("\xFF\xFE" "T\0R\0A\0C\0K\0 \0" "1\0 \0A\0U\0D\0I\0O\0\xD8", 27), ""},
  };
  for (const TCase &c : cases) {
    SCOPED_TRACE(c.Name);
    EXPECT_TRUE(IsValidUtf8(DecodeText(c.Bytes)));
    const std::string sheet = Folder + "bytes.cue";
    WriteText(sheet, c.Bytes);
    TCUEArr t;
    ParseCue(sheet, t);
    for (const TCUERec &track : t) EXPECT_TRUE(IsValidUtf8(track.Title + track.FileName + track.Performer));
    if (!c.Title.empty()) {
      EXPECT_EQ(t.at(0).Title, CleanCueValue(c.Title));
    }
  }
}

TEST_F(CueSheets, SheetsAndTheirAudioFindEachOther) {
  WriteText(Folder + "a.flac", "x");
  WriteText(Folder + "a.flac.cue", "");
  EXPECT_EQ(FindCueSheet(Folder + "a.flac"), Folder + "a.flac.cue");
  EXPECT_EQ(FindAudioForCue(Folder + "a.flac.cue"), Folder + "a.flac");

  WriteText(Folder + "b.wav", "x");
  WriteText(Folder + "b.flac", "x");
  WriteText(Folder + "b.cue", "");
  EXPECT_EQ(FindAudioForCue(Folder + "b.cue"), Folder + "b.wav");
  EXPECT_EQ(FindCueSheet(Folder + "b.flac"), Folder + "b.cue");
  EXPECT_EQ(FindCueSheet(Folder + "b.ogg"), "");  // "ogg" files look for no sheet of their own

  // A sheet named unlike its audio finds it through its FILE line, whatever
  // the number of its tracks.
  WriteText(Folder + "Album Image.flac", "x");
  WriteText(Folder + "rip.cue", RipperSheet("One", "P"));
  EXPECT_EQ(FindAudioForCue(Folder + "rip.cue"), Folder + "Album Image.flac");
  WriteText(Folder + "single.cue", "FILE \"Album Image.flac\" WAVE\nTRACK 01 AUDIO\nINDEX 01 00:00:00\n");
  EXPECT_EQ(FindAudioForCue(Folder + "single.cue"), Folder + "Album Image.flac");
  WriteText(Folder + "other.cue", "FILE \"x.mp3\" MP3\nTRACK 01 AUDIO\nTRACK 02 AUDIO\n");
  WriteText(Folder + "x.mp3", "x");
  EXPECT_EQ(FindAudioForCue(Folder + "other.cue"), Folder + "x.mp3");
}

// What a FILE line names, and which file beside the sheet it finds.
TEST_F(CueSheets, TheFileLineIsFoundBesideTheSheet) {
  struct TCase {
    const char *FileLine, *Present, *Found;
  } cases[] = {
      {"FILE \"Album.flac\" WAVE", "Album.flac", "Album.flac"},
      {"FILE \"album.FLAC\" WAVE", "Album.flac", "Album.flac"},               // another case
      {"FILE \"Älbum Ünd.flac\" WAVE", "älbum ünd.flac", "älbum ünd.flac"},   // beyond ASCII
      {"FILE \"Album.wav\" WAVE", "Album.flac", "Album.flac"},                 // written for a WAV
      {"FILE \"ALBUM.WAV\" WAVE", "album.ape", "album.ape"},
      {"FILE \"Album.bin\" BINARY", "Album.wv", "Album.wv"},
      {"FILE \"Album\" WAVE", "Album.mp3", "Album.mp3"},                       // no extension
      {"FILE \"C:\\Rips\\Album.wav\" WAVE", "Album.wav", "Album.wav"},         // a folder part
      {"FILE Album.flac WAVE", "Album.flac", "Album.flac"},                     // unquoted
      {"FILE \"Album.flac\" WAVE", "Album.txt", ""},
      {"FILE \"Other.flac\" WAVE", "Album.flac", ""},
      {"REM no file line", "Album.flac", ""},
  };
  int n = 0;
  for (const TCase &c : cases) {
    const std::string folder = Folder + std::to_string(n++) + "/";
    fs::create_directories(folder);
    WriteText(folder + c.Present, "x");
    for (const char *ending : {"\n", "\r\n", ""}) {
      WriteText(folder + "sheet.cue", std::string(c.FileLine) + "\r\nTRACK 01 AUDIO\nINDEX 01 00:00:00" + ending);
      EXPECT_EQ(FindAudioForCue(folder + "sheet.cue"), *c.Found ? folder + c.Found : "") << c.FileLine;
    }
  }
}

TEST_F(CueSheets, UntitledTracksAreNamedFromTheSheetOrTheSource) {
  TCUERec t;
  t.Title = "Song";
  t.Performer = "Band";
  t.Album = "Live";
  EXPECT_EQ(CueTrackName(t, "/m/image.flac"), "Song");
  t.Title.clear();
  EXPECT_EQ(CueTrackName(t, "/m/image.flac"), "Band - Live");
  t.Performer.clear();
  EXPECT_EQ(CueTrackName(t, "/m/image.flac"), "Live");
  t.Album.clear();
  EXPECT_EQ(CueTrackName(t, "/m/image.flac"), "image");
}

TEST_F(CueSheets, TimeFields) {
  int32_t m, s, f;
  ParseCueTime("03:25:40 ", m, s, f);
  EXPECT_EQ(std::vector<int>({m, s, f}), std::vector<int>({3, 25, 40}));
  ParseCueTime("03:25:40", m, s, f);  // without the blank the last digit is lost
  EXPECT_EQ(f, 4);
  ParseCueTime("  ", m, s, f);
  EXPECT_EQ(std::vector<int>({m, s, f}), std::vector<int>({-1, -1, -1}));
  EXPECT_THROW(ParseCueTime("03:xx:40 ", m, s, f), ECueSheetError);
}

TEST_F(CueSheets, DamagedSheets) {
  // A track number that is no number: a clear error naming the sheet.
  WriteText(Folder + "bad.cue", "FILE \"a.wav\" WAVE\nTRACK one AUDIO\nINDEX 01 00:00:00\n");
  TCUEArr t;
  try {
    ParseCue(Folder + "bad.cue", t);
    FAIL();
  } catch (const ECueSheetError &e) {
    EXPECT_NE(std::string(e.what()).find(Folder + "bad.cue"), std::string::npos) << e.what();
  }
  // No INDEX 01: every field -1.
  WriteText(Folder + "noindex.cue", "FILE \"a.wav\" WAVE\nTRACK 01 AUDIO\nTRACK 02 AUDIO\nINDEX 01 00:10:00\n");
  ParseCue(Folder + "noindex.cue", t);
  ASSERT_EQ(t.size(), 2u);
  EXPECT_EQ(t[0].Index01Minutes, -1);
  EXPECT_EQ(t[0].Index01Frames, -1);
  // Garbage around the tracks is ignored.
  WriteText(Folder + "garbage.cue", "%%%%\n\x01\x02\x03\nTRACK 07 AUDIO\n  @@@ nothing\nINDEX 01 01:00:00\n");
  ParseCue(Folder + "garbage.cue", t);
  ASSERT_EQ(t.size(), 1u);
  EXPECT_EQ(t[0].TrackNumber, 7);
  // A binary file named .cue has no tracks: the whole source.
  std::string binary(20000, '\0');
  for (size_t i = 0; i < binary.size(); ++i) binary[i] = char((i * 7919 + 13) % 251);
  WriteText(Folder + "binary.cue", binary);
  ParseCue(Folder + "binary.cue", t);
  EXPECT_EQ(t.size(), 1u);
  EXPECT_EQ(t[0].TrackNumber, 0);
  // No sheet at all.
  ParseCue(Folder + "nothing.flac", t);
  EXPECT_EQ(t.size(), 1u);
}

}  // namespace
