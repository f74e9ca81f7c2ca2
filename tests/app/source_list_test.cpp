// SPDX-License-Identifier: GPL-3.0-or-later
// Collecting sources: types, folders, hidden names, loops and duplicates.
#include <gtest/gtest.h>

#include <filesystem>

#include "app/source_list.h"
#include "test_support.h"

namespace {

void Touch(const std::string &path) {
  fs::create_directories(fs::path(path).parent_path());
  WriteText(path, "x");
}

std::vector<std::string> Names(const TSourceCollection &c, const std::string &root) {
  std::vector<std::string> names;
  for (const TSourceItem &item : c.List()) names.push_back(item.FileName.substr(root.size() + 1));
  return names;
}

TEST(SourceList, AFolderTreeGivesItsSupportedFilesOnce) {
  const std::string root = TestFolder();
  for (const char *f : {"b.flac", "A.mp3", "notes.txt", "c.avi", "noextension", "sub/d.WAV",
                        "sub/deeper/e.ogg", ".hidden/f.flac", "sub/.g.mp3", "sub/x.flac/inner.wav"})
    Touch(root + "/" + f);
  fs::create_directory_symlink(root, root + "/sub/loop");  // points back up the tree

  TSourceCollection sources;
  EXPECT_EQ(sources.AddSourceFolder(root + "/", "*", false, true), 5);
  sources.Sort();
  EXPECT_EQ(Names(sources, root), (std::vector<std::string>{"A.mp3", "b.flac", "sub/d.WAV",
                                                            "sub/deeper/e.ogg", "sub/x.flac/inner.wav"}));
  EXPECT_EQ(sources.FileTypeSummary(), "1(mp3) 1(flac) 2(wav) 1(ogg)");

  // Dropping it all again adds nothing; the same file by another spelling neither.
  EXPECT_EQ(sources.AddSourceFolder(root, "*", false, true), 0);
  EXPECT_EQ(sources.AddSourceFile(root + "/sub/../b.flac", false), 0);
  EXPECT_EQ(sources.List().size(), 5u);
  // A pattern matches one folder without regard to case.
  TSourceCollection flac;
  EXPECT_EQ(flac.AddSourceFolder(root + "/", "*.FLAC", false, false), 1);
}

TEST(SourceList, CueSheetsStandForTheirAudio) {
  const std::string root = TestFolder();
  for (const char *f : {"album.flac", "album.cue", "lonely.cue", "x.mp3", "y.mp3"}) Touch(root + "/" + f);
  TSourceCollection sources;
  EXPECT_EQ(sources.AddSourceFile(root + "/album.cue", false), 1);
  EXPECT_EQ(sources.AddSourceFile(root + "/album.flac", false), 0);  // already there, from its sheet
  EXPECT_EQ(sources.AddSourceFile(root + "/lonely.cue", false), 0);
  ASSERT_EQ(sources.BadSheets.size(), 1u);  // no audio beside it: a failure of the run
  EXPECT_EQ(sources.BadSheets[0].CurrentInputFileName, root + "/lonely.cue");
  for (const char *f : {"x.mp3", "y.mp3"}) sources.AddSourceFile(root + "/" + f, false);
  ASSERT_EQ(sources.List().size(), 3u);
  EXPECT_EQ(sources.List()[0].FileName, root + "/album.flac");
  EXPECT_TRUE(sources.List()[0].Rec.HasCUE);
  EXPECT_EQ(sources.FileTypeSummary(), "1(flac+CUE) 2(mp3)");
}

TEST(SourceList, CaseMattersForIdentityNotForOrder) {
  const std::string root = TestFolder();
  for (const char *f : {"b.mp3", "B.mp3", "a.mp3", "C.mp3"}) Touch(root + "/" + f);
  TSourceCollection sources;
  for (const char *f : {"b.mp3", "C.mp3", "B.mp3", "a.mp3"}) sources.AddSourceFile(root + "/" + f, false);
  sources.Sort();
  EXPECT_EQ(Names(sources, root), (std::vector<std::string>{"a.mp3", "b.mp3", "B.mp3", "C.mp3"}));
}

}  // namespace
