// SPDX-License-Identifier: GPL-3.0-or-later
// Where outputs go and what they are called.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <set>

#include "engine/output_naming.h"
#include "engine/partial_output.h"
#include "platform/text_encoding.h"
#include "test_support.h"

// Plain, the full path under the destination (a folder made), beside the
// source; a folder that cannot be made is an error.
TEST(OutputNaming, ThreePlacements) {
  const std::string folder = TestFolder(), dest = folder + "/out/", source = folder + "/Music/Live/song.flac";
  fs::create_directories(dest);
  EXPECT_EQ(MakeOutputName(GetOutputFolder(source, {dest, false, false}), source, "mp3", false), dest + "song.mp3");
  const std::string fullFolder = GetOutputFolder(source, {dest, false, true});
  EXPECT_EQ(fullFolder, dest + folder.substr(1) + "/Music/Live/");
  EXPECT_TRUE(fs::is_directory(fullFolder));
  EXPECT_EQ(GetOutputFolder(source, {dest, true, false}), folder + "/Music/Live/");
  EXPECT_THROW(GetOutputFolder(source, {WriteText(folder + "/blocked", "x") + "/", false, true}), std::runtime_error);
}

// Which name an output takes: the next free "_%.3d" where names avoid existing files (same as source), where the name
// is a source of the run, or where the file there is no regular file (a folder, a pipe, a device: opening a pipe for
// writing would wait for ever); numbered tracks.
TEST(OutputNaming, NamesTakeTheNextFreeNumberWhereTheyMust) {
  const std::string folder = TestFolder() + "/";
  for (const char *name : {"song.flac", "song_001.flac", "c.d.ogg", "many.wav", "plain.wav"}) WriteText(folder + name, "x");
  for (int n = 1001; n <= 1999; ++n) WriteText(folder + "many_" + std::to_string(n).substr(1) + ".wav", "x");
  fs::create_directory(folder + "folder.wav");
  ASSERT_EQ(mkfifo((folder + "pipe.wav").c_str(), 0644), 0);
  fs::create_symlink("/dev/null", folder + "device.wav");
  const auto isSource = [&](const std::string &p) { return p == folder + "song.wav"; };
  const struct {
    std::string Name, Ext;
    bool AvoidExisting;
    std::string Expected;
  } rows[] = {
      {"song.flac", "flac", true, "song_002.flac"}, {"a.b.wav", "ogg", true, "a.b.ogg"},
      {"c.d.wav", "ogg", true, "c.d_001.ogg"},      {"many.mp3", "wav", true, "many_1000.wav"},
      {"song.flac", "wav", false, "song_001.wav"},  {"song.flac", "mp3", false, "song.mp3"},
      {"plain.flac", "wav", false, "plain.wav"},    {"plain.flac", "wav", true, "plain_001.wav"},
      {"folder.flac", "wav", false, "folder_001.wav"}, {"pipe.flac", "wav", false, "pipe_001.wav"},
      {"device.flac", "wav", true, "device_001.wav"},
      {TrackOutputName(3, "Intro"), "wav", false, "03 - Intro.wav"},
      {TrackOutputName(123, "y"), "ape", false, "123 - y.ape"},
  };
  for (const auto &row : rows)
    EXPECT_EQ(MakeOutputName(folder, "/in/" + row.Name, row.Ext, row.AvoidExisting, isSource), folder + row.Expected)
        << row.Name << " " << row.AvoidExisting;
}

// A title longer than a file name may be is cut on a whole character, at every width of the character it ends in; the
// number and the extension stay, and titles cut alike still name different files, the same file each time.
TEST(OutputNaming, NamesTooLongForTheFileSystemAreCut) {
  const std::string folder = TestFolder() + "/";
  std::string title;
  while (title.size() < 300) title += "\u00fc\u20ac\U0001D11E ";  // 2, 3 and 4 bytes
  std::set<std::string> names;
  const auto expectFits = [&](const std::string &name, const std::string &ending) {
    EXPECT_LE(name.size() - folder.size(), 254u);  // a companion file adds a letter
    EXPECT_TRUE(name.ends_with(ending)) << name;
    EXPECT_TRUE(IsValidUtf8(name)) << name;
  };
  for (size_t shift = 0; shift < 10; ++shift) {
    for (const char *end : {"A", "B"}) {
      SCOPED_TRACE(std::to_string(shift) + end);
      const std::string track = TrackOutputName(7, std::string(shift, 'x') + title + end);
      const std::string name = MakeOutputName(folder, track, "flac", true);
      EXPECT_EQ(name, MakeOutputName(folder, track, "flac", true));
      expectFits(name, ".flac");
      EXPECT_GE(name.size() - folder.size(), 250u);
      const std::string start = "07 - " + std::string(shift, 'x') + title.substr(0, 100);
      EXPECT_TRUE(name.substr(folder.size()).starts_with(start)) << name;
      EXPECT_TRUE(names.insert(name).second) << name;
      // Taken: numbered, by the naming and by the hidden file's completion alike.
      WriteText(name, "x");
      expectFits(MakeOutputName(folder, track, "flac", true), "_001.flac");
      TPartialOutput late(name, nullptr);
      late.Create();
      const std::string completed = late.Complete({});
      expectFits(completed, "_001.flac");
      EXPECT_TRUE(fs::exists(completed));
    }
  }
}

