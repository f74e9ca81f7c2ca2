// SPDX-License-Identifier: GPL-3.0-or-later
// TAPE_Coder feeds the Monkey's Audio compressor through the MACDll operations;
// TAPECoder feeds TAPE_Coder from the worker. The compressor creates and
// writes the output file itself. Receives 16-bit or packed 24-bit samples; one
// or two channels.
#pragma once

#include <memory>
#include <stdexcept>
#include <string>

#include "encoders/ape/MACDll.h"
#include "encoders/ape/ape_format.h"
#include "encoders/custom_coder.h"

// The library level of a setting: 1000 .. 5000, anything else 2000.
int APELibraryLevel(int32_t Setting);

class EAPEException : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Owns one compressor handle.
class TAPECompress {
 public:
  TAPECompress();  // raises EAPEException "MACDll error: <text>"
  ~TAPECompress();
  TAPECompress(const TAPECompress &) = delete;
  TAPECompress &operator=(const TAPECompress &) = delete;
  APE_COMPRESS_HANDLE Handle() const { return Compressor; }

 private:
  APE_COMPRESS_HANDLE Compressor = nullptr;
};

class TAPE_Coder {
 public:
  std::string FileName;
  TAudioInfo AudioInfo;
  int CompressionLevel = 2000;
  int64_t MaxAudioBytes = MAX_AUDIO_BYTES_UNKNOWN;

  // Creates and starts the compressor; raises with the library's text.
  void Start();
  // Hands Size bytes to the compressor.
  void Feed(const uint8_t *Buffer, int Size);
  // Hands it a frame encoded elsewhere, of Blocks blocks.
  void AppendFrame(const uint8_t *Frame, size_t Bytes, int64_t Blocks);
  // Finishes and destroys the compressor; returns the library's result, and
  // in Why what OutputError said.
  int Finish(std::string *Why = nullptr);
  bool Started() const { return Compress != nullptr; }

 private:
  // ". <why the output failed>", or "" when it did not.
  std::string OutputError() const;

  std::unique_ptr<TAPECompress> Compress;
  WAVEFORMATEX WaveFormat{};
};

// Room for the seek table of a stream's stated length (-1: not stated).
int64_t APEMaxAudioBytes(const TAudioInfoRec &Stream);
// Finishes a started coder; raises when it left no valid output.
void FinishAPECoder(TAPE_Coder &Coder);

class TAPECoder : public TCustomCoder {
 public:
  TAPECoder(const std::string &FileName, const TTagRec &Tags, const TAudioInfo &AudioInfo,
            const TAPEOptions &Options)
      : TCustomCoder(FileName, Tags, AudioInfo), Options(Options) {}
  void Finish() override;
  void Start() override;
  void DoOutput(const void *Buffer, int Size, bool WriteData) override;
  int GetBufferSize() override { return 65536; }
  const char *ClassName() const override { return "TAPECoder"; }

 private:
  TAPE_Coder Coder;
  TAPEOptions Options;
};
