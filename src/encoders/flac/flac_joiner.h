// SPDX-License-Identifier: GPL-3.0-or-later
// FLAC outputs encoded in spans on several threads. Frames of a fixed block
// size stand alone but for their number in the stream, so each span's
// frames are renumbered for their place in the file; the stream information
// (frame sizes, length, MD5) is completed at the end. The file is the one
// libFLAC writes in one piece, byte for byte, except with adaptive mid-side
// stereo: its choice carries over from frame to frame, so a span's first
// frames may choose otherwise.
#pragma once

#include <memory>
#include <string>

#include "encoders/flac/flac_format.h"
#include "encoders/span_join.h"

std::unique_ptr<TSpanJoiner> CreateFLACJoiner(const std::string &FileName, const TTagRec &Tags,
                                              const TAudioInfo &AudioInfo, const void *Options);