// Unfinished outputs under their hidden names: a live run's keeps its output's name taken and survives a clean-up, a
// dead run's goes, and the finished file lands on nothing but the file that was there when its job was named.
TEST(PartialOutputs, NamesCleanUpAndTheFinalRename) {
  const std::string folder = TestFolder() + "/";
  EXPECT_EQ(PartialFileName(folder + "song.mp3"), folder + ".song.mp3.tonmill-part");
  for (const auto &[name, partial] : {std::pair{".song.mp3.tonmill-part", true}, {"song.mp3.tonmill-part", false},
                                      {".tonmill-part", false}})
    EXPECT_EQ(IsPartialFileName(name), partial) << name;
  // A name at the limit still gets a hidden name of its own that fits.
  const std::string longName = folder + std::string(240, 'x') + "\u00e9.wav";
  const std::string longHidden = fs::path(PartialFileName(longName)).filename().string();
  EXPECT_LE(longHidden.size(), 255u);
  EXPECT_TRUE(IsPartialFileName(longHidden));
  EXPECT_NE(PartialFileName(longName), PartialFileName(folder + std::string(240, 'x') + "\u00e8.wav"));

  TPartialOutput live(folder + "song.wav", nullptr);
  live.Create();
  EXPECT_EQ(MakeOutputName(folder, "/in/song.flac", "wav", false), folder + "song_001.wav");

  WriteFileBytes(folder + ".dead.wav.tonmill-part", {1});
  fs::create_directory(folder + ".dir.wav.tonmill-part");
  fs::create_symlink(WriteText(folder + "keep.txt", "x"), folder + ".link.wav.tonmill-part");
  EXPECT_EQ(RemoveLeftPartials(folder), 1);
  EXPECT_FALSE(fs::exists(folder + ".dead.wav.tonmill-part"));
  for (const char *stays : {".song.wav.tonmill-part", ".dir.wav.tonmill-part", ".link.wav.tonmill-part", "keep.txt"})
    EXPECT_TRUE(fs::exists(fs::symlink_status(folder + stays))) << stays;

  WriteFileBytes(live.Name(), {1});
  EXPECT_EQ(live.Complete({}), folder + "song.wav");
  EXPECT_FALSE(fs::exists(live.Name()));
  // A file that appeared under the name meanwhile is never replaced; the one there when the job was named is.
  const auto complete = [&](const TFileIdentity &there, uint8_t byte) {
    TPartialOutput output(folder + "song.wav", nullptr);
    output.Create();
    WriteFileBytes(output.Name(), {byte});
    return output.Complete(there);
  };
  EXPECT_EQ(complete({}, 2), folder + "song_001.wav");
  EXPECT_EQ(ReadFileBytes(folder + "song.wav"), std::vector<uint8_t>{1});
  EXPECT_EQ(complete(RegularFileIdentity(folder + "song.wav"), 3), folder + "song.wav");
  EXPECT_EQ(ReadFileBytes(folder + "song.wav"), std::vector<uint8_t>{3});

  // A program ending at once takes its hidden files with it and makes no more.
  TPartialFiles held;
  TPartialOutput stopped(folder + "x.wav", &held);
  stopped.Create();
  held.RemoveAll();
  EXPECT_FALSE(fs::exists(stopped.Name()));
  TPartialOutput late(folder + "y.wav", &held);
  EXPECT_THROW(late.Create(), std::runtime_error);
  EXPECT_FALSE(fs::exists(late.Name()));
}
