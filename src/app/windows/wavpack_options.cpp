// SPDX-License-Identifier: GPL-3.0-or-later
#include <QCheckBox>
#include <QGridLayout>
#include <QLabel>
#include <QRadioButton>
#include <QSlider>
#include <QVBoxLayout>

#include "app/windows/format_dialogs.h"
#include "base/texts.h"


namespace {
const TFormatDialogRegistration kDialog(dfWavPack, &NewDialogOf<TfrmWavPackOptions>);
}  // namespace

TfrmWavPackOptions::TfrmWavPackOptions(TSettingsStore &Store, TCoder_engine &Engine, QWidget *Parent)
    : TFormatDialog(dfWavPack, "frmWavPackOptions", text_wavpack_settings, Store, Engine, Parent) {
  rbCompression = Choice("rbCompression", "WVHybrid", false, text_loseless_wavpack);
  rbHybrid = Choice("rbHybrid", "WVHybrid", true, text_hybrid);
  tbCompression = Slider("tbCompression", "WVCompression");
  tbHybrid = Slider("tbHybrid", "WVBitrate");
  tbHybrid->setTickInterval(300);
  tbHybrid->setPageStep(300);
  cbCorrection = Check("cbCorrection", "WVCorrection", text_correction_file);
  const std::string *names[] = {&text_compression_fast, &text_compression_high, &text_compression_very_high};

  auto *grid = new QGridLayout;
  grid->addWidget(rbCompression, 0, 0, 1, 3);
  AddRow(grid, nullptr, tbCompression,
         ValueBox("eCompression", tbCompression, [names](int v) { return *names[v >= 0 && v <= 1 ? v : 2]; }));
  grid->addWidget(rbHybrid, grid->rowCount(), 0, 1, 3);
  AddRow(grid, nullptr, tbHybrid, ValueBox("eHybrid", tbHybrid, [](int v) { return std::to_string(v); }), text_kbps);
  grid->addWidget(cbCorrection, grid->rowCount(), 1, 1, 2);
  grid->setColumnMinimumWidth(0, 20);
  auto *layout = new QVBoxLayout(this);
  layout->addLayout(grid);
  layout->addLayout(ButtonRow());
  Load();
  FitTo(400, 0);
}

void TfrmWavPackOptions::Changed() {
  tbCompression->setEnabled(rbCompression->isChecked());
  tbHybrid->setEnabled(rbHybrid->isChecked());
  cbCorrection->setEnabled(rbHybrid->isChecked());  // the correction file belongs to the hybrid mode
}
