// SPDX-License-Identifier: GPL-3.0-or-later
#include "encoders/wavpack/wavpack_coder.h"

#include <stdexcept>

TWAVPACKCoder::TWAVPACKCoder(const std::string &FileName, const TTagRec &Tags, const TAudioInfo &AudioInfo,
                             const TWavPackOptions &Options)
    : TCustomCoder(FileName, Tags, AudioInfo), Coder(std::make_unique<TWAVPACK_Coder>()), Options(Options) {}

void ConfigureWavPack(TWAVPACK_Coder &Coder, const TWavPackOptions &Options, const TAudioInfo &AudioInfo) {
  Coder.Compression = uint8_t(Options.Compression);
  Coder.Hybrid = Options.Hybrid;
  Coder.Bitrate = Options.Bitrate;
  Coder.AudioInfo = AudioInfo;
}

void TWAVPACKCoder::Start() {
  TWAVPACK_Coder &c = *Coder;
  ConfigureWavPack(c, Options, AudioInfo);
  CreateOutput();
  c.Output = OutStream.get();
  if (!CompanionFileName.empty()) {
    CorrectionStream = CreateFileStream(CompanionFileName);
    c.Correction = CorrectionStream.get();
  }
  c.Start();
}

void TWAVPACKCoder::DoOutput(const void *Buffer, int Size, bool) {
  Coder->Pack(static_cast<const uint8_t *>(Buffer), Size);
}

// A stopped conversion gets its sample count too: what was packed stays playable.
void TWAVPACKCoder::Finish() {
  if (!OutStream) return;
  std::unique_ptr<TFileStream> stream = std::move(OutStream), correction = std::move(CorrectionStream);
  Coder->Finish();
  Coder->Output = Coder->Correction = nullptr;
  stream->Close();
  if (correction) correction->Close();
}
