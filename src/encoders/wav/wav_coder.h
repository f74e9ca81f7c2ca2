// SPDX-License-Identifier: GPL-3.0-or-later
// TWAVCoder, the worker's WAV writer: a RIFF header for the stream, the
// samples as they come, and the sizes patched in when it finishes.
#pragma once

#include "encoders/custom_coder.h"
#include "encoders/wav/wav_format.h"

class TWAVCoder : public TCustomCoder {
 public:
  TWAVCoder(const std::string &FileName, const TTagRec &Tags, const TAudioInfo &AudioInfo,
            const TWAVOptions & = {})
      : TCustomCoder(FileName, Tags, AudioInfo) {}
  void Finish() override;
  void Start() override;
  void DoOutput(const void *Buffer, int Size, bool WriteData) override;
  int GetBufferSize() override { return 10000; }
  const char *ClassName() const override { return "TWAVCoder"; }

 private:
  int64_t DataOffset = 0;  // where the sample data starts
  int64_t FactOffset = 0;  // where the frame count of float files goes, 0 without one
  int BlockAlign = 0;      // bytes per sample frame
};
