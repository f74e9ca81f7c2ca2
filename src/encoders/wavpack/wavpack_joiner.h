// SPDX-License-Identifier: GPL-3.0-or-later
// Lossless WavPack outputs encoded in spans on several threads: every span is
// packed by a context of its own into blocks in memory, which are appended in
// order with their sample index moved to their place in the file and their
// checksum made anew. A span's filters start afresh, so the blocks are not
// those one context would have written, but they decode to the same samples.
#pragma once

#include <memory>
#include <string>

#include "encoders/span_join.h"
#include "encoders/wavpack/wavpack_format.h"

// Null for hybrid options: those outputs (and their correction files) stay one piece.
std::unique_ptr<TSpanJoiner> CreateWavPackJoiner(const std::string &FileName, const TTagRec &Tags,
                                                 const TAudioInfo &AudioInfo, const void *Options);

