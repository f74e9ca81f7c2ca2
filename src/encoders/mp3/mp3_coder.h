// SPDX-License-Identifier: GPL-3.0-or-later
// TMP3Coder feeds the worker's samples to TLameCoder, the wrapper of the LAME
// library. Receives 16-bit samples only; writes the VBR information frame (VBR
// and preset modes) and an ID3v1 tag when it finishes, unless stopped.
#pragma once

#include <memory>
#include <string>

#include "encoders/custom_coder.h"
#include "encoders/mp3/lame_coder.h"
#include "encoders/mp3/mp3_format.h"

class TMP3Coder : public TCustomCoder {
 public:
  TMP3Coder(const std::string &FileName, const TTagRec &Tags, const TAudioInfo &AudioInfo,
            const TMP3Options &Options);
  void Finish() override;
  int Init(std::string &ErrorText) override;
  void DoOutput(const void *Buffer, int Size, bool WriteData) override;
  int GetBufferSize() override;
  const char *ClassName() const override { return "TMP3Coder"; }

 private:
  // Starts the library stream, lowering the bitrates while it refuses them
  // when the options ask for that.
  int StartStream();
  // Writes Bytes of the library's output; raises naming the file and the reason.
  void WriteEncoded(TFileStream &To, uint32_t Bytes);
  std::unique_ptr<TLameCoder> Coder;
  TMP3Options Options;
};
