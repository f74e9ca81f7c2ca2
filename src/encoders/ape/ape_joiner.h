// SPDX-License-Identifier: GPL-3.0-or-later
// Monkey's Audio outputs encoded in spans on several threads: frames are
// encoded each on its own (every frame starts its predictors afresh), so a
// span of whole frames encodes alone and the compressor appends them as if it
// had encoded them itself; the file is the same byte for byte.
#pragma once

#include <memory>
#include <string>

#include "encoders/ape/ape_format.h"
#include "encoders/span_join.h"

std::unique_ptr<TSpanJoiner> CreateAPEJoiner(const std::string &FileName, const TTagRec &Tags,
                                             const TAudioInfo &AudioInfo, const void *Options);
