// SPDX-License-Identifier: GPL-3.0-or-later
// The settings dialogs of the formats, each in its own file, where it
// registers itself with its format (a format without settings has none).
// Controls carry the names users of the dialogs (and their tests) know.
#pragma once

#include <memory>

#include "app/windows/format_dialog.h"

class QGroupBox;

// The dialog of Format (null for a format without one, WAV), reading the stored values.
std::unique_ptr<TFormatDialog> NewFormatDialog(TDestinationFormat Format, TSettingsStore &Store,
                                               TCoder_engine &Engine, QWidget *Parent = nullptr);
bool HasFormatDialog(TDestinationFormat Format);

using TNewFormatDialog = std::unique_ptr<TFormatDialog> (*)(TSettingsStore &Store, TCoder_engine &Engine,
                                                            QWidget *Parent);
// A dialog's file holds one of these, naming its format and its dialog. The
// dialogs' objects are linked whole (CMakeLists.txt), so none is left out.
struct TFormatDialogRegistration {
  TFormatDialogRegistration(TDestinationFormat Format, TNewFormatDialog New);
};
template <class TDialog>
std::unique_ptr<TFormatDialog> NewDialogOf(TSettingsStore &Store, TCoder_engine &Engine, QWidget *Parent) {
  return std::make_unique<TDialog>(Store, Engine, Parent);
}

class TfrmMP3Options : public TFormatDialog {
 public:
  TfrmMP3Options(TSettingsStore &Store, TCoder_engine &Engine, QWidget *Parent);
  QRadioButton *rbPreset, *rbCBR, *rbVBR, *rbStereo, *rbJointStereo;
  QSlider *tbPreset, *tbCBR, *tbVBRMin, *tbVBRMax, *tbVBRMethod, *tbQuality;
  QCheckBox *cbAutoFindBitrate;

 protected:
  void Changed() override;

 private:
  QLabel *lVBRMin, *lVBRMax, *lQuality, *lQualityNote;
  QLabel *lPresetNote;  // what the preset does
  QGroupBox *gbStereoMode;
};

class TfrmOGGOptions : public TFormatDialog {
 public:
  TfrmOGGOptions(TSettingsStore &Store, TCoder_engine &Engine, QWidget *Parent);
  QRadioButton *rbQuality, *rbBitrates;
  QSlider *tbQuality, *tbMax, *tbAvg, *tbMin;

 protected:
  void Changed() override;

 private:
  QLabel *lMax, *lAvg, *lMin;
};

class TfrmFLACOptions : public TFormatDialog {
 public:
  TfrmFLACOptions(TSettingsStore &Store, TCoder_engine &Engine, QWidget *Parent);
  QSlider *tbCompression, *tbBlockSize;
  QCheckBox *cbExhaust, *cbExhaustLP, *cbAdaptive, *cbMidside;
  QLineEdit *eMaxLPC, *eMaxRes, *eMinREs, *ePrecision;

 private:
  void ApplyLevel(int Level);
};

class TfrmAPEOptions : public TFormatDialog {
 public:
  TfrmAPEOptions(TSettingsStore &Store, TCoder_engine &Engine, QWidget *Parent);
  QSlider *tbCompression;
};

class TfrmWavPackOptions : public TFormatDialog {
 public:
  TfrmWavPackOptions(TSettingsStore &Store, TCoder_engine &Engine, QWidget *Parent);
  QRadioButton *rbCompression, *rbHybrid;
  QSlider *tbCompression, *tbHybrid;
  QCheckBox *cbCorrection;

 protected:
  void Changed() override;
};

class TfrmAACOptions : public TFormatDialog {
 public:
  TfrmAACOptions(TSettingsStore &Store, TCoder_engine &Engine, QWidget *Parent);
  QSlider *tbBitrate, *tbBandwidth, *tbQuality;
  QRadioButton *rbADTS, *rbMP4;
};

class TfrmWMAOptions : public TFormatDialog {
 public:
  TfrmWMAOptions(TSettingsStore &Store, TCoder_engine &Engine, QWidget *Parent);
  QRadioButton *rbCBR, *rbVBR;
  QSlider *tbCBR, *tbVBR;
  QCheckBox *cbAutoFindBitrate, *cbUsePro, *cbLoseless;

 protected:
  void Changed() override;
};
