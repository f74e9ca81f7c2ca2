// SPDX-License-Identifier: GPL-3.0-or-later
// The last page of an Ogg file, to tell a complete stream from a cut one:
// its granule position agrees with the packets even when the file lost its
// tail, but only a complete stream ends with a whole page marked as the end.
#pragma once

#include <string>

// True when the file ends with a whole Ogg page flagged end-of-stream.
bool OggEndsWithEndPage(const std::string &path);
