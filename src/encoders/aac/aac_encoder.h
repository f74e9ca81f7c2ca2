// SPDX-License-Identifier: GPL-3.0-or-later
// TACCCoder feeds the worker's samples to TACC_Coder, the wrapper of the AAC
// library. Receives 16-bit samples or 32-bit integers with a 24-bit range.
#pragma once

#include <memory>
#include <string>

#include "encoders/aac/aac_coder.h"
#include "encoders/aac/aac_format.h"
#include "encoders/custom_coder.h"

class TACCCoder : public TCustomCoder {
 public:
  TACCCoder(const std::string &FileName, const TTagRec &Tags, const TAudioInfo &AudioInfo, const TAACOptions &Options);
  void Finish() override;
  int Init(std::string &ErrorText) override;
  void DoOutput(const void *Buffer, int Size, bool WriteData) override;
  int GetBufferSize() override { return Coder->InputBlockSize; }
  const char *ClassName() const override { return "TACCCoder"; }

 private:
  std::unique_ptr<TACC_Coder> Coder;
  TAACOptions Options;
};
