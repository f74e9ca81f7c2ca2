// SPDX-License-Identifier: GPL-3.0-or-later
// The source's tags written into an output in its format's own kind of tags:
// ID3v2.4 for MP3 (beside its ID3v1 block) and at the head of ADTS AAC,
// Vorbis comments for Ogg and FLAC, APEv2 for Monkey's Audio and WavPack,
// RIFF INFO and an ID3 chunk for WAV, MP4 atoms for .m4a files. WMA outputs
// get their attributes from their encoder; here only their cover. Each
// format's row names its writer.
#pragma once

#include <string>

#include "base/misc.h"
#include "tags/cover_art.h"

namespace TagLib {
class IOStream;
}

// Saves Tags and Cover into the output open as Stream; false when the file
// cannot be read as the writer's kind of file or saving failed.
using TTagWriter = bool (*)(TagLib::IOStream &Stream, const TTagRec &Tags, const TCoverArt &Cover);

namespace tag_writers {
bool MP3(TagLib::IOStream &Stream, const TTagRec &Tags, const TCoverArt &Cover);  // ID3v2.4
bool WMA(TagLib::IOStream &Stream, const TTagRec &Tags, const TCoverArt &Cover);  // the cover only
bool Ogg(TagLib::IOStream &Stream, const TTagRec &Tags, const TCoverArt &Cover);  // Ogg Vorbis comments
bool FLAC(TagLib::IOStream &Stream, const TTagRec &Tags, const TCoverArt &Cover);
bool APE(TagLib::IOStream &Stream, const TTagRec &Tags, const TCoverArt &Cover);
bool WavPack(TagLib::IOStream &Stream, const TTagRec &Tags, const TCoverArt &Cover);
bool WAV(TagLib::IOStream &Stream, const TTagRec &Tags, const TCoverArt &Cover);
bool MP4(TagLib::IOStream &Stream, const TTagRec &Tags, const TCoverArt &Cover);
// An ID3v2.4 tag before the first frame (raw streams such as ADTS).
bool ID3Head(TagLib::IOStream &Stream, const TTagRec &Tags, const TCoverArt &Cover);
// MP4 atoms in an MP4 file, else an ID3v2.4 head: a format with both containers.
bool MP4OrID3Head(TagLib::IOStream &Stream, const TTagRec &Tags, const TCoverArt &Cover);
}  // namespace tag_writers

// Adds title, artist, album, year (DATE), track number, genre and comment
// (those with a value; track "0" is none) and Cover, when it has one, as the
// front cover. What the encoder wrote itself stays. Raises, saying which
// file, when the file cannot be read as its format or written back whole.
// A null Writer is a fault of the format's row, and raised as one.
void WriteOutputTags(const std::string &FileName, TTagWriter Writer, const TTagRec &Tags, const TCoverArt &Cover);
