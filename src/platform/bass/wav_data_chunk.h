// SPDX-License-Identifier: GPL-3.0-or-later
// The "data" chunk of a RIFF/WAVE file as its header declares it, to tell a
// complete file from a truncated one.
#pragma once

#include <cstdint>
#include <string>

// Reads the chunk list up to "data". Returns false when the file is no plain
// RIFF/WAVE file or declares no definite data size (0 or 0xFFFFFFFF, as
// streaming writers leave it).
bool ReadWavDataChunk(const std::string &path, int64_t &dataOffset, int64_t &declaredBytes);
