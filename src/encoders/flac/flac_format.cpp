// SPDX-License-Identifier: GPL-3.0-or-later
#include "encoders/flac/flac_format.h"

#include <FLAC/format.h>

#include "encoders/flac/flac_coder.h"
#include "encoders/flac/flac_joiner.h"

namespace {

struct TLevel {
  int32_t MaxLpcOrder, BlockSize, MaxResidualPartitionOrder;
};
const TLevel kLevels[FLACLevelCount] = {{0, 1152, 3}, {0, 1152, 3}, {0, 1152, 3},
                                        {6, 4096, 4}, {8, 4096, 4}, {8, 4096, 5},
                                        {8, 4096, 6}, {8, 4096, 6}, {12, 4096, 6}};

const int32_t kBlockSizes[FLACBlockSizeCount + 1] = {0,    192,  256,  512,  576,  1024, 1152,
                                                    2048, 2304, 4096, 4608, 8192, 16384};

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

using format_row::Field;
constexpr TOptionField kFields[] = {
    Field<&TFLACOptions::CompressionLevel>("FLACCompression", 0, FLACLevelCount - 1),
    // Saved only when the dialog is confirmed: from then on it is no first use.
    Field<&TFLACOptions::FirstUse>("FLACFirst", 0, 1, 0),
    Field<&TFLACOptions::ExhaustiveModelSearch>("FLACe"),
    Field<&TFLACOptions::ExhaustiveQlpSearch>("FLACp"),
    Field<&TFLACOptions::AdaptiveMidSide>("FLACmm"),
    Field<&TFLACOptions::MidSide>("FLACm"),
    Field<&TFLACOptions::MaxLpcOrder>("FLACl", 0, 32),
    Field<&TFLACOptions::MaxResidualPartitionOrder>("FLACrmax", 0, 15),
    Field<&TFLACOptions::MinResidualPartitionOrder>("FLACrmin", 0, 15),
    Field<&TFLACOptions::QlpCoeffPrecision>("FLACq", 0, 15),
    Field<&TFLACOptions::BlockSize>("FLACBuffer", 16, 65535),
};

constexpr const char *kKeys[] = {"Compression"};
constexpr TKeyHelp kKeyHelp[] = {
    {"Compression", "FLACCompression", "level, as flac -0 ... -8"},
};

void ReadKeys(const TKeyLookup &Keys, TFLACOptions &o, std::string &Error) {
  const std::optional<std::string> level = Keys.Value("Compression");
  if (!level) return;
  if (!IsNumberText(*level) || std::stoi(*level) >= FLACLevelCount)
    Error = "/compression for FLAC is a level from 0 to 8, not \"" + *level + "\"";
  else
    ApplyFLACCommandLineLevel(std::stoi(*level), o);
}

TCoderVersionRec Version() { return {FLAC__VERSION_STRING, 0, 0, "libFLAC.so.12"}; }

}  // namespace

int32_t FLACBlockSizeAt(int Position) {
  return kBlockSizes[Position >= 1 && Position <= FLACBlockSizeCount ? Position : 5];
}

int FLACBlockSizePosition(int32_t BlockSize) { return PositionIn(kBlockSizes, BlockSize, 1, 5); }

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

constinit const TFormatRow FLACFormat = {
    .Code = dfFLAC,
    .Name = "FLAC",
    .Extension = "flac",
    .Samples = {.FromFloat = 16, .From24 = 24, .Wide = TWideSamples::Packed24},
    .CreateCoder = &format_row::CreateCoder<TFLACCoder, TFLACOptions>,
    .WriteTags = &tag_writers::FLAC,
    .Version = &Version,
    .NewOptions = &format_row::NewOptions<TFLACOptions>,
    .Fields = kFields,
    .Keys = kKeys,
    .ReadKeys = &format_row::ReadKeys<TFLACOptions, &ReadKeys>,
    .KeyHelp = kKeyHelp,
    .Lossless = &format_row::AlwaysLossless,
    // A frame header states rates up to 655350 Hz.
    .Takes = [](const void *) { return TEncoderRange{.MaxRate = 655350, .MaxChannels = 8}; },
    .CreateJoiner = &CreateFLACJoiner,
};
