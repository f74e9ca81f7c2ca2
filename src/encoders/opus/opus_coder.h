// SPDX-License-Identifier: GPL-3.0-or-later
// TOpusCoder feeds the worker's samples to TOpus_Coder, the wrapper of
// libopusenc. Receives 16-bit or float samples at 48 kHz.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "encoders/custom_coder.h"
#include "encoders/opus/opus_format.h"
#include "encoders/opus/opus_lib.h"
#include "tags/cover_art.h"

// Appends 16-bit or float WAV-ordered samples to Floats as the library takes
// them: floats in the Vorbis channel order.
void OpusFloats(const uint8_t *Samples, size_t Bytes, int Bits, int Channels, std::vector<float> &Floats);

// The Vorbis comments of Tags for the comment header, as name and value;
// none when tags are not carried.
std::vector<std::pair<const char *, std::string>> OpusComments(const TTagRec &Tags);

class TOpusCoder : public TCustomCoder {
 public:
  TOpusCoder(const std::string &FileName, const TTagRec &Tags, const TAudioInfo &AudioInfo,
             const TOpusOptions &Options);
  void Finish() override;
  void Start() override;
  void DoOutput(const void *Buffer, int Size, bool WriteData) override;
  int GetBufferSize() override { return 65536; }
  const char *ClassName() const override { return "TOpusCoder"; }

 private:
  std::unique_ptr<TOpus_Coder> Coder;
  TOpusOptions Options;
  std::vector<float> Floats;
};
