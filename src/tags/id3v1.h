// SPDX-License-Identifier: GPL-3.0-or-later
// ID3v1 tags: the 128-byte block at the end of an MP3 file (with the track
// number in the ID3v1.1 manner), and the 148 genre names.
#pragma once

#include <cstdint>
#include <string>

#include "base/misc.h"

constexpr int ID3v1GenreCount = 148;
// The genre name of a number ("" past the table).
const char *ID3v1GenreName(int Number);
// The genre number of a name (without regard to case), 255 when unknown.
int ID3v1GenreNumber(const std::string &Name);

// Text for ID3v1 fields: UTF-8 to ISO-8859-1, "?" for what it cannot hold.
std::string ToLatin1(const std::string &Utf8);

// The reader and writer of one file's ID3v1 block. Text properties hold
// ISO-8859-1 bytes.
class TJvID3v1 {
 public:
  std::string FileName;
  std::string SongName, Artist, Album, Year, Comment;
  uint8_t Genre = 255;
  uint8_t AlbumTrack = 0;

  // Reads the file's block into the properties (they stay empty without one).
  void SetActive(bool Active);
  bool Active() const { return IsActive; }
  void SetGenreAsString(const std::string &Name) { Genre = uint8_t(ID3v1GenreNumber(Name)); }
  std::string GenreAsString() const { return ID3v1GenreName(Genre); }
  // The 128 bytes of the block for the properties.
  std::string Block() const;
  // Writes the block over the file's own, or appends it; false, with errno
  // telling why, when the file does not exist or the block could not be
  // written whole.
  bool Commit() const;

 private:
  bool IsActive = false;
};

// Writes Tags as the ID3v1 block of the file at FileName; false, with errno
// telling why, when it could not.
bool WriteID3v1Tag(const std::string &FileName, const TTagRec &Tags);
