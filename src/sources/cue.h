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
