// SPDX-License-Identifier: GPL-3.0-or-later
// How many processors this machine has (stands in for the system's processor
// count).
#pragma once

// Processors of this machine, at least 1.
int ProcessorCount();
