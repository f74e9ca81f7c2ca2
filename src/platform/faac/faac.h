// SPDX-License-Identifier: GPL-3.0-or-later
// The FAAC encoding interface over FFmpeg's native AAC-LC encoder, writing
// ADTS frames. The configuration keeps FAAC's meaning: bitrate per channel in
// bit/s (0: quality-driven), bandwidth as the encoder's cutoff, quantizer
// quality (100 = the encoder's default quality; 1.2 lambda per unit).
#pragma once

#include <cstdint>

constexpr unsigned int MPEG4 = 0;
constexpr unsigned int MPEG2 = 1;
constexpr unsigned int LOW = 2;
constexpr unsigned int FAAC_INPUT_16BIT = 1;
constexpr unsigned int FAAC_INPUT_32BIT = 3;  // 24-bit values in 32-bit integers
constexpr unsigned int FAAC_INPUT_FLOAT = 4;
constexpr unsigned int RAW_STREAM = 0;
constexpr unsigned int ADTS_STREAM = 1;

struct faacEncConfiguration {
  int version = 105;
  const char *name = "FFmpeg AAC";
  const char *copyright = "";
  unsigned int mpegVersion = MPEG4;
  unsigned int aacObjectType = LOW;
  unsigned int jointmode = 1;
  unsigned int useLfe = 1;
  unsigned int useTns = 0;
  unsigned long bitRate = 0;   // per channel, bit/s
  unsigned int bandWidth = 0;  // Hz
  unsigned long quantqual = 100;
  unsigned int outputFormat = ADTS_STREAM;
  unsigned int inputFormat = FAAC_INPUT_32BIT;
};
using faacEncConfigurationPtr = faacEncConfiguration *;

struct faacEncStruct;
using faacEncHandle = faacEncStruct *;

// Samples per call (all channels) and the largest frame, for the rate and
// channel count; null when the encoder cannot take them.
faacEncHandle faacEncOpen(unsigned long sampleRate, unsigned int numChannels, unsigned long *inputSamples,
                          unsigned long *maxOutputBytes);
faacEncConfigurationPtr faacEncGetCurrentConfiguration(faacEncHandle hEncoder);
// 1 when the encoder accepts the configuration, else 0.
int faacEncSetConfiguration(faacEncHandle hEncoder, faacEncConfigurationPtr config);
// Takes up to inputSamples samples; returns the bytes of the frame written to
// outputBuffer (0: none ready yet), negative on failure. With no samples the
// encoder hands out its delayed frames, one per call, until it returns 0.
int faacEncEncode(faacEncHandle hEncoder, int32_t *inputBuffer, unsigned int samplesInput, unsigned char *outputBuffer,
                  unsigned int bufferSize);
int faacEncClose(faacEncHandle hEncoder);
// The encoder's identification (libavcodec's version).
int faacEncGetVersion(const char **faac_id_string, const char **faac_copyright_string);
