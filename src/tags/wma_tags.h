// SPDX-License-Identifier: GPL-3.0-or-later
// Windows Media attributes of a WMA (ASF) output.
#pragma once

#include <string>

#include "base/misc.h"

// Writes Tags as the file's attributes: each attribute with a value is added
// or replaced, each without one removed ("WM/EncodedBy", "WM/Composer",
// "WM/URL", "Copyright" and "WM/Lyrics" have no source and are always
// removed). Raises when the file cannot be read or written as ASF.
void WriteWMATags(const std::string &FileName, const TTagRec &Tags);
