// SPDX-License-Identifier: GPL-3.0-or-later
#include "sources/cue.h"

#include <dirent.h>
#include <locale.h>
#include <wctype.h>

#include <algorithm>
#include <cstdlib>
#include <cwchar>
#include <fstream>
#include <iterator>

#include "platform/text_encoding.h"

namespace {

std::string FolderOf(const std::string &path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string Trim(const std::string &text) {
  size_t first = 0, last = text.size();
  while (first < last && static_cast<unsigned char>(text[first]) <= ' ') ++first;
  while (last > first && static_cast<unsigned char>(text[last - 1]) <= ' ') --last;
  return text.substr(first, last - first);
}

bool IsTrackLine(const std::string &line) {
  return line.find("TRACK") != std::string::npos && line.find("AUDIO") != std::string::npos;
}

std::string ReplaceAll(std::string text, const std::string &from, const std::string &to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
  return text;
}

// The value of Key in Lines[first..last], never past the next track line.
std::string FindValue(const std::vector<std::string> &Lines, const std::string &Key, int First,
                      int Last, bool Clean) {
  for (int i = std::max(0, First); i <= Last && i < int(Lines.size()); ++i) {
    const std::string &line = Lines[size_t(i)];
    if (IsTrackLine(line)) return {};
    const size_t at = line.find(Key);
    if (at == std::string::npos) continue;
    const std::string value = Trim(line.substr(at + Key.size()));
    return Clean ? CleanCueValue(value) : value;
  }
  return {};
}

// The FILE value: the quoted name when quoted (whatever type word follows),
// else the value without its type word; cleaned like every name. With
// NameOnly, a folder part ("C:\Rips\Album.wav") is dropped first.
std::string SheetFileName(const std::string &raw, bool NameOnly = false) {
  std::string name = raw;
  const size_t open = raw.find('"');
  const size_t close = open == std::string::npos ? open : raw.find('"', open + 1);
  if (close != std::string::npos) {
    name = raw.substr(open + 1, close - open - 1);
  } else {
    name = ReplaceAll(name, " WAVE", "");
    for (const char *type : {" MP3", " AIFF", " BINARY", " MOTOROLA"}) {
      const std::string t = type;
      if (name.size() > t.size() && name.compare(name.size() - t.size(), t.size(), t) == 0)
        name.erase(name.size() - t.size());
    }
  }
  if (NameOnly) {
    const size_t separator = name.find_last_of("/\\");
    if (separator != std::string::npos) name.erase(0, separator + 1);
  }
  return CleanCueValue(name);
}

int32_t ToInteger(const std::string &text, const std::string &what, const std::string &sheet) {
  const std::string trimmed = Trim(text);
  char *end = nullptr;
  const long value = std::strtol(trimmed.c_str(), &end, 10);
  if (trimmed.empty() || *end != '\0' || value < INT32_MIN || value > INT32_MAX)
    throw ECueSheetError("CUE sheet " + sheet + ": " + what + " \"" + trimmed + "\" is not a number");
  return int32_t(value);
}

std::vector<std::string> LoadSheet(const std::string &CueName) {
  std::ifstream file(CueName, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(file)), {});
  return SplitLines(DecodeText(bytes));
}

// Letters of every script in one case, so names differing only in case
// compare equal; a name that is no valid UTF-8 folds ASCII letters only.
std::wstring FoldCase(const std::string &Name) {
  static const locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", locale_t(0));
  std::wstring wide(Name.size(), L'\0');
  size_t length = size_t(-1);
  if (utf8) {
    const locale_t previous = uselocale(utf8);
    length = std::mbstowcs(wide.data(), Name.c_str(), wide.size());
    uselocale(previous);
  }
  if (length == size_t(-1)) {
    wide.clear();
    for (const unsigned char c : Name) wide += wchar_t(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    return wide;
  }
  wide.resize(length);
  for (wchar_t &c : wide) c = wchar_t(towlower_l(wint_t(c), utf8));
  return wide;
}

// The audio types tried for a sheet, in order, before the other audio types.
const char *const SheetAudioOrder[] = {"wav", "wv", "wma", "ape", "mp3", "flac"};

// The audio file a sheet's FILE line names, looked up beside the sheet without
// regard to case. Sheets are often written for another type than the image
// beside them ("Album.wav" for "Album.flac"): when the named file is missing,
// the same name with another audio extension is taken.
std::string FindFileBeside(const std::string &CueName, const std::string &Named) {
  if (Named.empty()) return {};
  const std::string folder = FolderOf(CueName);
  const std::string extension = GetFileExtension(Named);
  const std::string stem = extension.empty() ? Named : Named.substr(0, Named.size() - extension.size() - 1);
  std::vector<std::string> wanted;
  if (IsAudioFileType(extension)) wanted.push_back(Named);
  std::vector<std::string> others(std::begin(SheetAudioOrder), std::end(SheetAudioOrder));
  for (const TSupportedFileTypes &row : InputFileTypes)
    if (IsAudioFileType(row.Extension) && std::find(others.begin(), others.end(), row.Extension) == others.end())
      others.push_back(row.Extension);
  for (const std::string &other : others)
    if (other != extension) wanted.push_back(stem + "." + other);

  // The folder's names, each with its folded form, in a stable order.
  std::vector<std::pair<std::string, std::wstring>> entries;
  if (DIR *dir = opendir(folder.empty() ? "." : folder.c_str())) {
    while (const dirent *entry = readdir(dir)) entries.emplace_back(entry->d_name, FoldCase(entry->d_name));
    closedir(dir);
  }
  std::sort(entries.begin(), entries.end());
  for (const std::string &name : wanted) {
    if (IsRegularFile(folder + name)) return folder + name;  // exactly as written
    const std::wstring folded = FoldCase(name);
    for (const auto &[entry, entryFolded] : entries)
      if (entryFolded == folded && IsRegularFile(folder + entry)) return folder + entry;
  }
  return {};
}

}  // namespace

std::string CleanCueValue(const std::string &Value) {
  std::string clean;
  for (char c : Value)
    if (std::string("\"<>|*,?/\\:;=+").find(c) == std::string::npos) clean += c;
  return clean;
}

std::string CueTrackName(const TCUERec &Track, const std::string &SourceFileName) {
  if (!Track.Title.empty()) return Track.Title;
  if (!Track.Performer.empty() && !Track.Album.empty()) return Track.Performer + " - " + Track.Album;
  if (!Track.Performer.empty() || !Track.Album.empty()) return Track.Performer + Track.Album;
  return GetFileNameWithoutExt(SourceFileName);
}

double CueTrackStart(const TCUERec &Track) {
  return Track.Index01Minutes * 60.0 + Track.Index01Seconds + Track.Index01Frames / 75.0;
}

double CueTrackStart(const TCUERec &Track, const TCueLayout &Layout) {
  const double index01 = CueTrackStart(Track);
  if (!Layout.PregapOwnTrack || Track.Index00Minutes < 0 || Track.Index00Seconds < 0 || Track.Index00Frames < 0)
    return index01;
  const double index00 = Track.Index00Minutes * 60.0 + Track.Index00Seconds + Track.Index00Frames / 75.0;
  return std::min(index00, index01);  // an INDEX 00 after INDEX 01 is no pregap
}

void LayOutCueTracks(TCUEArr &Tracks, const TCueLayout &Layout) {
  if (Tracks.size() < 2) return;
  for (TCUERec &track : Tracks) {
    track.StartTime = CueTrackStart(track, Layout);
    track.InSeconds = true;
  }
  if (Layout.HiddenTrack && Tracks.front().StartTime > 0) {
    TCUERec hidden = Tracks.front();
    hidden.TrackNumber = 0;
    hidden.Title = HiddenTrackTitle;
    hidden.Hidden = true;
    hidden.Index00Minutes = hidden.Index00Seconds = hidden.Index00Frames = -1;
    hidden.Index01Minutes = hidden.Index01Seconds = hidden.Index01Frames = 0;
    hidden.StartTime = 0;
    Tracks.insert(Tracks.begin(), hidden);
  }
  for (size_t k = 0; k + 1 < Tracks.size(); ++k) Tracks[k].EndTime = Tracks[k + 1].StartTime;
}

std::string FindCueSheet(const std::string &FileName) {
  const std::string extension = GetFileExtension(FileName);
  if (extension == "cue") return FileName;
  for (const TSupportedFileTypes &row : InputFileTypes) {
    if (row.Extension == extension && row.CUECapable) {
      const std::string candidate = FolderOf(FileName) + GetFileNameWithoutExt(FileName) + ".cue";
      if (IsRegularFile(candidate)) return candidate;
    }
  }
  const std::string candidate = FileName + ".cue";
  return IsRegularFile(candidate) ? candidate : std::string();
}

std::string FindAudioForCue(const std::string &CueName) {
  const std::string base = FolderOf(CueName) + GetFileNameWithoutExt(CueName);
  if (IsRegularFile(base)) return base;  // album.flac.cue
  for (const char *ext : SheetAudioOrder)
    if (IsRegularFile(base + "." + ext)) return base + "." + ext;
  // A sheet named unlike its audio: the file its FILE line names.
  const std::vector<std::string> lines = LoadSheet(CueName);
  const int firstTrack = int(std::find_if(lines.begin(), lines.end(), IsTrackLine) - lines.begin());
  const std::string named = FindValue(lines, "FILE", 0, firstTrack - 1, false);
  return named.empty() ? std::string() : FindFileBeside(CueName, SheetFileName(named, true));
}

void ParseCueTime(const std::string &Text, int32_t &Minutes, int32_t &Seconds, int32_t &Frames) {
  Minutes = Seconds = Frames = -1;
  if (Trim(Text).empty()) return;
  int32_t *targets[] = {&Minutes, &Seconds, &Frames};
  int field = 0;
  std::string current;
  for (size_t i = 0; i < Text.size() && field < 3; ++i) {
    const char c = Text[i];
    const bool last = i + 1 == Text.size();
    if (c == '.' || c == ':' || last) {
      *targets[field++] = ToInteger(current, "time field", "");
      current.clear();
    } else {
      current += c;
    }
  }
}

void ParseCue(const std::string &FileName, TCUEArr &Tracks) {
  Tracks.assign(1, TCUERec{});
  const std::string cueName = FindCueSheet(FileName);
  if (cueName.empty()) return;
  const std::vector<std::string> lines = LoadSheet(cueName);

  std::string albumPerformer, albumTitle, sheetFile;
  size_t track = 1;
  const int last = int(lines.size()) - 1;
  for (int i = 0; i <= last; ++i) {
    const std::string &line = lines[size_t(i)];
    if (!IsTrackLine(line)) continue;
    const size_t from = line.find("TRACK") + 5, to = line.find("AUDIO");
    const int32_t number =
        ToInteger(to > from ? line.substr(from, to - from) : std::string(), "track number", cueName);
    if (albumPerformer.empty()) {
      albumPerformer = FindValue(lines, "PERFORMER", 0, i - 1, true);
      albumTitle = FindValue(lines, "TITLE", 0, i - 1, true);
    }
    if (sheetFile.empty()) sheetFile = SheetFileName(FindValue(lines, "FILE", 0, i - 1, false));
    Tracks.resize(track);
    TCUERec &t = Tracks[track - 1];
    t = TCUERec{};
    t.TrackNumber = number;
    t.Title = FindValue(lines, "TITLE", i + 1, last, true);
    t.Performer = FindValue(lines, "PERFORMER", i + 1, last, true);
    t.Album = albumTitle;
    t.FileName = sheetFile;
    if (t.Performer.empty()) t.Performer = albumPerformer;
    try {
      ParseCueTime(FindValue(lines, "INDEX 00", i + 1, last, false) + " ", t.Index00Minutes,
                   t.Index00Seconds, t.Index00Frames);
      ParseCueTime(FindValue(lines, "INDEX 01", i + 1, last, false) + " ", t.Index01Minutes,
                   t.Index01Seconds, t.Index01Frames);
    } catch (const ECueSheetError &e) {
      throw ECueSheetError("CUE sheet " + cueName + ": track " + std::to_string(number) + ": " +
                           std::string(e.what()).substr(std::string("CUE sheet : ").size()));
    }
    t.InSeconds = false;
    ++track;
  }
}
