#include "encoders/flac_coder.h"

#include <stdexcept>

namespace {

struct TLevel {
  int32_t MaxLpcOrder, BlockSize, MaxResidualPartitionOrder;
};
const TLevel kLevels[FLACLevelCount] = {{0, 1152, 3}, {0, 1152, 3}, {0, 1152, 3},
                                        {6, 4096, 4}, {8, 4096, 4}, {8, 4096, 5},
                                        {8, 4096, 6}, {8, 4096, 6}, {12, 4096, 6}};

void ClearDetails(TFLACOptions &o) {
  o.ExhaustiveModelSearch = o.ExhaustiveQlpSearch = o.AdaptiveMidSide = o.MidSide = false;
  o.MaxLpcOrder = o.MaxResidualPartitionOrder = o.MinResidualPartitionOrder = 0;
  o.QlpCoeffPrecision = o.BlockSize = 0;
}

void ApplyOrders(int Level, TFLACOptions &o) {
  o.MaxLpcOrder = kLevels[Level].MaxLpcOrder;
  o.BlockSize = kLevels[Level].BlockSize;
  o.MaxResidualPartitionOrder = kLevels[Level].MaxResidualPartitionOrder;
}

}  // namespace

void ApplyFLACCommandLineLevel(int Level, TFLACOptions &o) {
  ClearDetails(o);
  if (Level < 0 || Level >= FLACLevelCount) return;
  o.CompressionLevel = Level;
  ApplyOrders(Level, o);
  o.AdaptiveMidSide = Level == 1 || Level == 4 || Level == 6;
  o.MidSide = Level == 2;
  o.ExhaustiveModelSearch = Level >= 7;
}

void ApplyFLACDialogLevel(int Level, TFLACOptions &o) {
  ClearDetails(o);
  if (Level < 0 || Level >= FLACLevelCount) return;
  o.CompressionLevel = Level;
  ApplyOrders(Level, o);
  o.AdaptiveMidSide = Level == 1 || Level == 4;
  o.MidSide = Level >= 2 && Level != 4;
  o.ExhaustiveModelSearch = Level >= 7;
}

TFLACCoder::TFLACCoder(const std::string &FileName, const TTagRec &Tags, const TAudioInfo &AudioInfo)
    : TCustomCoder(FileName, Tags, AudioInfo), Coder(std::make_unique<TFLAC_Coder>()) {}

int TFLACCoder::Init(const void *OptionsRecord, std::string &ErrorText) {
  ErrorText.clear();
  try {
    Options = *static_cast<const TFLACOptions *>(OptionsRecord);
    CreateOutput();
    TFLAC_Coder &c = *Coder;
    c.Output = OutStream.get();
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
    c.Start();
    return 0;
  } catch (const std::exception &e) {
    ErrorText = e.what();
    return 1;
  }
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
