// SPDX-License-Identifier: GPL-3.0-or-later
// The tags of a source, read for every whole-source job (main thread).
#pragma once

#include <string>

#include "base/misc.h"

// Fills Tags from the file's own tags (title, artist, album, year, comment,
// track, genre). Types the decoding interface does not read leave Tags as
// passed; a source without tags gives empty fields, Track "0" and IsEmpty.
void ReadTags(const std::string &FileName, TTagRec &Tags);
