// SPDX-License-Identifier: GPL-3.0-or-later
// Millisecond tick count of a monotonic clock (stands in for GetTickCount).
#pragma once

#include <cstdint>

uint64_t GetTickCount();
