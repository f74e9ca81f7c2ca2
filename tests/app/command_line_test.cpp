// SPDX-License-Identifier: GPL-3.0-or-later
// The arguments (send-to, batch switches, encoder keys read over the stored
// settings, arguments that cannot be used), --help, and the installed files
// that speak for the program: the desktop entry and bash completion.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <cctype>
#include <functional>
#include <optional>
#include <set>
#include <sstream>
#include <tuple>

#include "app/command_line.h"
#include "app/format_readers.h"
#include "base/misc.h"
#include "encoders/aac/aac_format.h"
#include "encoders/ape/ape_format.h"
#include "encoders/flac/flac_format.h"
#include "encoders/format.h"
#include "encoders/mp3/mp3_format.h"
#include "encoders/ogg/ogg_format.h"
#include "encoders/wavpack/wavpack_format.h"
#include "encoders/wma/wma_format.h"
#include "test_support.h"

namespace {

std::string Lower(std::string text) {
  for (char &c : text) c = char(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

TEST(CommandLine, Parsing) {
  const TParsedCommandLine p = ParseCommandLine(
      {"/INPUT", "a.wav", "/m/b c.flac", "/m/*.wav", "/HiddenTrack", "/KEEPGOING", "/OUTPUT", "/tmp/o", "/DEST", "FLAC",
       "/p", "3", "/createfullpath", "/SkipExisting", "/OWNPREGAPS", "/NoTags", "/Verify", "/NoSpread", "/KeepPartial",
       "/Names", "<artist>/<title>"});
  EXPECT_EQ(p.Options.InputPaths, (std::vector<std::string>{"a.wav", "/m/b c.flac", "/m/*.wav"}));
  EXPECT_EQ(std::tie(p.Mode, p.Options.OutputFolder, p.Options.DestinationFormat, p.ParallelFiles),
            std::make_tuple(TParsedCommandLine::mBatch, std::string("/tmp/o/"), dfFLAC, 3));
  const TCommandLineOptions &o = p.Options;
  for (const bool on : {o.CreateFullPath, o.KeepGoing, o.SkipExisting, o.HiddenTrack, o.OwnPregaps, o.NoTags, o.Verify,
                        o.NoSpread, o.KeepPartial, p.ParallelGiven, o.Names})
    EXPECT_TRUE(on);
  EXPECT_EQ(o.NamePattern, "<artist>/<title>");
  // Without a pattern: the stored one.
  EXPECT_EQ(ParseCommandLine({"/input", "a", "/names", "/output", "o"}).Options.NamePattern, "");
  EXPECT_TRUE(p.Errors.empty());
  EXPECT_EQ(ParseCommandLine({"/input", "a", "/output", "o"}).ParallelFiles, 1);
  EXPECT_FALSE(ParseCommandLine({"/input", "a", "/output", "o"}).ParallelGiven);

  // Without an output there is no batch: the window takes the switches.
  const TParsedCommandLine w = ParseCommandLine({"/input", "a.wav", "/dest", "mp3", "/p", "3", "/bitrate", "128"});
  EXPECT_EQ(std::tie(w.Mode, w.SwitchMode, w.Options.DestinationFormat, w.ParallelFiles),
            std::make_tuple(TParsedCommandLine::mWindow, true, dfMP3, 3));
  EXPECT_EQ(TCommandLine(w.Arguments).GetParamValue("bitrate", MissingKey), "128");
  EXPECT_FALSE(ParseCommandLine({"/DEBUG"}).SwitchMode);
  EXPECT_EQ(ParseCommandLine({}).Mode, TParsedCommandLine::mWindow);

  for (const std::vector<std::string> &bad : std::vector<std::vector<std::string>>{
           {"/input", "a", "/output", "o", "/p", "x"}, {"/input", "a", "/output", "o", "/p", "0"},
           {"/input", "a", "/output", "o", "/p"}, {"/input", "/output", "o"}})
    EXPECT_FALSE(ParseCommandLine(bad).Errors.empty()) << bad.back();
  // An empty folder, as an unset variable in a script gives.
  const TParsedCommandLine empty = ParseCommandLine({"/input", "a", "/output", ""});
  EXPECT_EQ(empty.Errors, std::vector<std::string>{"/output needs a folder"});
  EXPECT_NE(empty.Mode, TParsedCommandLine::mBatch);
  EXPECT_EQ(ParseCommandLine({"/input", "a", "/output", "o", "/dest", "flca"}).UnknownDestination, "flca");
  // "/copyfiles" takes the argument after it as its patterns, unless it is a switch.
  const struct { std::vector<std::string> Args; std::optional<std::string> Patterns; } copies[] = {
      {{"/COPYFILES", "*.log *.PDF", "/input", "a"}, "*.log *.PDF"}, {{"/input", "a", "/copyfiles", ""}, ""},
      {{"/input", "a", "/copyfiles", "/output", "o"}, std::nullopt},
      {{"/input", "a", "/output", "o", "/copyfiles"}, std::nullopt}};
  for (const auto &row : copies) {
    const TParsedCommandLine c = ParseCommandLine(row.Args);
    EXPECT_TRUE(c.Options.CopyFiles) << row.Args[2];
    EXPECT_EQ(c.Options.CopyPatterns, row.Patterns) << row.Args[2];
    EXPECT_EQ(c.Options.InputPaths, std::vector<std::string>{"a"}) << row.Args[2];
  }
  EXPECT_FALSE(ParseCommandLine({"/input", "a", "/output", "o", "/copyfiles", "*.log ../*.txt"}).Errors.empty());

  const TCommandLine line({"/input", "a", "/bitrate", "192", "/quality", "", "/BitRate", "256", "/loseless"});
  EXPECT_EQ(line.GetParamValue("bitrate", MissingKey), "256");  // the last one wins, in any case
  EXPECT_EQ(line.GetParamValue("quality", MissingKey), MissingKey);
  EXPECT_TRUE(line.HasParam("LOSELESS"));
  EXPECT_FALSE(line.HasParam("useprocodec"));
}

// A leading "~" as a shell reads it; anywhere else it is part of the name.
TEST(CommandLine, HomeFolderAsAShellExpandsIt) {
  const std::string oldHome = getenv("HOME") ? getenv("HOME") : "";
  setenv("HOME", "/home/user", 1);
  const std::pair<std::string, std::string> rows[] = {
      {"~", "/home/user"},          {"~/Music/*.flac", "/home/user/Music/*.flac"},
      {"~root/x", "/root/x"},       {"~no_such_user_here/x", "~no_such_user_here/x"},
      {"/music/~/a", "/music/~/a"}, {"a~", "a~"}};
  for (const auto &[given, expanded] : rows) EXPECT_EQ(ExpandHome(given), expanded) << given;
  setenv("HOME", oldHome.c_str(), 1);
}

// Encoder keys over stored settings: a key given sets what it names, a key
// left out keeps the stored value, a value that is no value fails.
TEST(CommandLine, EncoderKeysOverTheStoredSettings) {
  const std::string path = WriteText(TestFolder() + "/tonmill.conf",
      "[General]\nMP3Bitrate=12\nMP3MinBitrate=5\nMP3MaxBitrate=13\nMP3Quality=2\nMP3VBRMethod=1\nFLACCompression=3\n"
      "FLACl=7\nFLACBuffer=2304\nAACBandwidth=1\nAACQuality=150\nWMABitrate=24\nWMAAutoFindBitrate=YES\nOGGQuality=8\n"
      "OGGMax=13\nWVCompression=0\nWVHybrid=YES\n");
  TSettingsStore store(path);
  TCoder_engine engine;
  const auto mp3 = [&] { return *static_cast<const TMP3Options *>(engine.GetOptions(dfMP3)); };
  const auto ogg = [&] { return *static_cast<const TOGGOptions *>(engine.GetOptions(dfOGG)); };
  const auto wma = [&] { return *static_cast<const TWMAOptions *>(engine.GetOptions(dfWMA)); };
  const auto flac = [&] { return *static_cast<const TFLACOptions *>(engine.GetOptions(dfFLAC)); };
  const auto wv = [&] { return *static_cast<const TWavPackOptions *>(engine.GetOptions(dfWavPack)); };
  const auto ape = [&] { return *static_cast<const TAPEOptions *>(engine.GetOptions(dfAPE)); };
  const auto aac = [&] { return *static_cast<const TAACOptions *>(engine.GetOptions(dfAAC)); };
  const struct { TDestinationFormat Format; std::vector<std::string> Args; bool Fails; std::function<bool()> Holds; }
      rows[] = {
      {dfMP3, {"/dest", "mp3"}, false, [&] { auto o = mp3(); return o.BitrateType == btVBR && o.MinBitrate == 64 &&
                                         o.MaxBitrate == 256 && o.Quality == 2 && o.VBRMethod == vbrOld && o.StereoMode == 1 && !o.AutoFindBitrate; }},
      {dfMP3, {"/bitrate", "128", "/stereomode", "S", "/vbrmethod", "abr"}, false,
       [&] { auto o = mp3(); return o.BitrateType == btCBR && o.Bitrate == 128 && o.StereoMode == 0 && o.VBRMethod == vbrABR; }},
      {dfMP3, {"/preset", "fast_extreme", "/vbrmethod", "fastest"}, false,
       [&] { return mp3().BitrateType == btPRESET && mp3().Preset == 9 && mp3().VBRMethod == vbrOld; }},
      {dfMP3, {"/bitrate", "fast"}, true, {}},
      {dfFLAC, {"/dest", "flac"}, false, [&] { return flac().MaxLpcOrder == 7 && flac().BlockSize == 2304; }},
      {dfFLAC, {"/compression", "8"}, false,
       [&] { return flac().MaxLpcOrder == 12 && flac().ExhaustiveModelSearch && flac().BlockSize == 4096; }},
      {dfFLAC, {"/compression", "9"}, true, {}},
      {dfOGG, {"/avgbitrate", "10"}, false,
       [&] { return ogg().BitrateType == obCBR && ogg().Avg == 10 && ogg().Max == 13 && ogg().Quality == 8; }},
      {dfOGG, {"/quality", "3", "/maxbitrate", "192"}, false,
       [&] { return ogg().BitrateType == obQUALITY && ogg().Quality == 3 && ogg().Max == 192 && OGGBitrateAt(192) == -1; }},
      {dfOGG, {"/quality", "high"}, true, {}},
      {dfWavPack, {"/dest", "wavpack"}, false, [&] { return wv().Compression == 0 && wv().Hybrid; }},
      {dfWavPack, {"/compression", "high"}, false, [&] { return wv().Compression == 1; }},
      {dfAPE, {"/compression", "extra"}, false, [&] { return ape().Compression == 4; }},
      {dfAPE, {"/dest", "ape"}, false, [&] { return ape().Compression == TAPEOptions{}.Compression; }},
      {dfAAC, {"/bitrate", "96"}, false, [&] { return aac().Bitrate == 96 && aac().Bandwidth == 6000 && aac().Quality == 150; }},
      {dfAAC, {"/quality", "200", "/bandwidth", "12000"}, false, [&] { return aac().Bandwidth == 12000 && aac().Quality == 200; }},
      {dfAAC, {"/bitrate", "high"}, true, {}},
      {dfAAC, {"/container", "M4A"}, false, [&] { return aac().Container == TAACContainer::MP4; }},
      {dfAAC, {"/container", "mp4"}, true, [&] { return aac().Container == TAACContainer::ADTS; }},
      {dfWMA, {"/quality", "40"}, false,
       [&] { return wma().BitrateType == 1 && wma().Quality == 40 && wma().Bitrate == 256 && !wma().AutoFindBitrate; }},
      {dfWMA, {"/bitrate", "64", "/usepro"}, false, [&] { return wma().BitrateType == 0 && wma().Bitrate == 64; }},
      {dfWMA, {"/quality", "40", "/useprocodec"}, true, [&] { return !wma().UseProCodec && !wma().Lossless; }},
      {dfWMA, {"/quality", "40", "/loseless"}, true, [&] { return !wma().UseProCodec && !wma().Lossless; }},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.Args.back());
    const TFormatReading r = ReadFormatCommandLine(row.Format, TCommandLine(row.Args), store, engine);
    EXPECT_EQ(r.Error.empty(), !row.Fails) << r.Error;
    if (row.Holds) { EXPECT_TRUE(row.Holds()); }
  }
}

// --help is made from the format rows: every key a row reads is listed under
// its format, is a switch, and a range it names comes from a stored setting;
// bash completes every switch and key.
TEST(CommandLine, HelpAndCompletionListEveryKey) {
  const std::string help = UsageText();
  const std::string script = ReadText(TONMILL_SOURCE_DIR "/share/completion/tonmill");
  const size_t start = script.find("local switches=\"");
  ASSERT_NE(start, std::string::npos);
  std::istringstream words(script.substr(start + 16, script.find('"', start + 16) - start - 16));
  std::set<std::string> offered;
  for (std::string word; words >> word;) {
    EXPECT_TRUE(IsSwitch(word)) << word;
    offered.insert(Lower(word));
  }
  for (const char *plain : {"/input", "/output", "/dest", "/p", "/q", "/sendto", "/createfullpath", "/keeppartial",
                            "/hiddentrack", "/ownpregaps", "/notags", "/keepgoing", "/skipexisting", "/verify", "/nospread",
                            "/copyfiles", "/replaygain", "/names", "/mirror", "/dryrun"})
    EXPECT_TRUE(offered.count(plain)) << plain;
  // bash completes "/dest" with the line after "FORMAT is one of".
  const size_t names = help.find("FORMAT is one of\n") + 17;
  std::istringstream formats(help.substr(names, help.find('\n', names) - names));
  std::vector<std::string> listed;
  for (std::string word; formats >> word;) listed.push_back(word.substr(0, word.find(',')));
  for (const TFormatRow *row : FormatRows()) {
    SCOPED_TRACE(row->Name);
    EXPECT_EQ(std::count(listed.begin(), listed.end(), Lower(row->Name)), row->CreateCoder ? 1 : 0);
    if (row->Keys.empty()) continue;
    const size_t section = help.find("\n  " + Lower(row->Name));
    ASSERT_NE(section, std::string::npos);
    for (const char *key : row->Keys)
      EXPECT_TRUE(std::any_of(row->KeyHelp.begin(), row->KeyHelp.end(),
                              [&](const TKeyHelp &h) { return h.Key == std::string(key); })) << key;
    for (const TKeyHelp &h : row->KeyHelp) {
      EXPECT_TRUE(IsSwitch("/" + Lower(h.Key))) << h.Key;
      EXPECT_TRUE(offered.count("/" + Lower(h.Key))) << h.Key;
      EXPECT_NE(help.find("    /" + Lower(h.Key), section), std::string::npos) << h.Key;
      if (!h.Field) continue;
      const auto f = std::find_if(row->Fields.begin(), row->Fields.end(),
                                  [&](const TOptionField &f) { return std::string(f.StoredName) == h.Field; });
      const std::string range = f == row->Fields.end() ? "" : std::to_string(f->Min) + ".." + std::to_string(f->Max);
      EXPECT_TRUE(!range.empty() && help.find("/" + Lower(h.Key) + " " + range, section) != std::string::npos)
          << h.Field;
    }
  }
}

// The desktop entry offers the program in "Open With" for every type it
// reads, as the system's MIME database names it, and passes the files as "/sendto".
TEST(CommandLine, DesktopEntryListsEveryInputTypeAndOpensFilesAsSendTo) {
  const std::string entry = ReadText(TONMILL_SOURCE_DIR "/share/tonmill.desktop");
  EXPECT_NE(entry.find("\nExec=tonmill /sendto %F\n"), std::string::npos);
  EXPECT_EQ(ParseCommandLine({"/sendto"}).Mode, TParsedCommandLine::mWindow);
  const TParsedCommandLine opened = ParseCommandLine({"/SendTo", "/m/a b.flac", "/m/c.cue"});
  EXPECT_EQ(opened.Mode, TParsedCommandLine::mSendTo);
  EXPECT_EQ(opened.SendToPaths, (std::vector<std::string>{"/m/a b.flac", "/m/c.cue"}));
  // A file is known by its own extension, never by a dot in its folder's name.
  for (const auto &[path, extension] : std::vector<std::pair<std::string, std::string>>{
           {"/m/a b.FLAC", "flac"}, {"/m/album.flac/cover", ""}, {"../album/Album Image", ""}, {"c.d.cue", "cue"}})
    EXPECT_EQ(GetFileExtension(path), extension) << path;
  const size_t mime = entry.find("\nMimeType=");
  ASSERT_NE(mime, std::string::npos);
  const std::string types = ";" + entry.substr(mime + 10, entry.find('\n', mime + 1) - mime - 10);
  const std::string globs = ReadText("/usr/share/mime/globs2");  // lines: weight:type:*.ext
  if (globs.empty()) GTEST_SKIP() << "no shared MIME database";
  for (const auto &row : InputFileTypes) {
    bool named = false, listed = false;
    std::istringstream lines(globs);
    for (std::string line; std::getline(lines, line);) {
      const size_t colon = line.find(':'), star = line.rfind(":*.");
      if (colon == std::string::npos || star == std::string::npos || line.substr(star + 3) != row.Extension) continue;
      named = true;
      listed |= types.find(";" + line.substr(colon + 1, star - colon - 1) + ";") != std::string::npos;
    }
    EXPECT_TRUE(named && listed) << "none of the types of ." << row.Extension << " is in the entry";
  }
}

}  // namespace
