// SPDX-License-Identifier: GPL-3.0-or-later
// The Monkey's Audio library operations over Tonmill's own compressor: a
// compressor handle, started on an output path, fed through a lock/unlock
// buffer, finished. Paths are UTF-8 (the "W" form takes the same).
#pragma once

#include <cstdint>
#include <string>

#include "encoders/ape/compressor.h"

using APE_COMPRESS_HANDLE = ape::TCompressor *;
using WAVEFORMATEX = ape::TWaveFormat;

// Header byte count meaning "no WAV header given: decoders create one".
constexpr int64_t CREATE_WAV_HEADER_ON_DECOMPRESSION = -1;
constexpr int64_t MAX_AUDIO_BYTES_UNKNOWN = -1;

APE_COMPRESS_HANDLE c_APECompress_Create(int *pErrorCode);
void c_APECompress_Destroy(APE_COMPRESS_HANDLE hAPECompress);
int c_APECompress_Start(APE_COMPRESS_HANDLE hAPECompress, const char *pOutputFilename,
                        const WAVEFORMATEX *pwfeInput, int64_t nMaxAudioBytes, int nCompressionLevel,
                        const void *pHeaderData, int64_t nHeaderBytes);
int c_APECompress_StartW(APE_COMPRESS_HANDLE hAPECompress, const char *pOutputFilename,
                         const WAVEFORMATEX *pwfeInput, int64_t nMaxAudioBytes, int nCompressionLevel,
                         const void *pHeaderData, int64_t nHeaderBytes);
unsigned char *c_APECompress_LockBuffer(APE_COMPRESS_HANDLE hAPECompress, int64_t *pBytesAvailable);
int c_APECompress_UnlockBuffer(APE_COMPRESS_HANDLE hAPECompress, int64_t nBytesAdded, bool bProcess);
int c_APECompress_Finish(APE_COMPRESS_HANDLE hAPECompress, unsigned char *pTerminatingData,
                         int64_t nTerminatingBytes, int64_t nWAVTerminatingBytes);
int FillWaveFormatEx(WAVEFORMATEX *pWaveFormatEx, int nSampleRate, int nBitsPerSample, int nChannels);

// The text of a library error code ("undefined (<code>)" for unknown codes).
std::string APEErrorText(int Code);
// The compressor's version, for the information views.
const char *APECompressorVersion();
