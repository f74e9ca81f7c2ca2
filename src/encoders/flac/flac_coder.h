// SPDX-License-Identifier: GPL-3.0-or-later
// TFLACCoder feeds the worker's samples to TFLAC_Coder, the wrapper of libFLAC.
// Receives 16-bit or packed 24-bit samples.
#pragma once

#include <memory>
#include <string>

#include "encoders/custom_coder.h"
#include "encoders/flac/flac_format.h"
#include "encoders/flac/flac_lib.h"

// Hands the options to the library wrapper as every FLAC output gets them.
void ConfigureFLAC(TFLAC_Coder &Coder, const TFLACOptions &Options, const TAudioInfo &AudioInfo);

class TFLACCoder : public TCustomCoder {
 public:
  TFLACCoder(const std::string &FileName, const TTagRec &Tags, const TAudioInfo &AudioInfo,
             const TFLACOptions &Options);
  void Finish() override;
  void Start() override;
  void DoOutput(const void *Buffer, int Size, bool WriteData) override;
  int GetBufferSize() override { return Coder->BlockSize; }
  const char *ClassName() const override { return "TFLACCoder"; }

  const TFLAC_Coder &Library() const { return *Coder; }

 private:
  std::unique_ptr<TFLAC_Coder> Coder;
  std::unique_ptr<TFLACFileSink> Sink;
  TFLACOptions Options;
};
