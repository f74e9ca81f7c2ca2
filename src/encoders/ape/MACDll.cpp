// SPDX-License-Identifier: GPL-3.0-or-later
#include "encoders/ape/MACDll.h"

#include <memory>

APE_COMPRESS_HANDLE c_APECompress_Create(int *pErrorCode) {
  if (pErrorCode) *pErrorCode = 0;
  return std::make_unique<ape::TCompressor>().release();  // owned by the caller's handle
}

void c_APECompress_Destroy(APE_COMPRESS_HANDLE hAPECompress) {
  std::unique_ptr<ape::TCompressor> owned(hAPECompress);
}

int c_APECompress_Start(APE_COMPRESS_HANDLE hAPECompress, const char *pOutputFilename,
                        const WAVEFORMATEX *pwfeInput, int64_t nMaxAudioBytes, int nCompressionLevel,
                        const void *pHeaderData, int64_t nHeaderBytes) {
  // Only the header the library creates itself is supported: no stored WAV header.
  if (!hAPECompress || !pOutputFilename || !pwfeInput || pHeaderData ||
      nHeaderBytes != CREATE_WAV_HEADER_ON_DECOMPRESSION)
    return ape::ErrorBadParameter;
  return hAPECompress->Start(pOutputFilename, *pwfeInput, nMaxAudioBytes, nCompressionLevel);
}

int c_APECompress_StartW(APE_COMPRESS_HANDLE hAPECompress, const char *pOutputFilename,
                         const WAVEFORMATEX *pwfeInput, int64_t nMaxAudioBytes, int nCompressionLevel,
                         const void *pHeaderData, int64_t nHeaderBytes) {
  return c_APECompress_Start(hAPECompress, pOutputFilename, pwfeInput, nMaxAudioBytes, nCompressionLevel,
                             pHeaderData, nHeaderBytes);
}

unsigned char *c_APECompress_LockBuffer(APE_COMPRESS_HANDLE hAPECompress, int64_t *pBytesAvailable) {
  int64_t available = 0;
  unsigned char *buffer = hAPECompress ? hAPECompress->LockBuffer(available) : nullptr;
  if (pBytesAvailable) *pBytesAvailable = available;
  return buffer;
}

int c_APECompress_UnlockBuffer(APE_COMPRESS_HANDLE hAPECompress, int64_t nBytesAdded, bool bProcess) {
  return hAPECompress ? hAPECompress->UnlockBuffer(nBytesAdded, bProcess) : ape::ErrorBadParameter;
}

int c_APECompress_Finish(APE_COMPRESS_HANDLE hAPECompress, unsigned char *, int64_t nTerminatingBytes,
                         int64_t) {
  if (!hAPECompress || nTerminatingBytes > 0) return ape::ErrorBadParameter;
  return hAPECompress->Finish();
}

int FillWaveFormatEx(WAVEFORMATEX *pWaveFormatEx, int nSampleRate, int nBitsPerSample, int nChannels) {
  if (!pWaveFormatEx) return ape::ErrorBadParameter;
  *pWaveFormatEx = WAVEFORMATEX{};
  pWaveFormatEx->FormatTag = 1;
  pWaveFormatEx->Channels = uint16_t(nChannels);
  pWaveFormatEx->SamplesPerSec = uint32_t(nSampleRate);
  pWaveFormatEx->BitsPerSample = uint16_t(nBitsPerSample);
  pWaveFormatEx->BlockAlign = uint16_t(nBitsPerSample / 8 * nChannels);
  pWaveFormatEx->AvgBytesPerSec = pWaveFormatEx->BlockAlign * uint32_t(nSampleRate);
  return 0;
}

std::string APEErrorText(int Code) {
  switch (Code) {
    case 0: return "OK";
    case 1000: return "I/O read error";
    case 1001: return "I/O write error";
    case 1002: return "invalid input file";
    case 1003: return "invalid output file";
    case 1004: return "input file file too large";
    case 1005: return "input file unsupported bit depth";
    case 1006: return "input file unsupported sample rate";
    case 1007: return "input file unsupported channel count";
    case 1008: return "input file too small";
    case 1009: return "invalid checksum";
    case 1010: return "decompressing frame";
    case 1011: return "initializing unmac";
    case 1012: return "invalid function parameter";
    case 1013: return "unsupported file type";
    case 2000: return "insufficient memory";
    case 3000: return "loading MAC.dll";
    case 3001: return "loading MACinfo.dll";
    case 3002: return "loading UnMAC.dll";
    case 4000: return "user stopped processing";
    case 4001: return "skipped...";
    case 5000: return "bad parameter";
    case 6000: return "APE compress too much data";
    default: return "undefined (" + std::to_string(Code) + ")";
  }
}

const char *APECompressorVersion() { return "3.99 (file version 3990)"; }
