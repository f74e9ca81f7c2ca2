// SPDX-License-Identifier: GPL-3.0-or-later
// The Opus settings dialog.
#pragma once

#include "app/windows/format_dialogs.h"

class TfrmOpusOptions : public TFormatDialog {
 public:
  TfrmOpusOptions(TSettingsStore &Store, TCoder_engine &Engine, QWidget *Parent);
  QSlider *tbBitrate, *tbComplexity, *tbFrameSize;
  QRadioButton *rbVBR, *rbCVBR, *rbCBR, *rbMusic, *rbSpeech;
};
