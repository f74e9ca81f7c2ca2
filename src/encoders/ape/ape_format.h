// SPDX-License-Identifier: GPL-3.0-or-later
// The Monkey's Audio format: its options record with the default, and its row.
#pragma once

#include "encoders/format.h"

struct TAPEOptions {
  int32_t Compression = 2;  // 1 fast .. 5 insane; the library level is 1000 times it
};

extern const TFormatRow APEFormat;
