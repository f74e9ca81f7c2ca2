// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/format_settings.h"

#include "engine/coder_engine.h"

std::shared_ptr<void> LoadFormatOptions(const TFormatRow &Row, const TSettingsStore &Store) {
  const std::shared_ptr<void> defaults = Row.NewOptions();
  std::shared_ptr<void> options = Row.NewOptions();
  for (const TOptionField &f : Row.Fields) {
    const TStoredValue fallback = f.Get(defaults.get());
    switch (f.Kind) {
      case TFieldKind::Integer:
        f.Set(options.get(), Store.ReadInteger(f.StoredName, std::get<int32_t>(fallback)));
        break;
      case TFieldKind::Boolean:
        f.Set(options.get(), Store.ReadBoolean(f.StoredName, std::get<bool>(fallback)));
        break;
      case TFieldKind::Text:
        f.Set(options.get(), Store.ReadString(f.StoredName, std::get<std::string>(fallback)));
        break;
    }
  }
  return options;
}

std::vector<TSaveRec> FormatOptionsRecords(const TFormatRow &Row, const void *Options) {
  std::vector<TSaveRec> records;
  for (const TOptionField &f : Row.Fields)
    records.push_back({f.StoredName, f.WrittenAs ? TStoredValue(*f.WrittenAs) : f.Get(Options)});
  return records;
}

void LoadFormatOptions(const TSettingsStore &Store, TCoder_engine &Engine) {
  for (const TFormatRow *row : FormatRows())
    if (row->NewOptions) Engine.SetOptions(row->Code, LoadFormatOptions(*row, Store));
}
