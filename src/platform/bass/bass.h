// SPDX-License-Identifier: GPL-3.0-or-later
// The subset of the BASS decoding interface that Tonmill calls, with BASS's own
// names, constants and results, implemented over FFmpeg's libraries.
//
// Streams are decode-only: BASS_ChannelGetData delivers interleaved PCM at the
// source's own rate and channel count, as 16-bit signed integers, or as 32-bit
// floats when the stream was created with BASS_SAMPLE_FLOAT. Positions and
// lengths are byte counts of that output. Seeking is exact to the sample frame
// and the length is the number of frames the stream delivers: what the
// container states until the end has been reached, then what it held.
//
// Threads: a stream is used by one thread at a time (the one that created it);
// different streams may be used from different threads at once. The error code
// is kept per thread.
#pragma once

#include <cstdint>

using DWORD = uint32_t;
using QWORD = uint64_t;
using BOOL = int;
using HSTREAM = DWORD;

// Error codes (BASS_ErrorGetCode).
constexpr int BASS_OK = 0;
constexpr int BASS_ERROR_MEM = 1;
constexpr int BASS_ERROR_FILEOPEN = 2;
constexpr int BASS_ERROR_HANDLE = 5;
constexpr int BASS_ERROR_FORMAT = 6;
constexpr int BASS_ERROR_POSITION = 7;
constexpr int BASS_ERROR_INIT = 8;
constexpr int BASS_ERROR_ALREADY = 14;
constexpr int BASS_ERROR_ILLPARAM = 20;
constexpr int BASS_ERROR_NOTAVAIL = 37;
constexpr int BASS_ERROR_DECODE = 38;
constexpr int BASS_ERROR_FILEFORM = 41;
constexpr int BASS_ERROR_CODEC = 44;
constexpr int BASS_ERROR_ENDED = 45;
constexpr int BASS_ERROR_UNKNOWN = -1;

// Stream and sample flags.
constexpr DWORD BASS_SAMPLE_8BITS = 1;
constexpr DWORD BASS_SAMPLE_FLOAT = 0x100;
constexpr DWORD BASS_STREAM_PRESCAN = 0x20000;
constexpr DWORD BASS_STREAM_DECODE = 0x200000;
constexpr DWORD BASS_UNICODE = 0x80000000;

// Configuration options.
constexpr DWORD BASS_CONFIG_VERIFY = 23;

// Position modes, file position modes, channel states.
constexpr DWORD BASS_POS_BYTE = 0;
constexpr DWORD BASS_FILEPOS_CURRENT = 0;
constexpr DWORD BASS_FILEPOS_END = 2;
constexpr DWORD BASS_ACTIVE_STOPPED = 0;
constexpr DWORD BASS_ACTIVE_PLAYING = 1;

struct BASS_CHANNELINFO {
  DWORD freq;      // sample rate, Hz
  DWORD chans;     // channel count
  DWORD flags;     // BASS_SAMPLE_FLOAT when the stream delivers or the source holds floats
  DWORD ctype;     // channel type (unused here, 0)
  DWORD origres;   // the source's own resolution in bits (8, 16, 24, 32), 0 when unknown
  DWORD plugin;    // unused, 0
  DWORD sample;    // unused, 0
  const char *filename;  // the file name the stream was created with (UTF-8)
};

// The signature every ..._StreamCreateFile function shares. `file` is a
// zero-terminated UTF-8 path (BASS_UNICODE is accepted and changes nothing:
// every path here is UTF-8). Only mem = false, offset 0 and length 0 are
// supported. Returns a stream handle, 0 on failure.
using TBASSStreamCreateFunc = HSTREAM (*)(BOOL mem, const void *file, QWORD offset,
                                          QWORD length, DWORD flags);

BOOL BASS_Init(int device, DWORD freq, DWORD flags, void *win, void *clsid);
BOOL BASS_SetConfig(DWORD option, DWORD value);
int BASS_ErrorGetCode();
// Sets this thread's last error code (for the add-ons).
void BASS_SetErrorCode(int code);

