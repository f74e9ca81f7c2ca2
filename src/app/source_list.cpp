// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/source_list.h"

#include <dirent.h>
#include <fnmatch.h>
#include <sys/stat.h>

#include <QString>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fmt/printf.h>

#include "sources/cue.h"

namespace {

bool IsVideoFileType(const std::string &extension) {
  TSupportedFileTypes row;
  return IsAudioFileType(extension) && (InputFileByType(extension, row), row.CodecType == ctFFmpeg);
}

// The file and folder names of a folder, sorted for a stable order; errno
// when the folder cannot be read.
std::vector<std::string> FolderEntries(const std::string &folder, int &error) {
  std::vector<std::string> names;
  error = 0;
  DIR *dir = opendir(folder.c_str());
  if (!dir) {
    error = errno;
    return names;
  }
  while (const dirent *entry = readdir(dir)) {
    const std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  closedir(dir);
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace

void TSourceCollection::Clear() {
  Items.clear();
  Index.clear();
  BadSheets.clear();
}

void TSourceCollection::AddBadSheet(const std::string &Sheet, const std::string &Why, TFailureReason Reason) {
  for (const TThreadErrorRec &bad : BadSheets)
    if (bad.CurrentInputFileName == Sheet) return;
  TThreadErrorRec failure;
  failure.ErrorMessage = Why;
  failure.CurrentInputFileName = Sheet;
  failure.Reading = true;
  failure.Reason = Reason;
  BadSheets.push_back(failure);
}

int TSourceCollection::AddSourceFile(const std::string &Path, bool ClearFirst) {
  const std::string extension = GetFileExtension(Path);
  // A video file counts when named itself (its first audio stream is converted).
  if (!IsSupportedFileType(extension) && !IsVideoFileType(extension)) return 0;
  std::string path = NormalPath(Path);
  TSourceFileRec rec;
  if (extension == "cue") {
    // A sheet stands for the audio file it describes.
    // One that stands for nothing is no source, but a failure of the run.
    std::string audio;
    try {
      audio = FindAudioForCue(path);
    } catch (const std::exception &e) {
      AddBadSheet(path, e.what(), TFailureReason::BadSheet);
      return 0;
    }
    if (audio.empty() || !IsAudioFileType(GetFileExtension(audio))) {
      AddBadSheet(path, "CUE sheet " + path + ": " + (audio.empty() ? "its audio file is missing" : "its audio file " + audio + " is of a kind this program does not read"),
                  TFailureReason::SheetAudioMissing);
      SheetsWithoutAudio.push_back(path);
      return 0;
    }
    rec.HasCUE = true;
    rec.CueName = path;
    path = NormalPath(audio);
  }
  struct stat info;
  if (stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return 0;
  if (ClearFirst) {
    Items.clear();
    Index.clear();
  }
  if (!Index.insert(path).second) return 0;
  Items.push_back({path, rec});
  return 1;
}

int TSourceCollection::AddSourceFolder(const std::string &Folder, const std::string &Mask,
                                       bool ClearFirst, bool Recursive) {
  std::unordered_set<TFolderId, TFolderIdHash> visited;
  return AddFolder(Folder, Mask, ClearFirst, Recursive, visited);
}

int TSourceCollection::AddFolder(const std::string &Folder, const std::string &Mask,
                                 bool &ClearFirst, bool Recursive,
                                 std::unordered_set<TFolderId, TFolderIdHash> &Visited) {
  struct stat info;
  if (stat(Folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) return 0;
  // A symbolic link back up the tree must not lead round in circles.
  if (!Visited.insert({static_cast<unsigned long>(info.st_dev), static_cast<unsigned long>(info.st_ino)}).second)
    return 0;
  const std::string folder = Folder.empty() || Folder.back() == '/' ? Folder : Folder + "/";
  int error;
  std::vector<std::string> names = FolderEntries(folder, error);
  if (error) Unreadable.push_back("\"" + folder + "\": " + std::strerror(error));
  // Sheets before the files they describe: an image whose sheet is named
  // unlike it would otherwise be taken whole, and its sheet refused as a
  // duplicate.
  std::stable_partition(names.begin(), names.end(),
                        [](const std::string &name) { return GetFileExtension(name) == "cue"; });

  int added = 0;
  for (const std::string &name : names) {
    if (name[0] == '.') continue;  // hidden files, such as "._song.flac" beside a song
    if (fnmatch(Mask.c_str(), name.c_str(), FNM_CASEFOLD) != 0) continue;
    if (IsVideoFileType(GetFileExtension(name))) continue;  // a folder's films are not its music
    if (AddSourceFile(folder + name, ClearFirst) > 0) {
      ++added;
      ClearFirst = false;
    }
  }
  if (Recursive) {
    for (const std::string &name : names) {
      if (name[0] == '.') continue;
      const std::string sub = folder + name;
      if (stat(sub.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) continue;
      added += AddFolder(sub + "/", Mask, ClearFirst, true, Visited);
    }
  }
  return added;
}

void TSourceCollection::Sort() {
  std::vector<std::pair<QString, size_t>> keys;
  keys.reserve(Items.size());
  for (size_t i = 0; i < Items.size(); ++i)
    keys.push_back({QString::fromStdString(Items[i].FileName).toCaseFolded(), i});
  std::stable_sort(keys.begin(), keys.end(),
                   [](const auto &a, const auto &b) { return a.first < b.first; });
  TSourceList sorted;
  sorted.reserve(Items.size());
  for (const auto &key : keys) sorted.push_back(std::move(Items[key.second]));
  Items = std::move(sorted);
}

int TSourceCollection::OutputCount(const TCueLayout &Layout) const {
  int count = 0;
  for (const TSourceItem &item : Items) {
    TCUEArr tracks;
    if (item.Rec.HasCUE) {
      try {
        ParseCue(CueSheetOf(item), tracks);
        LayOutCueTracks(tracks, Layout);
      } catch (const std::exception &) {
        tracks.clear();
      }
    }
    count += std::max<int>(1, int(tracks.size()));
  }
  return count;
}

std::string TSourceCollection::FileTypeSummary() const {
  std::vector<std::pair<std::string, int>> counts;
  for (const TSourceItem &item : Items) {
    std::string key = GetFileExtension(item.FileName);
    if (item.Rec.HasCUE) key += "+CUE";
    auto it = std::find_if(counts.begin(), counts.end(), [&](const auto &c) {
      return QString::fromStdString(c.first).compare(QString::fromStdString(key), Qt::CaseInsensitive) == 0;
    });
    if (it == counts.end())
      counts.push_back({key, 1});
    else
      ++it->second;
  }
  std::string text;
  for (const auto &[key, count] : counts) {
    if (!text.empty()) text += ' ';
    text += fmt::sprintf("%d(%s)", count, key);
  }
  return text;
}
