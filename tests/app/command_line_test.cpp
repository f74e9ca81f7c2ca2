// SPDX-License-Identifier: GPL-3.0-or-later
// The arguments: send-to, batch switches, and arguments that cannot be used.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <cctype>

#include "app/command_line.h"
#include "encoders/format.h"

namespace {

TEST(CommandLine, BatchSwitchesInAnyCase) {
  const TParsedCommandLine p =
      ParseCommandLine({"/INPUT", "a.wav", "/HiddenTrack", "/KEEPGOING", "/OUTPUT", "/tmp/o", "/DEST", "FLAC",
                        "/p", "3", "/createfullpath", "/SkipExisting", "/OWNPREGAPS", "/NoTags", "/Verify", "/NoSpread"});
  EXPECT_EQ(p.Mode, TParsedCommandLine::mBatch);
  EXPECT_EQ(p.Options.InputPaths, std::vector<std::string>{"a.wav"});
  EXPECT_EQ(p.Options.OutputFolder, "/tmp/o/");
  EXPECT_EQ(p.Options.DestinationFormat, dfFLAC);
  EXPECT_EQ(p.ParallelFiles, 3);
  EXPECT_TRUE(p.Options.CreateFullPath);
  EXPECT_TRUE(p.Options.KeepGoing);
  EXPECT_TRUE(p.Options.SkipExisting);
  EXPECT_TRUE(p.Options.HiddenTrack);
  EXPECT_TRUE(p.Options.OwnPregaps);
  EXPECT_TRUE(p.Options.NoTags);
  EXPECT_TRUE(p.Options.Verify);
  EXPECT_TRUE(p.Options.NoSpread);
  EXPECT_FALSE(p.ReportErrors);
  EXPECT_TRUE(p.Errors.empty());
}

TEST(CommandLine, EveryArgumentUpToTheNextSwitchIsAnInput) {
  const TParsedCommandLine p = ParseCommandLine(
      {"/input", "/music/a.flac", "/music/b c.flac", "/music/*.wav", "/output", "/out", "/dest", "wav"});
  EXPECT_EQ(p.Options.InputPaths,
            (std::vector<std::string>{"/music/a.flac", "/music/b c.flac", "/music/*.wav"}));
  EXPECT_EQ(p.ParallelFiles, 1);
}

TEST(CommandLine, WithoutOutputThereIsNoBatch) {
  // The window still takes the switches: the format, its keys, "/p", no reports.
  const TParsedCommandLine p = ParseCommandLine({"/input", "a.wav", "/dest", "mp3", "/p", "3", "/bitrate", "128"});
  EXPECT_EQ(p.Mode, TParsedCommandLine::mWindow);
  EXPECT_TRUE(p.SwitchMode);
  EXPECT_EQ(p.Options.DestinationFormat, dfMP3);
  EXPECT_EQ(p.ParallelFiles, 3);
  EXPECT_FALSE(p.ReportErrors);
  EXPECT_EQ(TCommandLine(p.Arguments).GetParamValue("bitrate", MissingKey), "128");
  EXPECT_FALSE(ParseCommandLine({"/sendto", "a.wav", "b.wav"}).SwitchMode);
  EXPECT_FALSE(ParseCommandLine({"/DEBUG"}).SwitchMode);
  EXPECT_EQ(ParseCommandLine({"/DEBUG"}).Mode, TParsedCommandLine::mWindow);
  EXPECT_EQ(ParseCommandLine({}).Mode, TParsedCommandLine::mWindow);
}

TEST(CommandLine, SendToTakesEveryPath) {
  const TParsedCommandLine p = ParseCommandLine({"/SendTo", "/a/x.mp3", "/b"});
  EXPECT_EQ(p.Mode, TParsedCommandLine::mSendTo);
  EXPECT_EQ(p.SendToPaths, (std::vector<std::string>{"/a/x.mp3", "/b"}));
}

TEST(CommandLine, UnusableArgumentsAreExplained) {
  EXPECT_FALSE(ParseCommandLine({"/input", "a", "/output", "o", "/p", "x"}).Errors.empty());
  EXPECT_FALSE(ParseCommandLine({"/input", "a", "/output", "o", "/p", "0"}).Errors.empty());
  EXPECT_FALSE(ParseCommandLine({"/input", "a", "/output", "o", "/p"}).Errors.empty());
  EXPECT_FALSE(ParseCommandLine({"/input", "/output", "o"}).Errors.empty());
  // An empty folder, as an unset variable in a script gives (fuzzing found it read before the text).
  const TParsedCommandLine empty = ParseCommandLine({"/input", "a", "/output", ""});
  EXPECT_EQ(empty.Errors, std::vector<std::string>{"/output needs a folder"});
  EXPECT_NE(empty.Mode, TParsedCommandLine::mBatch);
  const TParsedCommandLine p = ParseCommandLine({"/input", "a", "/output", "o", "/dest", "flca"});
  EXPECT_EQ(p.Options.DestinationFormat, 0);
  EXPECT_EQ(p.UnknownDestination, "flca");
}

// A leading "~" as a shell reads it; anywhere else it is part of the name.
TEST(CommandLine, HomeFolderAsAShellExpandsIt) {
  const std::string oldHome = getenv("HOME") ? getenv("HOME") : "";
  setenv("HOME", "/home/user", 1);
  const std::pair<std::string, std::string> rows[] = {
      {"~", "/home/user"},           {"~/Music/*.flac", "/home/user/Music/*.flac"},
      {"~root/x", "/root/x"},        {"~no_such_user_here/x", "~no_such_user_here/x"},
      {"/music/~/a", "/music/~/a"},  {"a~", "a~"}};
  for (const auto &[given, expanded] : rows) EXPECT_EQ(ExpandHome(given), expanded) << given;
  const TParsedCommandLine p = ParseCommandLine({"/input", "~/a.flac", "~/b.flac", "/output", "~/out"});
  EXPECT_EQ(p.Options.InputPaths, (std::vector<std::string>{"/home/user/a.flac", "/home/user/b.flac"}));
  EXPECT_EQ(p.Options.OutputFolder, "/home/user/out/");
  EXPECT_FALSE(p.ParallelGiven);
  EXPECT_TRUE(ParseCommandLine({"/input", "a", "/output", "o", "/p", "1"}).ParallelGiven);
  setenv("HOME", oldHome.c_str(), 1);
}

TEST(CommandLine, EncoderKeys) {
  const TCommandLine line({"/input", "a", "/Bitrate", "192", "/quality", "", "/bitrate", "256", "/loseless"});
  EXPECT_EQ(line.GetParamValue("bitrate", MissingKey), "256");  // the last one wins
  EXPECT_EQ(line.GetParamValue("quality", MissingKey), MissingKey);
  EXPECT_EQ(line.GetParamValue("preset", MissingKey), MissingKey);
  EXPECT_TRUE(line.HasParam("LOSELESS"));
  EXPECT_FALSE(line.HasParam("useprocodec"));
}

// --help is made from the format rows: every key a row reads is listed under its
// format, is a switch (or it would be taken for an input), and a range it names
// comes from a stored setting the row has.
TEST(CommandLine, HelpListsEveryEncoderKeyOfEveryFormat) {
  const std::string help = UsageText();
  auto lower = [](std::string text) {
    for (char &c : text) c = char(std::tolower(static_cast<unsigned char>(c)));
    return text;
  };
  for (const TFormatRow *row : FormatRows()) {
    SCOPED_TRACE(row->Name);
    if (row->Keys.empty()) continue;
    const size_t section = help.find("\n  " + lower(row->Name));
    ASSERT_NE(section, std::string::npos);
    for (const char *key : row->Keys) {
      bool described = false;
      for (const TKeyHelp &h : row->KeyHelp) described |= std::string(h.Key) == key;
      EXPECT_TRUE(described) << key;
    }
    for (const TKeyHelp &h : row->KeyHelp) {
      EXPECT_TRUE(IsSwitch("/" + lower(h.Key))) << h.Key;
      EXPECT_NE(help.find("    /" + lower(h.Key), section), std::string::npos) << h.Key;
      if (!h.Field) continue;
      bool found = false;
      for (const TOptionField &f : row->Fields)
        if (std::string(f.StoredName) == h.Field) {
          found = true;
          EXPECT_NE(help.find("/" + lower(h.Key) + " " + std::to_string(f.Min) + ".." + std::to_string(f.Max), section),
                    std::string::npos);
        }
      EXPECT_TRUE(found) << h.Field;
    }
  }
}

}  // namespace
