// SPDX-License-Identifier: GPL-3.0-or-later
// CUE sheets: finding the sheet of an audio file and the audio file of a
// sheet, and reading a sheet's tracks. The reader searches keywords anywhere
// in a line, takes the rest of the line as the value, and uses only the
// sheet's first FILE.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

#include "base/misc.h"

// A sheet that cannot be read: a track number or a time that is no number.
class ECueSheetError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The sheet of an audio file ("album.cue" beside "album.flac", or
// "album.flac.cue"); the file itself when it is a sheet; "" when none.
std::string FindCueSheet(const std::string &FileName);
// The audio file a sheet describes; "" when none exists.
std::string FindAudioForCue(const std::string &CueName);
// The tracks of the sheet of FileName: one empty entry without a sheet (or a
// sheet without tracks), else one entry per track. Raises ECueSheetError.
void ParseCue(const std::string &FileName, TCUEArr &Tracks);
// "mm:ss:ff " into its three fields (-1 each when Text is blank). Raises
// ECueSheetError for a field that is no number.
void ParseCueTime(const std::string &Text, int32_t &Minutes, int32_t &Seconds, int32_t &Frames);
// A value without the characters file names cannot hold (and without quotes).
std::string CleanCueValue(const std::string &Value);
// What a track's output is named after its number: its title; without one,
// the sheet's performer and title, else the source's own name.
std::string CueTrackName(const TCUERec &Track, const std::string &SourceFileName);
// The start of a CUE track in seconds (INDEX 01, 75 frames a second).
double CueTrackStart(const TCUERec &Track);

// How a sheet's tracks are cut from its image. A pregap (INDEX 00 to INDEX 01)
// ends the previous track, as ripping tools cut it, unless PregapOwnTrack
// starts each track at its INDEX 00. With HiddenTrack, the audio before track
// 1's start becomes track 0 ("hidden track"); without it, that audio is left out.
struct TCueLayout {
  bool HiddenTrack = false;
  bool PregapOwnTrack = false;
};
// The start of a track as Layout cuts it, in seconds: INDEX 01, or a present
// INDEX 00 before it when pregaps are their tracks' own.
double CueTrackStart(const TCUERec &Track, const TCueLayout &Layout);
// Tracks as Layout cuts them: each track's StartTime and EndTime (the next
// one's start) set, and a hidden track put first when there is audio before
// track 1. A sheet with one track or none is left as it is.
void LayOutCueTracks(TCUEArr &Tracks, const TCueLayout &Layout);
// The title of a kept hidden track.
constexpr const char *HiddenTrackTitle = "Hidden track";
