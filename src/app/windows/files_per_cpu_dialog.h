// SPDX-License-Identifier: GPL-3.0-or-later
// The files converted at once for each destination format, used when the
// parallel files are set per format (the advanced mode).
#pragma once

#include <array>

#include "app/windows/options_dialog.h"
#include "base/misc.h"

class QLabel;
class QSlider;

class TfrmFilesPerCPU : public TOptionsDialog {
 public:
  // Shows the values of the destination-format table.
  explicit TfrmFilesPerCPU(QWidget *Parent);

  // On OK: the sliders into the destination-format table (in memory only).
  bool Run();
  void bDefaultClick();

  QSlider *tbMP3, *tbWMA, *tbOGG, *tbAPE, *tbFLAC, *tbWavPack, *tbAAC, *tbWAV;
  QLabel *eMP3, *eWMA, *eOGG, *eAPE, *eFLAC, *eWavPack, *eAAC, *eWAV;
  QPushButton *bDefault;
  int Processors;  // what bDefault counts with: this machine's

 private:
  // In the order of the format codes (MP3 = 1 ... WAV = 8).
  std::array<QSlider *, DestinationFormatCount> Sliders() const;
  void Refresh();
};
