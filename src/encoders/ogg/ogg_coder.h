// SPDX-License-Identifier: GPL-3.0-or-later
// TOGGCoder feeds the worker's samples to TOGG_Coder, the wrapper of libvorbis.
// Receives 16-bit, packed 24-bit or float samples.
#pragma once

#include <memory>
#include <string>

#include "encoders/custom_coder.h"
#include "encoders/ogg/ogg_format.h"
#include "encoders/ogg/vorbis_lib.h"

class TOGGCoder : public TCustomCoder {
 public:
  TOGGCoder(const std::string &FileName, const TTagRec &Tags, const TAudioInfo &AudioInfo,
            const TOGGOptions &Options);
  void Finish() override;
  void Start() override;
  void DoOutput(const void *Buffer, int Size, bool WriteData) override;
  int GetBufferSize() override { return 65536; }
  const char *ClassName() const override { return "TOGGCoder"; }

 private:
  std::unique_ptr<TOGG_Coder> Coder;
  TOGGOptions Options;
};
