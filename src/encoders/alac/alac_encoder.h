// SPDX-License-Identifier: GPL-3.0-or-later
// TALACCoder feeds the worker's samples (16 bits, or 24 packed in three
// bytes) to FFmpeg's ALAC encoder, muxed into an .m4a file by TMP4Encoder.
#pragma once

#include <memory>
#include <string>

#include "encoders/alac/alac_format.h"
#include "encoders/mp4_lib.h"
#include "encoders/custom_coder.h"

class TALACCoder : public TCustomCoder {
 public:
  TALACCoder(const std::string &FileName, const TTagRec &Tags, const TAudioInfo &AudioInfo, const TALACOptions &);
  void Finish() override;
  void Start() override;
  void DoOutput(const void *Buffer, int Size, bool WriteData) override;
  int GetBufferSize() override;
  const char *ClassName() const override { return "TALACCoder"; }
  void Abort(bool Keep) override;

 private:
  std::unique_ptr<TMP4Encoder> Encoder;
  int Filled = 0;     // samples per channel waiting in the frame
  bool Keep = true;   // what is encoded is to reach the file
};
