// SPDX-License-Identifier: GPL-3.0-or-later
// The Apple Lossless format (ALAC in an MP4 .m4a file): no options, and its row.
#pragma once

#include "encoders/format.h"

constexpr TDestinationFormat dfALAC = 10;

struct TALACOptions {};

extern const TFormatRow ALACFormat;
