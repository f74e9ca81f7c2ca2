// SPDX-License-Identifier: GPL-3.0-or-later
// MP3 outputs encoded in spans on several threads. Each span of whole frames
// is encoded by its own LAME stream with the one-piece settings, started
// some frames early (so that its filters and psychoacoustics have settled)
// and given some frames beyond the span (so that its last frames are whole);
// of its frames only those at the span's own places in the file are kept.
// Their main data is laid out again across the joins (see mp3_frames.h), and
// the LAME tag at the head is made for the whole stream. Outputs at the rates
// of MPEG-2 and 2.5 (frames of 576 samples) stay one piece.
#pragma once

#include <memory>
#include <string>

#include "encoders/mp3/mp3_format.h"
#include "encoders/span_join.h"

std::unique_ptr<TSpanJoiner> CreateMP3Joiner(const std::string &FileName, const TTagRec &Tags,
                                             const TAudioInfo &AudioInfo, const void *Options);
