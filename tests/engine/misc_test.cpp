// SPDX-License-Identifier: GPL-3.0-or-later
// File-type tables and the small routines the rest of the program leans on.
#include <gtest/gtest.h>

#include "base/misc.h"
#include "base/texts.h"

TEST(FileTypes, ExtensionsAndTheirDecoders) {
  EXPECT_EQ(GetFileExtension("/music/Track.FLAC"), "flac");
  EXPECT_EQ(GetFileExtension("a.b.mp3"), "mp3");
  EXPECT_EQ(GetFileExtension("/music.d/noextension"), "");
  EXPECT_FALSE(IsSupportedFileType("avi"));  // in the table, but only behind a CUE sheet
  EXPECT_TRUE(IsSupportedFileType("cue"));
  EXPECT_FALSE(IsSupportedFileType("FLAC"));  // callers pass lower case
  EXPECT_EQ(GetBASSStreamFunc("m4a"), BASS_MP4_StreamCreateFile);
  EXPECT_EQ(GetBASSStreamFunc("mp4"), BASS_MP4_StreamCreateFile);
  EXPECT_EQ(GetBASSStreamFunc("aac"), BASS_AAC_StreamCreateFile);
  TSupportedFileTypes row;
  InputFileByType("wv", row);
  EXPECT_TRUE(row.CUECapable);
}

TEST(FileTypes, UnknownExtensionsAreInternalErrors) {
  TSupportedFileTypes row;
  try {
    InputFileByType("xyz", row);
    FAIL();
  } catch (const EAssertFailed &e) {
    EXPECT_STREQ(e.what(), "Asssert failed : InputFileByType for xyz");
  }
  EXPECT_THROW(GetBASSStreamFunc("xyz"), EAssertFailed);
}

TEST(TimeTexts, ElapsedAndSplitTimes) {
  EXPECT_EQ(FormatElapsed(3725000, 0), "01:02:05");
  EXPECT_EQ(FormatElapsed(5000, 5000), "00:00:00");
  EXPECT_EQ(FormatElapsed(65536000 + 61000, 0), "00:01:01");  // 16-bit seconds wrap
  uint16_t h, m, s, hundredths;
  SecondsToTime(61.257, h, m, s, hundredths);
  EXPECT_EQ(h, 0);
  EXPECT_EQ(m, 1);
  EXPECT_EQ(s, 1);
  EXPECT_EQ(hundredths, 26);
}

TEST(Texts, ABadFormatStringFallsBackToEnglish) {
  const std::string saved = text_getting_audio_info_failed;
  text_getting_audio_info_failed = "Fehler %s %s";  // wrong placeholders for one integer
  const std::string text = FormatText(text_getting_audio_info_failed, 41);
  text_getting_audio_info_failed = saved;
  EXPECT_EQ(text, FormatText(std::string(EnglishText(text_getting_audio_info_failed)), 41));
  EXPECT_NE(text.find("41"), std::string::npos);
}
