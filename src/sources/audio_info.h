// SPDX-License-Identifier: GPL-3.0-or-later
// Reading one source's audio properties (rate, depth, channels, duration,
// bitrate) before it is converted. Any thread; BASS must have been started.
#pragma once

#include <string>

#include "base/misc.h"

// Fills AudioInfo for FileName through the decoder of its type. A source that
// cannot be read gets an ErrorText (and no exception).
void GetFileAudioInfo(const std::string &FileName, bool ComputeBitrate, TAudioInfo &AudioInfo);
void GetFileAudioInfo_BASS(const std::string &FileName, bool ComputeBitrate, TAudioInfo &AudioInfo);
void GetFileAudioInfo_FFMPEG(const std::string &FileName, TAudioInfo &AudioInfo);
