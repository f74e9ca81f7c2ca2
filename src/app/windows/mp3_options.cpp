// SPDX-License-Identifier: GPL-3.0-or-later
#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QSlider>
#include <QVBoxLayout>

#include "app/windows/format_dialogs.h"
#include "base/texts.h"
#include "encoders/mp3/mp3_format.h"

namespace {

std::string Kbps(int Position) { return std::to_string(MP3BitrateAt(Position)); }

// What a preset does, in plain words, beside its name.
std::string PresetDescription(int Position) {
  const auto fast = [](const std::string &text) { return FormatText(text_preset_fast, text); };
  switch (Position) {
    case 0: return FormatText(text_preset_quality, 5);
    case 1: return FormatText(text_preset_quality, 9);
    case 2: return FormatText(text_preset_quality, 2);
    case 3: return text_preset_voice;
    case 4: return FormatText(text_preset_vbr, 175);
    case 5: return FormatText(text_preset_quality, 0);
    case 6: return FormatText(text_preset_vbr, 190);
    case 7: return fast(FormatText(text_preset_vbr, 190));
    case 8: return FormatText(text_preset_vbr, 245);
    case 9: return fast(FormatText(text_preset_vbr, 245));
    case 10: return FormatText(text_preset_cbr, 320);
    case 11: return text_preset_abr;
    case 12: return text_preset_cbr_min;
    case 13: return FormatText(text_preset_vbr, 165);
    case 14: return fast(FormatText(text_preset_vbr, 165));
    default: return {};
  }
}

}  // namespace


namespace {
const TFormatDialogRegistration kDialog(dfMP3, &NewDialogOf<TfrmMP3Options>);
}  // namespace

TfrmMP3Options::TfrmMP3Options(TSettingsStore &Store, TCoder_engine &Engine, QWidget *Parent)
    : TFormatDialog(dfMP3, "frmMP3Options", text_mp3_settings, Store, Engine, Parent) {
  // A stored mode of none of these three (QUALITY) shows as VBR.
  rbVBR = Choice("rbVBR", "MP3BitrateType", std::string("VBR"), text_vbr);
  rbCBR = Choice("rbCBR", "MP3BitrateType", std::string("CBR"), text_cbr);
  rbPreset = Choice("rbPreset", "MP3BitrateType", std::string("PRESET"), text_preset);
  tbPreset = Slider("tbPreset", "MP3Preset", 0);
  tbCBR = Slider("tbCBR", "MP3Bitrate");
  tbVBRMin = Slider("tbVBRMin", "MP3MinBitrate");
  tbVBRMax = Slider("tbVBRMax", "MP3MaxBitrate");
  tbVBRMethod = Slider("tbVBRMethod", "MP3VBRMethod");
  tbQuality = Slider("tbQuality", "MP3Quality");
  rbStereo = Choice("rbStereo", "MP3StereoMode", int32_t(0), text_stereo);
  rbJointStereo = Choice("rbJointStereo", "MP3StereoMode", int32_t(1), text_joint_stereo);
  cbAutoFindBitrate = Check("cbAutoFindBitrate", "MP3AutoFindBitrate", text_auto_find_bitrate);
  cbAutoFindBitrate->setToolTip(QString::fromStdString(text_tip_auto_find_bitrate));
  lVBRMin = Label("lVBRMin", text_min_bitrate);
  lVBRMax = Label("lVBRMax", text_max_bitrate);
  QLabel *lVBRMethod = Label("lVBRMethod", text_vbr_method);
  lQuality = Label("lQuality", text_quality);
  lQualityNote = Label("lQualityNote", text_0_is_highest);

  auto *grid = new QGridLayout;
  AddRow(grid, rbPreset, tbPreset, ValueBox("ePreset", tbPreset, [](int v) { return MP3PresetName(v); }));
  lPresetNote = Label("lPresetNote", "");
  const auto describe = [this] {
    lPresetNote->setText(QString::fromStdString(MP3PresetName(tbPreset->value()) + std::string(" — ") +
                                                PresetDescription(tbPreset->value())));
  };
  connect(tbPreset, &QSlider::valueChanged, lPresetNote, describe);
  describe();
  grid->addWidget(lPresetNote, grid->rowCount(), 1, 1, 3);
  AddRow(grid, rbCBR, tbCBR, ValueBox("eCBR", tbCBR, Kbps), text_kbps);
  grid->addWidget(rbVBR, grid->rowCount(), 0, 1, 4);
  AddRow(grid, lVBRMin, tbVBRMin, ValueBox("eVBRMin", tbVBRMin, Kbps), text_kbps);
  AddRow(grid, lVBRMax, tbVBRMax, ValueBox("eVBRMax", tbVBRMax, Kbps), text_kbps);
  const std::string *methods[] = {&text_default, &text_old, &text_new, &text_abr};
  AddRow(grid, lVBRMethod, tbVBRMethod,
         ValueBox("eVBRMethod", tbVBRMethod, [methods](int v) { return *methods[std::min(v, 3)]; }));
  AddRow(grid, lQuality, tbQuality, ValueBox("eQuality", tbQuality, [](int v) { return std::to_string(v); }));
  grid->addWidget(lQualityNote, grid->rowCount(), 1, 1, 3);
  for (QLabel *label : {lVBRMin, lVBRMax, lVBRMethod, lQuality}) label->setIndent(20);

  gbStereoMode = new QGroupBox(QString::fromStdString(text_stereo_mode), this);
  gbStereoMode->setObjectName("gbStereoMode");
  auto *stereo = new QHBoxLayout(gbStereoMode);
  stereo->addWidget(rbStereo);
  stereo->addWidget(rbJointStereo);
  stereo->addStretch();

  auto *layout = new QVBoxLayout(this);
  layout->addLayout(grid);
  layout->addWidget(gbStereoMode);
  layout->addWidget(cbAutoFindBitrate);
  layout->addLayout(ButtonRow());
  Load();
  FitTo(460, 0);
}

void TfrmMP3Options::Changed() {
  // The maximum never stands below the minimum: a larger minimum takes it along.
  if (tbVBRMin->value() > tbVBRMax->value()) tbVBRMax->setValue(tbVBRMin->value());
  tbPreset->setEnabled(rbPreset->isChecked());
  lPresetNote->setEnabled(rbPreset->isChecked());
  tbCBR->setEnabled(rbCBR->isChecked());
  for (QWidget *w : std::initializer_list<QWidget *>{tbVBRMin, tbVBRMax, lVBRMin, lVBRMax})
    w->setEnabled(rbVBR->isChecked());
  for (QWidget *w : std::initializer_list<QWidget *>{gbStereoMode, tbQuality, lQuality, lQualityNote, cbAutoFindBitrate})
    w->setEnabled(!rbPreset->isChecked());
}
