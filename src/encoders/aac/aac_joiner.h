// SPDX-License-Identifier: GPL-3.0-or-later
// An AAC output (ADTS or .m4a) encoded in spans: each span's encoder begins a
// few frames early and runs a little past it, and of its packets those of the
// span's own frames are kept, so the joined stream has each packet where one
// encoder would have put it.
#pragma once

#include <memory>
#include <string>

#include "base/misc.h"

class TSpanJoiner;

std::unique_ptr<TSpanJoiner> CreateAACJoiner(const std::string &FileName, const TTagRec &Tags,
                                             const TAudioInfo &AudioInfo, const void *Options);
