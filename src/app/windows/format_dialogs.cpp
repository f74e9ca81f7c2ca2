// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/windows/format_dialogs.h"

#include <array>

namespace {

// Filled while the program's statics are made, before main; read-only after.
std::array<TNewFormatDialog, MaxDestinationFormat> &Dialogs() {
  static std::array<TNewFormatDialog, MaxDestinationFormat> dialogs{};
  return dialogs;
}

}  // namespace

TFormatDialogRegistration::TFormatDialogRegistration(TDestinationFormat Format, TNewFormatDialog New) {
  if (Format >= 1 && Format <= MaxDestinationFormat) Dialogs()[Format - 1] = New;
}

bool HasFormatDialog(TDestinationFormat Format) {
  return Format >= 1 && Format <= MaxDestinationFormat && Dialogs()[Format - 1];
}

std::unique_ptr<TFormatDialog> NewFormatDialog(TDestinationFormat Format, TSettingsStore &Store,
                                               TCoder_engine &Engine, QWidget *Parent) {
  return HasFormatDialog(Format) ? Dialogs()[Format - 1](Store, Engine, Parent) : nullptr;
}
