// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/windows/format_dialogs.h"

std::unique_ptr<TFormatDialog> NewFormatDialog(TDestinationFormat Format, TSettingsStore &Store,
                                               TCoder_engine &Engine, QWidget *Parent) {
  switch (Format) {
    case dfMP3: return std::make_unique<TfrmMP3Options>(Store, Engine, Parent);
    case dfOGG: return std::make_unique<TfrmOGGOptions>(Store, Engine, Parent);
    case dfFLAC: return std::make_unique<TfrmFLACOptions>(Store, Engine, Parent);
    case dfAPE: return std::make_unique<TfrmAPEOptions>(Store, Engine, Parent);
    case dfWavPack: return std::make_unique<TfrmWavPackOptions>(Store, Engine, Parent);
    case dfAAC: return std::make_unique<TfrmAACOptions>(Store, Engine, Parent);
    case dfWMA: return std::make_unique<TfrmWMAOptions>(Store, Engine, Parent);
    default: return nullptr;
  }
}
