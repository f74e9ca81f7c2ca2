// SPDX-License-Identifier: GPL-3.0-or-later
#include "encoders/flac/flac_coder.h"

#include <stdexcept>

TFLACCoder::TFLACCoder(const std::string &FileName, const TTagRec &Tags, const TAudioInfo &AudioInfo,
                       const TFLACOptions &Options)
    : TCustomCoder(FileName, Tags, AudioInfo), Coder(std::make_unique<TFLAC_Coder>()), Options(Options) {}

void ConfigureFLAC(TFLAC_Coder &c, const TFLACOptions &Options, const TAudioInfo &AudioInfo) {
  c.ExhaustiveModelSearch = Options.ExhaustiveModelSearch;
  c.BlockSize = uint16_t(Options.BlockSize);
  c.MidSide = Options.MidSide;
  if (Options.AdaptiveMidSide) c.MidSide = true;
  c.LooseMidSide = Options.AdaptiveMidSide;
  c.MaxLpcOrder = uint16_t(Options.MaxLpcOrder);
  c.MaxResidualPartitionOrder = uint16_t(Options.MaxResidualPartitionOrder);
  c.MinResidualPartitionOrder = uint16_t(Options.MinResidualPartitionOrder);
  c.QlpCoeffPrecision = uint16_t(Options.QlpCoeffPrecision);
  c.QlpCoeffPrecSearch = Options.ExhaustiveQlpSearch;
  c.AudioInfo = AudioInfo;
}

void TFLACCoder::Start() {
  CreateOutput();
  Sink = std::make_unique<TFLACFileSink>(*OutStream);
  Coder->Output = Sink.get();
  ConfigureFLAC(*Coder, Options, AudioInfo);
  Coder->Start();
}

void TFLACCoder::DoOutput(const void *Buffer, int Size, bool) {
  Coder->Encode(static_cast<const uint8_t *>(Buffer), Size);
}

void TFLACCoder::Finish() {
  const bool finished = Coder->Finish();
  if (!OutStream) return;
  std::unique_ptr<TFileStream> stream = std::move(OutStream);
  Coder->Output = nullptr;
  stream->Close();
  if (!finished) throw std::runtime_error(Coder->FailureText());
}
