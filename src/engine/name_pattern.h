// SPDX-License-Identifier: GPL-3.0-or-later
// Outputs named from their tags: a pattern such as
// "<artist>/<album>/<track> - <title>" gives each output its folders and name
// below the output folder. Every part it makes is a safe file name on Linux,
// FAT and NTFS alike, so the tree can be copied onto a phone or a stick.
#pragma once

#include <string>

#include "base/misc.h"

// The fields a pattern takes, as written in it.
constexpr const char *kNameFields =
    "<artist> <albumartist> <album> <year> <track> <disc> <title> <genre> <name> <folder>";

// The stored default pattern.
constexpr const char *kDefaultNamePattern = "<artist>/<album>/<track> - <title>";

// True when Pattern can be used. Otherwise Bad is what cannot: an unknown
// field ("<foo>"), an unclosed one ("<foo"), or "" for a pattern with nothing
// in it.
bool CheckNamePattern(const std::string &Pattern, std::string &Bad);

// The path Pattern gives an output, below its output folder: folders and
// name joined by "/", without extension. Tags are the source's (or the
// track's, from its sheet); Source is the source's path, for <name> and
// <folder> and for a title that is missing. Field values have the
// characters unsafe in file names (/ \ : * ? " < > | and control
// characters) replaced by "_"; an empty field takes a fixed word ("Unknown
// artist", the source's name for a title, "00" for a track); a part that is
// empty or only dots is left out; no part begins with a dot or ends with a
// dot or a space, nor is a reserved device name; folder parts are cut to
// fit a file name (the name itself is cut when its extension is added).
// Raises for a pattern CheckNamePattern refuses.
std::string PatternPath(const std::string &Pattern, const TTagRec &Tags, const std::string &Source);
