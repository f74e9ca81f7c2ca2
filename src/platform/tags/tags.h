// SPDX-License-Identifier: GPL-3.0-or-later
// The tags library interface (TAGS_Read) over TagLib: one field of the tags of
// the file a decoding stream reads, as UTF-8 text.
#pragma once

#include "platform/bass/bass.h"

// Format keys: "%TITL", "%ARTI", "%ALBM", "%YEAR", "%CMNT", "%TRCK", "%GNRE",
// and "%AART" (album artist) and "%DISC" (disc number).
// Returns "" when the field is absent, the key unknown or the stream invalid.
// The text stays valid until the next call on the same thread.
const char *TAGS_Read(DWORD handle, const char *format);
