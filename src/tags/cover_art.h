// SPDX-License-Identifier: GPL-3.0-or-later
// The front cover embedded in a source, to carry into its outputs.
#pragma once

#include <string>

struct TCoverArt {
  std::string MimeType;  // "image/jpeg", "image/png"
  std::string Data;      // the image file's bytes; empty: no cover
  bool Damaged = false;  // the source has one that does not read as an image (and Data is empty)
  bool Empty() const { return Data.empty(); }
};

// The source's front cover, or its first picture when none is marked front
// cover; empty when it has none or its type holds none TagLib knows, and
// empty and Damaged when that picture does not read as an image (or, in a
// FLAC file, its picture block states more image than it holds).
TCoverArt ReadCoverArt(const std::string &FileName);

// Whether Data is a whole JPEG, PNG, GIF, BMP or WebP file: its signature,
// and its structure (markers, chunks, blocks, stated sizes) within the bytes
// up to its end mark. A cut or damaged picture is not.
bool ReadsAsImage(const std::string &Data);
