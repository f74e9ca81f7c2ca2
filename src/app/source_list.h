// SPDX-License-Identifier: GPL-3.0-or-later
// Collecting the sources of a run: files and folders (recursively), CUE sheets
// resolved to their audio file, duplicates refused, sorted without regard to
// case. Main thread.
#pragma once

#include <string>
#include <unordered_set>

#include "base/misc.h"
#include "sources/cue.h"

class TSourceCollection {
 public:
  TSourceList &List() { return Items; }
  const TSourceList &List() const { return Items; }
  void Clear();

  // Adds one file when the program decodes its type (a video file too, for
  // its first audio stream); returns 1 when added.
  // With ClearFirst the list is emptied just before the file is kept.
  int AddSourceFile(const std::string &Path, bool ClearFirst);
  // Adds the files of Folder whose names match Mask ("*" and "?", any case),
  // then, when Recursive, those of its sub-folders (except names that begin
  // with "."), never entering a folder twice; video files only when named
  // themselves. Returns the number added.
  int AddSourceFolder(const std::string &Folder, const std::string &Mask, bool ClearFirst,
                      bool Recursive);
  void Sort();
  // The folders that could not be read while adding, each with the reason
  // ("\"/music/locked/\": Permission denied"), for the caller to report.
  std::vector<std::string> Unreadable;
  // The CUE sheets left out because the audio file they describe was not
  // found (or cannot be decoded), for the caller to report.
  std::vector<std::string> SheetsWithoutAudio;
  // Sheets that stand for no source (their audio is missing, of a type this
  // program does not read, or the sheet cannot be read), one failure each for
  // the run. Emptied by Clear only: a new list begins with its first kept file.
  std::vector<TThreadErrorRec> BadSheets;

  // The outputs a run writes when every sheet is split into its tracks (a
  // sheet that cannot be read counts as one output), cut as Layout says.
  int OutputCount(const TCueLayout &Layout = {}) const;
  // "3(mp3) 1(flac+CUE)": the count of each type, in order of first appearance.
  std::string FileTypeSummary() const;

 private:
  struct TFolderId {
    unsigned long Device, Inode;
    bool operator==(const TFolderId &o) const { return Device == o.Device && Inode == o.Inode; }
  };
  struct TFolderIdHash {
    size_t operator()(const TFolderId &id) const { return std::hash<unsigned long>()(id.Inode ^ (id.Device << 20)); }
  };
  int AddFolder(const std::string &Folder, const std::string &Mask, bool &ClearFirst,
                bool Recursive, std::unordered_set<TFolderId, TFolderIdHash> &Visited);

  void AddBadSheet(const std::string &Sheet, const std::string &Why, TFailureReason Reason);

  TSourceList Items;
  std::unordered_set<std::string> Index;  // the paths in Items
};
