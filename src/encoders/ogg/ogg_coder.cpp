// SPDX-License-Identifier: GPL-3.0-or-later
#include "encoders/ogg/ogg_coder.h"

#include <stdexcept>

TOGGCoder::TOGGCoder(const std::string &FileName, const TTagRec &Tags, const TAudioInfo &AudioInfo,
                     const TOGGOptions &Options)
    : TCustomCoder(FileName, Tags, AudioInfo), Coder(std::make_unique<TOGG_Coder>()), Options(Options) {}

void TOGGCoder::Start() {
  TOGG_Coder &c = *Coder;
  c.AudioInfo = AudioInfo;
  if (Options.BitrateType == obQUALITY) {
    c.Quality = float(Options.Quality - 1) / 10;
    c.Avg = c.Max = 0;
  } else {
    c.Max = uint8_t(Options.Max);
    c.Avg = uint8_t(Options.Avg);
    c.Min = uint8_t(Options.Min);
  }
  CreateOutput();
  c.Output = OutStream.get();
  c.Start();
}

void TOGGCoder::DoOutput(const void *Buffer, int Size, bool) {
  Coder->Encode(static_cast<const uint8_t *>(Buffer), Size);
}

// A stopped conversion ends its stream too: what was encoded stays playable.
void TOGGCoder::Finish() {
  FinishOutput([this](TFileStream &) {
    try {
      Coder->End();
    } catch (...) {
      Coder->Clear();
      throw;
    }
    Coder->Clear();
    Coder->Output = nullptr;
  });
}
