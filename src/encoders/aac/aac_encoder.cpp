// SPDX-License-Identifier: GPL-3.0-or-later
#include "encoders/aac/aac_encoder.h"

TACCCoder::TACCCoder(const std::string &FileName, const TTagRec &Tags, const TAudioInfo &AudioInfo,
                     const TAACOptions &Options)
    : TCustomCoder(FileName, Tags, AudioInfo), Coder(std::make_unique<TACC_Coder>()), Options(Options) {}

int TACCCoder::Init(std::string &ErrorText) {
  ErrorText.clear();
  try {
    Coder->Bitrate = Options.Bitrate;
    Coder->Bandwidth = Options.Bandwidth;
    Coder->Quality = Options.Quality;
    Coder->AudioInfo = AudioInfo;
    CreateOutput();
    Coder->Start(OutStream.get());
    return 0;
  } catch (const std::exception &e) {
    ErrorText = e.what();
    return 1;
  }
}

void TACCCoder::DoOutput(const void *Buffer, int Size, bool) {
  Coder->Encode(static_cast<const uint8_t *>(Buffer), Size);
}

void TACCCoder::Finish() {
  if (!OutStream) return;
  std::unique_ptr<TFileStream> stream = std::move(OutStream);
  // The library holds back the last frames until it is called without samples.
  if (!Aborted) Coder->Drain();
  stream->Close();
}
