// FLAC outputs through libFLAC: the settings record, the level tables, and the
// encoder. The level only fills the detailed parameters, which are what the
// library receives. Receives 16-bit or packed 24-bit samples.
#pragma once

#include <memory>
#include <string>

#include "encoders/coder.h"
#include "encoders/flac_lib.h"

struct TFLACOptions {
  int32_t FirstUse = 1;
  int32_t CompressionLevel = 5;
  bool ExhaustiveModelSearch = false;
  bool ExhaustiveQlpSearch = false;
  bool AdaptiveMidSide = false;
  bool MidSide = false;
  int32_t MaxLpcOrder = 0;
  int32_t MaxResidualPartitionOrder = 0;
  int32_t MinResidualPartitionOrder = 0;
  int32_t QlpCoeffPrecision = 0;
  int32_t BlockSize = 4096;  // samples per channel
};

constexpr int FLACLevelCount = 9;
// The command line's level table: every detailed field cleared, then set for
// Level (0..8); a level outside the table leaves them cleared. The level
// itself is kept in CompressionLevel.
void ApplyFLACCommandLineLevel(int Level, TFLACOptions &Options);
// The options dialog's level table (mid-side where the command line's has none).
void ApplyFLACDialogLevel(int Level, TFLACOptions &Options);

class TFLACCoder : public TCustomCoder {
 public:
  TFLACCoder(const std::string &FileName, const TTagRec &Tags, const TAudioInfo &AudioInfo);
  void Finish() override;
  int Init(const void *Options, std::string &ErrorText) override;
  void DoOutput(const void *Buffer, int Size, bool WriteData) override;
  int GetBufferSize() override { return Coder->BlockSize; }
  const char *ClassName() const override { return "TFLACCoder"; }

  const TFLAC_Coder &Library() const { return *Coder; }

 private:
  std::unique_ptr<TFLAC_Coder> Coder;
  TFLACOptions Options;
};
