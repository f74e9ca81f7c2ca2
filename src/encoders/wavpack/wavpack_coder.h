// SPDX-License-Identifier: GPL-3.0-or-later
// TWAVPACKCoder feeds the worker's samples to TWAVPACK_Coder, the wrapper of
// libwavpack. Receives 16-bit, packed 24-bit or float samples.
#pragma once

#include <memory>
#include <string>

#include "encoders/custom_coder.h"
#include "encoders/wavpack/wavpack_format.h"
#include "encoders/wavpack/wavpack_lib.h"

// The settings of Options, as the one-piece coder and the joiner's spans use them.
void ConfigureWavPack(TWAVPACK_Coder &Coder, const TWavPackOptions &Options, const TAudioInfo &AudioInfo);

class TWAVPACKCoder : public TCustomCoder {
 public:
  TWAVPACKCoder(const std::string &FileName, const TTagRec &Tags, const TAudioInfo &AudioInfo,
                const TWavPackOptions &Options);
  void Finish() override;
  void Start() override;
  void DoOutput(const void *Buffer, int Size, bool WriteData) override;
  int GetBufferSize() override { return TWAVPACK_Coder::BufferBytes; }
  const char *ClassName() const override { return "TWAVPACKCoder"; }
  std::string CompanionSuffix() const override { return Options.Hybrid && Options.CorrectionFile ? "c" : ""; }

 private:
  std::unique_ptr<TWAVPACK_Coder> Coder;
  TWavPackOptions Options;
  std::unique_ptr<TFileStream> CorrectionStream;
};
