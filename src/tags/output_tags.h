// SPDX-License-Identifier: GPL-3.0-or-later
// The source's tags written into an output in its format's own kind of tags:
// ID3v2.4 for MP3 (beside its ID3v1 block) and at the head of ADTS AAC,
// Vorbis comments for Ogg Vorbis and FLAC, APEv2 for Monkey's Audio and
// WavPack, RIFF INFO and an ID3 chunk for WAV. WMA outputs get their
// attributes from their encoder; here only their cover.
#pragma once

#include <string>

#include "base/misc.h"
#include "tags/cover_art.h"

// Adds title, artist, album, year (DATE), track number, genre and comment
// (those with a value; track "0" is none) and Cover, when it has one, as the
// front cover. What the encoder wrote itself stays. Raises, saying which
// file, when the file cannot be read as its format or written back whole.
void WriteOutputTags(const std::string &FileName, TDestinationFormat Format, const TTagRec &Tags,
                     const TCoverArt &Cover);
