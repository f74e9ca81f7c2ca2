// SPDX-License-Identifier: GPL-3.0-or-later
// The WAV format: no options, and its row.
#pragma once

#include "encoders/format.h"

struct TWAVOptions {};

extern const TFormatRow WAVFormat;
