// SPDX-License-Identifier: GPL-3.0-or-later
// The files that go with the music: a source folder's cover images and, on
// request, its files matching a pattern list ("*.log *.pdf"), copied beside
// the outputs made from it once the run has converted them.
//
// A folder gets them only when every output in it comes from one source
// folder: the covers of several albums in one flat folder would overwrite
// each other, so such a folder gets none, and the run says so. A copy is
// written under a hidden name and renamed when complete, keeps the source's
// modification time and permissions, and never replaces a file as new as its source or newer.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "engine/coder_thread.h"
#include "engine/partial_output.h"

// "cover.*", "folder.*" and "front.*" images, without regard to case.
bool IsCoverName(const std::string &FileName);
// A picture by its extension (jpg, jpeg, png, gif, webp, bmp; any case).
bool IsImageName(const std::string &FileName);
// The patterns of a space-separated list, without the empty ones.
std::vector<std::string> SplitPatterns(const std::string &Patterns);
// Why a pattern list cannot be used ("" when it can): patterns name files of
// the source folder, never folders.
std::string PatternListError(const std::string &Patterns);

class TBesideFiles {
 public:
  // Patterns: a space-separated list of "*", "?" and "[...]" patterns,
  // matched without regard to case; a leading "." is only matched by one.
  TBesideFiles(const std::string &Patterns, TPartialFiles *Partials);

  // A file the run reads (a source, a CUE sheet): never copied, and its
  // folder counts as a source folder of any output landing there.
  void AddSource(const std::string &Path);
  // An output the run has under its final name, and the source it came from.
  void AddOutput(const std::string &Source, const std::string &Output);

  // Copies into each output folder what it should get. Stopped is asked
  // between files and between the blocks of one; a stopped copy leaves
  // nothing behind. Warnings gets one entry per folder left out because of a
  // clash and one per file that could not be copied.
  void Copy(const std::function<bool()> &Stopped, std::vector<TThreadWarningRec> &Warnings);

  // After Copy: the files copied, and those left as they were because the
  // output folder already had them, as new or newer.
  int32_t Copied = 0;
  int32_t Present = 0;

 private:
  // The files of Folder to copy, by name: covers, the single picture, the matches.
  std::vector<std::string> Wanted(const std::string &Folder) const;
  // 1 copied, 0 left as it was; raises why it cannot be copied; -1 when stopped.
  int CopyOne(const std::string &From, const std::string &To, const std::function<bool()> &Stopped);

  std::vector<std::string> Patterns;
  TPartialFiles *Partials;
  std::set<TFileIdentity> RunFiles;          // sources, sheets and outputs
  std::set<std::string> OutputPaths;         // in their folder's real path
  std::set<std::string> SourceFolders;       // folders holding sources of the run
  struct TTarget {
    std::string Shown;                       // as the outputs name it
    std::set<std::string> Sources;           // the source folders of its outputs
  };
  std::map<std::string, TTarget> Targets;    // by the folder's real path
};
