// SPDX-License-Identifier: GPL-3.0-or-later
// An Opus output encoded in spans: libopus encodes each span after a lead of
// frames it drops, and the packets are written into one Ogg stream as
// libopusenc would have numbered them.
#pragma once

#include <memory>
#include <string>

#include "base/misc.h"

class TSpanJoiner;

std::unique_ptr<TSpanJoiner> CreateOpusJoiner(const std::string &FileName, const TTagRec &Tags,
                                              const TAudioInfo &AudioInfo, const void *Options);
