// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/processors.h"

#include <algorithm>
#include <thread>

int ProcessorCount() { return int(std::max(1u, std::thread::hardware_concurrency())); }
