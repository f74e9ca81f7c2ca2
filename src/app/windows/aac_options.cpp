// SPDX-License-Identifier: GPL-3.0-or-later
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QRadioButton>
#include <QLabel>
#include <QSlider>
#include <QVBoxLayout>

#include "app/windows/format_dialogs.h"
#include "base/texts.h"
#include "encoders/aac/aac_format.h"

namespace {

// 0 leaves the value to the encoder.
std::string NumberOrAuto(int Value) { return Value == 0 ? text_auto : std::to_string(Value); }

}  // namespace


namespace {
const TFormatDialogRegistration kDialog(dfAAC, &NewDialogOf<TfrmAACOptions>);
}  // namespace

TfrmAACOptions::TfrmAACOptions(TSettingsStore &Store, TCoder_engine &Engine, QWidget *Parent)
    : TFormatDialog(dfAAC, "frmAACOptions", text_aac_settings, Store, Engine, Parent) {
  tbBitrate = Slider("tbBitrate", "AACBitrate");
  tbBitrate->setTickInterval(5);
  tbBandwidth = Slider("tbBandwidth", "AACBandwidth");
  tbQuality = Slider("tbQuality", "AACQuality");
  tbQuality->setTickInterval(50);
  auto *grid = new QGridLayout;
  AddRow(grid, Label("lBitrate", text_bitrate), tbBitrate, ValueBox("eBitrate", tbBitrate, NumberOrAuto),
         text_kbps_per_channel);
  AddRow(grid, Label("lBandwidth", text_bandwidth), tbBandwidth,
         ValueBox("eBandwidth", tbBandwidth, [](int v) { return NumberOrAuto(AACBandwidthAt(v)); }), text_hz);
  AddRow(grid, Label("lQuality", text_quality), tbQuality, ValueBox("eQuality", tbQuality, NumberOrAuto));
  rbADTS = Choice("rbADTS", "AACContainer", std::string("ADTS"), text_aac_adts);
  rbMP4 = Choice("rbMP4", "AACContainer", std::string("MP4"), text_aac_mp4);
  auto *container = new QGroupBox(QString::fromStdString(text_container), this);
  container->setObjectName("gbContainer");
  auto *choices = new QHBoxLayout(container);
  choices->addWidget(rbADTS);
  choices->addWidget(rbMP4);
  choices->addStretch();
  auto *layout = new QVBoxLayout(this);
  layout->addLayout(grid);
  layout->addWidget(container);
  layout->addLayout(ButtonRow());
  Load();
  FitTo(420, 0);
}
