// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/format_readers.h"

#include "app/format_settings.h"

namespace {

class TLineKeys final : public TKeyLookup {
 public:
  explicit TLineKeys(const TCommandLine &Line) : Line(Line) {}
  std::optional<std::string> Value(const char *Key) const override {
    std::string value = Line.GetParamValue(Key, MissingKey);
    if (value == MissingKey) return std::nullopt;
    return value;
  }
  bool Given(const char *Key) const override { return Line.HasParam(Key); }

 private:
  const TCommandLine &Line;
};

}  // namespace

TFormatReading ReadFormatCommandLine(TDestinationFormat Format, const TCommandLine &Line,
                                     const TSettingsStore &Store, TCoder_engine &Engine) {
  const TFormatRow *row = FormatRow(Format);
  if (!row || !row->NewOptions) return {};
  TFormatReading r;
  // Every key as given, a missing one as its mark.
  r.DebugMessage = std::string(row->Name) + " Parameters = ";
  if (row->Keys.empty()) r.DebugMessage += "(none)";
  for (size_t i = 0; i < row->Keys.size(); ++i)
    r.DebugMessage += (i ? ", " : "") + std::string(row->Keys[i]) + "=" + Line.GetParamValue(row->Keys[i], MissingKey);
  std::shared_ptr<void> options = LoadFormatOptions(*row, Store);
  if (row->ReadKeys) row->ReadKeys(TLineKeys(Line), options.get(), r.Error);
  Engine.SetOptions(Format, std::move(options));
  return r;
}
