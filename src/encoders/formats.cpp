// SPDX-License-Identifier: GPL-3.0-or-later
#include "encoders/format.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <iterator>

#include "encoders/aac/aac_format.h"
#include "encoders/alac/alac_format.h"
#include "encoders/ape/ape_format.h"
#include "encoders/flac/flac_format.h"
#include "encoders/mp3/mp3_format.h"
#include "encoders/ogg/ogg_format.h"
#include "encoders/opus/opus_format.h"
#include "encoders/span_join.h"
#include "encoders/wav/wav_format.h"
#include "encoders/wavpack/wavpack_format.h"
#include "encoders/wma/wma_format.h"

namespace {

const TFormatRow *const kRows[] = {&MP3Format, &WavPackFormat, &OGGFormat, &FLACFormat,
                                   &APEFormat, &AACFormat,     &WMAFormat, &WAVFormat,
                                   &OpusFormat,   &ALACFormat};

}  // namespace

std::span<const TFormatRow *const> FormatRows() { return kRows; }

std::span<const TFormatRow *const> FormatRowsByCode() {
  static const auto rows = [] {
    std::array<const TFormatRow *, std::size(kRows)> sorted;
    std::copy(std::begin(kRows), std::end(kRows), sorted.begin());
    std::sort(sorted.begin(), sorted.end(), [](const TFormatRow *a, const TFormatRow *b) { return a->Code < b->Code; });
    return sorted;
  }();
  return rows;
}

const TFormatRow *FormatRow(TDestinationFormat Format) {
  for (const TFormatRow *row : kRows)
    if (row->Code == Format) return row;
  return nullptr;
}

const char *FormatName(TDestinationFormat Format) {
  const TFormatRow *row = FormatRow(Format);
  return row ? row->Name : "";
}

std::unique_ptr<TCustomCoder> CreateCoder(TDestinationFormat Format, const std::string &FileName,
                                          const TTagRec &Tags, const TAudioInfo &AudioInfo,
                                          const void *Options, int32_t SpanThreads) {
  const TFormatRow *row = FormatRow(Format);
  if (!row || !row->CreateCoder) return nullptr;
  // Without a record, the defaults (the coder and joiner keep their own copy).
  const std::shared_ptr<void> defaults = Options ? nullptr : row->NewOptions();
  const void *options = Options ? Options : defaults.get();
  if (SpanThreads > 1 && row->CreateJoiner)
    if (std::unique_ptr<TSpanJoiner> joiner = row->CreateJoiner(FileName, Tags, AudioInfo, options))
      return std::make_unique<TSpreadCoder>(std::move(joiner), SpanThreads, FileName, Tags, AudioInfo);
  return row->CreateCoder(FileName, Tags, AudioInfo, options);
}

const char *OutputExtension(const TFormatRow &Row, const void *Options) {
  if (!Row.ExtensionOf) return Row.Extension;
  if (Options) return Row.ExtensionOf(Options);
  return Row.ExtensionOf(Row.NewOptions().get());
}

bool HasEncoder(TDestinationFormat Format) {
  const TFormatRow *row = FormatRow(Format);
  return row && row->CreateCoder;
}

void FillCoderVersions() {
  for (const TFormatRow *row : kRows)
    if (row->Version) DestinationFileTypes[size_t(row->Code - 1)].CoderVersion = row->Version();
}

int32_t PositionIn(std::span<const int32_t> Table, int32_t Value, int32_t First, int32_t Otherwise) {
  for (size_t i = size_t(First); i < Table.size(); ++i)
    if (Table[i] == Value) return int32_t(i);
  return Otherwise;
}

bool IsNumberText(const std::string &Text) {
  return !Text.empty() && Text.size() < 10 &&
         std::all_of(Text.begin(), Text.end(), [](char c) { return std::isdigit(static_cast<unsigned char>(c)); });
}

void ReadNumberKey(const TKeyLookup &Keys, const char *Key, int32_t &Target, std::string &Error) {
  const std::optional<std::string> value = Keys.Value(Key);
  if (!value) return;
  if (!IsNumberText(*value)) {
    Error = std::string("/") + Key + " needs a number, not \"" + *value + "\"";
    return;
  }
  Target = std::stoi(*value);
}
