// SPDX-License-Identifier: GPL-3.0-or-later
// Tags where TagLib finds none: in the types it does not read (Matroska,
// WebM, DSF) and in AIFF's own text chunks (TagLib reads only its ID3 chunk),
// as FFmpeg's demuxer finds them, under TagLib's property names.
#pragma once

#include <taglib/tpropertymap.h>

#include <string>

// Empty when the file cannot be opened or holds no tags.
TagLib::PropertyMap ContainerTags(const std::string &path);
