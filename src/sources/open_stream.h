// SPDX-License-Identifier: GPL-3.0-or-later
// The one way from a source's path to a decoding stream: the stream function
// that the input-type table gives its extension.
#pragma once

#include <string>

#include "base/misc.h"

// The flags of a stream that is only read: decoded, never played.
constexpr DWORD SourceStreamFlags = BASS_STREAM_DECODE | BASS_UNICODE;

// True when the type of FileName is read through a decoding stream; false for
// the types another decoder reads, and for CUE sheets. Raises EAssertFailed
// for a type Tonmill does not read.
bool HasSourceStream(const std::string &FileName);

// Opens FileName through the stream function of its type. Returns 0 when the
// type has none or the stream cannot be created (BASS_ErrorGetCode tells why);
// the caller frees the stream with BASS_StreamFree. Raises EAssertFailed for a
// type Tonmill does not read.
HSTREAM OpenSourceStream(const std::string &FileName, DWORD Flags = SourceStreamFlags,
                         QWORD Length = 0, bool Mem = false);
