// SPDX-License-Identifier: GPL-3.0-or-later
#include "tags/read_tags.h"

#include "platform/tags/tags.h"
#include "sources/open_stream.h"

void ReadTags(const std::string &FileName, TTagRec &Tags) {
  if (!HasSourceStream(FileName)) return;
  const HSTREAM stream = OpenSourceStream(FileName);
  Tags = TTagRec{};
  Tags.Album = TAGS_Read(stream, "%ALBM");
  Tags.Artist = TAGS_Read(stream, "%ARTI");
  Tags.Comment = TAGS_Read(stream, "%CMNT");
  Tags.Genre = TAGS_Read(stream, "%GNRE");
  Tags.Title = TAGS_Read(stream, "%TITL");
  Tags.Track = TAGS_Read(stream, "%TRCK");
  Tags.Year = TAGS_Read(stream, "%YEAR");
  if (Tags.Track.empty()) Tags.Track = "0";
  Tags.AlbumArtist = TAGS_Read(stream, "%AART");
  Tags.Disc = TAGS_Read(stream, "%DISC");
  Tags.IsEmpty = Tags.Album + Tags.Artist + Tags.Comment + Tags.Genre + Tags.Title + Tags.Track +
                     Tags.Year == "0";
  BASS_StreamFree(stream);
}
