// SPDX-License-Identifier: GPL-3.0-or-later
// TACCCoder feeds the worker's samples to TACC_Coder, the wrapper of the AAC
// library, for ADTS outputs, and to FFmpeg's AAC encoder muxed by TMP4Encoder
// for .m4a outputs (the same encoder and settings; the muxer needs its
// frames' timing). Receives 16-bit samples or 32-bit integers with a 24-bit range.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "encoders/aac/aac_coder.h"
#include "encoders/aac/aac_format.h"
#include "encoders/custom_coder.h"
#include "encoders/mp4_lib.h"

// A sample of Bytes (8-bit, 16-bit, or 32-bit with a 24-bit range) as a float
// of full scale 1, as the library's stand-in makes it.
float AACSampleAt(const uint8_t *Sample, int Bytes);
// FFmpeg's AAC encoder of .m4a outputs set up as the AAC library's stand-in
// sets it for ADTS.
void ConfigureAAC(AVCodecContext &Context, const TAACOptions &Options, int Rate, int Channels);

class TACCCoder : public TCustomCoder {
 public:
  TACCCoder(const std::string &FileName, const TTagRec &Tags, const TAudioInfo &AudioInfo, const TAACOptions &Options);
  void Finish() override;
  void Start() override;
  void DoOutput(const void *Buffer, int Size, bool WriteData) override;
  int GetBufferSize() override;
  const char *ClassName() const override { return "TACCCoder"; }
  void Abort(bool Keep) override {
    TCustomCoder::Abort(Keep);
    KeepOutput = Keep;
  }

 private:
  std::unique_ptr<TACC_Coder> Coder;
  std::unique_ptr<TMP4Encoder> Muxed;  // the .m4a output's encoder
  int Filled = 0;                      // samples per channel waiting in its frame
  bool KeepOutput = false;             // a stopped .m4a output is kept: it needs its index
  TAACOptions Options;
};
