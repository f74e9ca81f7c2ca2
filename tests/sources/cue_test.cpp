// SPDX-License-Identifier: GPL-3.0-or-later
// CUE sheets as ripping programs write them, in the encodings they use, damaged ones, and the audio file a sheet names.
#include <gtest/gtest.h>

#include <filesystem>

#include <fmt/printf.h>

#include "platform/text_encoding.h"
#include "sources/cue.h"
#include "test_support.h"

namespace {

// The text in `charset`, by iconv (in a fresh test folder: call it before making the test's files).
std::string Encode(const std::string &utf8, const char *charset) {
  std::string out;
  EXPECT_EQ(RunTool({"iconv", "-f", "UTF-8", "-t", charset, WriteText(TestFolder() + "/utf8.txt", utf8)}, &out), 0);
  return out;
}

// A ripping program's sheet (CR LF): a pregap (INDEX 00) before track 2, a PREGAP line, an unquoted title.
std::string RipperSheet(const std::string &title1 = "Allegro / Vivace", const std::string &performer = "Orchestra") {
  return "REM GENRE \"Classical\"\r\nREM DATE 1997\r\nREM COMMENT \"ExactAudioCopy v1.6\"\r\nCATALOG 0724356684727\r\n"
         "PERFORMER \"" + performer + "\"\r\nTITLE \"Album: Live\"\r\nFILE \"Album Image.flac\" WAVE\r\n"
         "  TRACK 01 AUDIO\r\n    TITLE \"" + title1 + "\"\r\n    ISRC GBAYE9700001\r\n    FLAGS DCP\r\n"
         "    INDEX 01 00:00:00\r\n"
         "  TRACK 02 AUDIO\r\n    TITLE Unquoted title\r\n    PERFORMER \"Guest\"\r\n"
         "    INDEX 00 03:22:70\r\n    INDEX 01 03:25:40\r\n"
         "  TRACK 3 AUDIO\r\n    PREGAP 00:02:00\r\n    INDEX 01 07:01:01\r\n";
}

// One line a track: number, title, performer, album, file, INDEX 00 and 01, span (seconds).
std::string Render(const TCUEArr &tracks) {
  std::string text;
  for (const TCUERec &t : tracks)
    text += fmt::sprintf("%d|%s|%s|%s|%s|%d:%d:%d|%d:%d:%d|%.3f-%.3f\n", t.TrackNumber, t.Title, t.Performer, t.Album,
                         t.FileName, t.Index00Minutes, t.Index00Seconds, t.Index00Frames, t.Index01Minutes,
                         t.Index01Seconds, t.Index01Frames, t.StartTime, t.EndTime);
  return text;
}

std::string RipperTracks(const std::string &title1 = "Allegro  Vivace", const std::string &performer = "Orchestra",
                         const std::string &second = "205.533") {
  return "1|" + title1 + "|" + performer + "|Album Live|Album Image.flac|-1:-1:-1|0:0:0|0.000-" + second + "\n"
         "2|Unquoted title|Guest|Album Live|Album Image.flac|3:22:70|3:25:40|" + second + "-421.013\n"
         "3||" + performer + "|Album Live|Album Image.flac|-1:-1:-1|7:1:1|421.013-0.000\n";
}

// Tracks: Render of the laid-out tracks; "error" for a sheet that cannot be read, "" any in UTF-8.
struct TSheetRow { const char *Name; std::string Bytes; TCueLayout Layout; std::string Tracks; };

TEST(CueSheets, SheetsGiveTheirTracks) {
  const std::string two = "FILE \"a.wav\" WAVE\nTRACK 01 AUDIO\nINDEX 01 00:05:00\nTRACK 02 AUDIO\n";
  std::string binary(20000, '\0');
  for (size_t i = 0; i < binary.size(); ++i) binary[i] = char((i * 7919 + 13) % 251);
  const std::string cyrillic = "Звёзды над городом", accented = "Café Müller à l'été";
  const std::string cyrillicTracks = RipperTracks(cyrillic, "Ансамбль"), accentedTracks = RipperTracks(accented, "Ensemble");
  const TSheetRow rows[] = {
      {"ripper", RipperSheet(), {}, RipperTracks()},
      {"pregaps their tracks' own", RipperSheet(), {.PregapOwnTrack = true},
       RipperTracks("Allegro  Vivace", "Orchestra", "202.933")},
      {"INDEX 00 after INDEX 01 is no pregap", two + "INDEX 01 00:09:00\nINDEX 00 00:12:00", {.PregapOwnTrack = true},
       "1||||a.wav|-1:-1:-1|0:5:0|5.000-9.000\n2||||a.wav|0:12:0|0:9:0|9.000-0.000\n"},
      {"audio before track 1 kept", two + "INDEX 01 00:09:00\n", {.HiddenTrack = true},
       "0|Hidden track|||a.wav|-1:-1:-1|0:0:0|0.000-5.000\n1||||a.wav|-1:-1:-1|0:5:0|5.000-9.000\n"
       "2||||a.wav|-1:-1:-1|0:9:0|9.000-0.000\n"},
      {"no INDEX 01", "FILE \"a.wav\" WAVE\nTRACK 01 AUDIO\nTRACK 02 AUDIO\nINDEX 01 00:10:00\n", {},
       "1||||a.wav|-1:-1:-1|-1:-1:-1|-61.013-10.000\n2||||a.wav|-1:-1:-1|0:10:0|10.000-0.000\n"},
      {"garbage around a track", "%%%%\n\x01\x02\x03\nTRACK 07 AUDIO\n  @@@ nothing\nINDEX 01 01:00:00\n", {},
       "7|||||-1:-1:-1|1:0:0|0.000-0.000\n"},
      {"binary: no tracks, the whole source", binary, {}, "0|||||0:0:0|0:0:0|0.000-0.000\n"},
      {"a track number that is no number", "FILE \"a.wav\" WAVE\nTRACK one AUDIO\nINDEX 01 00:00:00\n", {}, "error"},
      {"a time that is no number", "FILE \"a.wav\" WAVE\nTRACK 01 AUDIO\nINDEX 01 03:xx:40\n", {}, "error"},
      {"utf8", RipperSheet(accented, "Ensemble"), {}, accentedTracks},
      {"utf8 mark", "\xEF\xBB\xBF" + RipperSheet(cyrillic, "Ансамбль"), {}, cyrillicTracks},
      {"utf16le", "\xFF\xFE" + Encode(RipperSheet(cyrillic, "Ансамбль"), "UTF-16LE"), {}, cyrillicTracks},
      {"utf16be", "\xFE\xFF" + Encode(RipperSheet(accented, "Ensemble"), "UTF-16BE"), {}, accentedTracks},
      {"cp1251", Encode(RipperSheet(cyrillic, "Ансамбль"), "WINDOWS-1251"), {}, cyrillicTracks},
      {"cp1252", Encode(RipperSheet(accented, "Ensemble"), "WINDOWS-1252"), {}, accentedTracks},
      {"utf8 mark over Windows-1252", "\xEF\xBB\xBF" + Encode(RipperSheet(accented, "Ensemble"), "WINDOWS-1252"), {},
       accentedTracks},
      // Bytes that belie their mark, or that no character set reads whole (fuzzing found both passed on).
      {"a mark over no UTF-8", "\xEF\xBB\xBF" "F\xB7\xB3\xBA\xDF\xDD<[\xC9wav\" WAVE\r\nTRACK 1 AUDIO\r\n", {}, ""},
      {"no character set", "FILE \"a.wav\" WAVE\nTRACK 01 AUDIO\nTITLE \"\x81\x8D\x8F\x90\x9D\"\n", {}, ""},
      {"half a character", std::string("\xFF\xFE" "T\0R\0A\0C\0K\0 \0" "1\0 \0A\0U\0D\0I\0O\0\xD8", 27), {}, ""},
  };
  const std::string sheet = TestFolder() + "/sheet.cue";
  for (const TSheetRow &row : rows) {
    SCOPED_TRACE(row.Name);
    EXPECT_TRUE(IsValidUtf8(DecodeText(row.Bytes)));
    WriteText(sheet, row.Bytes);
    TCUEArr tracks;
    try {
      ParseCue(sheet, tracks);
    } catch (const ECueSheetError &e) {
      EXPECT_EQ(row.Tracks, "error");
      EXPECT_NE(std::string(e.what()).find(sheet), std::string::npos) << e.what();
      continue;
    }
    LayOutCueTracks(tracks, row.Layout);
    const std::string rendered = Render(tracks);
    EXPECT_TRUE(IsValidUtf8(rendered));
    EXPECT_EQ(rendered, row.Tracks.empty() ? rendered : row.Tracks);
  }
  TCUEArr none;
  ParseCue(sheet + ".flac", none);  // no sheet at all
  EXPECT_EQ(Render(none), "0|||||0:0:0|0:0:0|0.000-0.000\n");
}

// Which audio file a sheet finds beside it (by its own name first, then by its FILE line, whatever the case, and under
// another supported extension), and which sheet an audio file finds.
TEST(CueSheets, SheetsAndTheirAudioFindEachOther) {
  const struct { const char *Sheet, *FileLine, *Present, *Found; } rows[] = {
      {"Album.flac.cue", "REM", "Album.flac", "Album.flac"},
      {"b.cue", "FILE \"x.flac\" WAVE", "b.wav|b.flac|x.flac", "b.wav"},
      {"rip.cue", "FILE \"Album.flac\" WAVE", "Album.flac", "Album.flac"},
      {"rip.cue", "FILE \"album.FLAC\" WAVE", "Album.flac", "Album.flac"},
      {"rip.cue", "FILE \"Älbum Ünd.flac\" WAVE", "älbum ünd.flac", "älbum ünd.flac"},
      {"rip.cue", "FILE \"Album.wav\" WAVE", "Album.flac", "Album.flac"},
      {"rip.cue", "FILE \"ALBUM.WAV\" WAVE", "album.ape", "album.ape"},
      {"rip.cue", "FILE \"Album.bin\" BINARY", "Album.wv", "Album.wv"},
      {"rip.cue", "FILE \"Album\" WAVE", "Album.mp3", "Album.mp3"},
      {"rip.cue", "FILE \"C:\\Rips\\Album.wav\" WAVE", "Album.wav", "Album.wav"},
      {"rip.cue", "FILE Album.flac WAVE", "Album.flac", "Album.flac"},
      {"rip.cue", "FILE \"Album.flac\" WAVE", "Album.txt", ""},
      {"rip.cue", "FILE \"Other.flac\" WAVE", "Album.flac", ""},
      {"rip.cue", "REM no file line", "Album.flac", ""},
  };
  const std::string top = TestFolder();
  int n = 0;
  for (const auto &row : rows) {
    const std::string folder = top + "/" + std::to_string(n++) + "/";
    fs::create_directories(folder);
    std::string present = row.Present;
    for (size_t at; !present.empty(); present = at == std::string::npos ? "" : present.substr(at + 1))
      WriteText(folder + present.substr(0, at = present.find('|')), "x");
    for (const char *ending : {"\n", "\r\n", ""}) {
      WriteText(folder + row.Sheet, std::string(row.FileLine) + "\r\nTRACK 01 AUDIO\nINDEX 01 00:00:00" + ending);
      EXPECT_EQ(FindAudioForCue(folder + row.Sheet), *row.Found ? folder + row.Found : "") << row.FileLine;
    }
  }
  EXPECT_EQ(FindCueSheet(top + "/0/Album.flac"), top + "/0/Album.flac.cue");
  EXPECT_EQ(FindCueSheet(top + "/1/b.flac"), top + "/1/b.cue");
  WriteText(top + "/1/b.ogg", "x");
  EXPECT_EQ(FindCueSheet(top + "/1/b.ogg"), "");  // "ogg" files look for no sheet of their own
  WriteText(top + "/1/b.wv", "x");
  EXPECT_EQ(FindCueSheet(top + "/1/b.wv"), top + "/1/b.cue");  // a WavPack image does
}

TEST(CueSheets, UntitledTracksAreNamedFromTheSheetOrTheSource) {
  const struct { const char *Title, *Performer, *Album, *Name; } rows[] = {
      {"Song", "Band", "Live", "Song"}, {"", "Band", "Live", "Band - Live"}, {"", "", "Live", "Live"},
      {"", "Band", "", "Band"}, {"", "", "", "image"}};
  for (const auto &r : rows) {
    TCUERec t;
    t.Title = r.Title, t.Performer = r.Performer, t.Album = r.Album;
    EXPECT_EQ(CueTrackName(t, "/m/image.flac"), r.Name);
  }
}

}  // namespace