// One function per family of formats; each accepts only its own formats, so a
// file whose extension lies about its content fails with BASS_ERROR_FILEFORM.
HSTREAM BASS_StreamCreateFile(BOOL mem, const void *file, QWORD offset, QWORD length, DWORD flags);      // MP1/2/3, Ogg Vorbis, WAV, AIFF
HSTREAM BASS_WMA_StreamCreateFile(BOOL mem, const void *file, QWORD offset, QWORD length, DWORD flags);  // WMA
HSTREAM BASS_FLAC_StreamCreateFile(BOOL mem, const void *file, QWORD offset, QWORD length, DWORD flags); // FLAC, Ogg FLAC
HSTREAM BASS_APE_StreamCreateFile(BOOL mem, const void *file, QWORD offset, QWORD length, DWORD flags);  // Monkey's Audio
HSTREAM BASS_AC3_StreamCreateFile(BOOL mem, const void *file, QWORD offset, QWORD length, DWORD flags);  // AC-3
HSTREAM BASS_AAC_StreamCreateFile(BOOL mem, const void *file, QWORD offset, QWORD length, DWORD flags);  // raw AAC (ADTS)
HSTREAM BASS_MP4_StreamCreateFile(BOOL mem, const void *file, QWORD offset, QWORD length, DWORD flags);  // any audio codec in MP4
HSTREAM BASS_WV_StreamCreateFile(BOOL mem, const void *file, QWORD offset, QWORD length, DWORD flags);   // WavPack
HSTREAM BASS_MPC_StreamCreateFile(BOOL mem, const void *file, QWORD offset, QWORD length, DWORD flags);  // Musepack
HSTREAM BASS_TTA_StreamCreateFile(BOOL mem, const void *file, QWORD offset, QWORD length, DWORD flags);  // True Audio
HSTREAM BASS_OPUS_StreamCreateFile(BOOL mem, const void *file, QWORD offset, QWORD length, DWORD flags); // Ogg Opus
HSTREAM BASS_OGA_StreamCreateFile(BOOL mem, const void *file, QWORD offset, QWORD length, DWORD flags);  // any audio codec in Ogg
HSTREAM BASS_MKA_StreamCreateFile(BOOL mem, const void *file, QWORD offset, QWORD length, DWORD flags);  // any audio codec in Matroska, WebM
HSTREAM BASS_DSD_StreamCreateFile(BOOL mem, const void *file, QWORD offset, QWORD length, DWORD flags);  // DSD in DSF

DWORD BASS_ChannelIsActive(DWORD handle);
// Returns the bytes written (whole sample frames only), or 0xFFFFFFFF with
// BASS_ERROR_ENDED at the end, or with another code when the decoder cannot
// go on at all. Damaged blocks are passed over, and a source whose data stops
// short of its stated length ends there (see BASS_ChannelGetDecodeReport).
DWORD BASS_ChannelGetData(DWORD handle, void *buffer, DWORD length);
QWORD BASS_ChannelGetPosition(DWORD handle, DWORD mode);
BOOL BASS_ChannelSetPosition(DWORD handle, QWORD pos, DWORD mode);
QWORD BASS_ChannelSeconds2Bytes(DWORD handle, double pos);
double BASS_ChannelBytes2Seconds(DWORD handle, QWORD pos);
QWORD BASS_ChannelGetLength(DWORD handle, DWORD mode);
BOOL BASS_ChannelGetInfo(DWORD handle, BASS_CHANNELINFO *info);
QWORD BASS_StreamGetFilePosition(HSTREAM handle, DWORD mode);
BOOL BASS_StreamFree(HSTREAM handle);

// Not part of BASS: how a stream's decoding went, for a report after a
// conversion. Byte counts of the stream's output, as positions are.
struct BASS_DECODE_REPORT {
  QWORD stated;    // the length the container states; 0xFFFFFFFFFFFFFFFF when it states none
  QWORD ended;     // where the source's data ended; 0xFFFFFFFFFFFFFFFF while it has not
  DWORD damaged;   // damaged blocks passed over so far
  BOOL endmissing; // the source ended without the container's end mark (a cut Ogg stream)
  QWORD brokeoff;  // where measuring the length found the source undecodable; 0xFFFFFFFFFFFFFFFF when it did not
};
BOOL BASS_ChannelGetDecodeReport(DWORD handle, BASS_DECODE_REPORT *report);

// Not part of BASS: a short English explanation of an error code, for messages
// printed next to the code, and the decoding library's name and version.
const char *BASS_ErrorDescription(int code);
const char *BASS_DecoderVersionText();
