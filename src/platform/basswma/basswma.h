// SPDX-License-Identifier: GPL-3.0-or-later
// The BASSWMA encoding interface over FFmpeg's wmav2 encoder and ASF muxer.
// The Pro codec and lossless (quality 100) do not exist there and are refused
// with BASS_ERROR_NOTAVAIL. A quality (10..99) chooses a bitrate per channel:
// 16, 16, 24, 32, 40, 48, 64, 80, 96, 128 kbit/s for qualities 10-19, 20-29,
// ... 90-99 (below 10 as 10-19).
#pragma once

#include "platform/bass/bass.h"

using HWMENCODE = DWORD;

constexpr DWORD BASS_WMA_ENCODE_PRO = 0x4000;
constexpr int BASS_ERROR_CREATE = 33;

// Opens an encoder writing `file` (UTF-8); `bitrate` above 100 is in bit/s,
// up to 100 a quality. 0 when refused (BASS_ErrorGetCode tells why).
HWMENCODE BASS_WMA_EncodeOpenFile(DWORD freq, DWORD chans, DWORD flags, DWORD bitrate, const void *file);
// The bitrates (bit/s) the encoder takes for the format, ending with 0; null
// when none. Valid until this thread's next call.
const DWORD *BASS_WMA_EncodeGetRates(DWORD freq, DWORD chans, DWORD flags);
// 16-bit interleaved samples.
BOOL BASS_WMA_EncodeWrite(HWMENCODE handle, const void *buffer, DWORD length);
// Completes and closes the file; false when it could not be written whole.
BOOL BASS_WMA_EncodeClose(HWMENCODE handle);
// Why this thread's last open, write or close failed ("" when it did not).
const char *BASS_WMA_ErrorText();
// The encoder's name and version, for the information views.
const char *BASS_WMA_EncoderName();
