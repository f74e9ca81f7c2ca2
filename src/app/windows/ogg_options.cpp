// SPDX-License-Identifier: GPL-3.0-or-later
#include <QGridLayout>
#include <QLabel>
#include <QRadioButton>
#include <QSlider>
#include <QVBoxLayout>

#include "app/windows/format_dialogs.h"
#include "base/texts.h"
#include "encoders/ogg/ogg_format.h"


namespace {
const TFormatDialogRegistration kDialog(dfOGG, &NewDialogOf<TfrmOGGOptions>);
}  // namespace

TfrmOGGOptions::TfrmOGGOptions(TSettingsStore &Store, TCoder_engine &Engine, QWidget *Parent)
    : TFormatDialog(dfOGG, "frmOGGOptions", text_ogg_settings, Store, Engine, Parent) {
  // Every stored mode but the quality manages the bitrate, as the encoder reads it.
  rbBitrates = Choice("rbBitrates", "OGGBitrateType", std::string("CBR"), text_defined_by_bitrates);
  rbQuality = Choice("rbQuality", "OGGBitrateType", std::string("QUALITY"), text_quality);
  tbQuality = Slider("tbQuality", "OGGQuality");
  tbMax = Slider("tbMax", "OGGMax", 1);
  tbAvg = Slider("tbAvg", "OGGAvg", 1);
  tbMin = Slider("tbMin", "OGGMin", 1);
  lMax = Label("lMax", text_desired_max);
  lAvg = Label("lAvg", text_desired_avg);
  lMin = Label("lMin", text_desired_min);

  // Minimum <= average <= maximum: raising one raises those above it, and
  // none can be lowered below the one beneath it.
  connect(tbMax, &QSlider::valueChanged, this, [this](int v) {
    if (v < tbAvg->value()) tbMax->setValue(tbAvg->value());
  });
  connect(tbAvg, &QSlider::valueChanged, this, [this](int v) {
    if (v < tbMin->value()) tbAvg->setValue(tbMin->value());
    else if (v > tbMax->value()) tbMax->setValue(v);
  });
  connect(tbMin, &QSlider::valueChanged, this, [this](int v) {
    if (v > tbAvg->value()) tbAvg->setValue(v);
  });

  const auto kbps = [](int v) { return std::to_string(OGGBitrateAt(v) / 1000); };
  auto *grid = new QGridLayout;
  AddRow(grid, rbQuality, tbQuality, ValueBox("eQuality", tbQuality, [](int v) { return std::to_string(v - 1); }));
  grid->addWidget(rbBitrates, grid->rowCount(), 0, 1, 3);
  AddRow(grid, lMax, tbMax, ValueBox("eMax", tbMax, kbps), text_kbps);
  AddRow(grid, lAvg, tbAvg, ValueBox("eAvg", tbAvg, kbps), text_kbps);
  AddRow(grid, lMin, tbMin, ValueBox("eMin", tbMin, kbps), text_kbps);
  for (QLabel *label : {lMax, lAvg, lMin}) label->setIndent(20);
  auto *layout = new QVBoxLayout(this);
  layout->addLayout(grid);
  layout->addLayout(ButtonRow());
  Load();
  FitTo(440, 0);
}

void TfrmOGGOptions::Changed() {
  tbQuality->setEnabled(rbQuality->isChecked());
  for (QWidget *w : std::initializer_list<QWidget *>{tbMax, tbAvg, tbMin, lMax, lAvg, lMin})
    w->setEnabled(rbBitrates->isChecked());
}
