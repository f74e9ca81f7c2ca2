// SPDX-License-Identifier: GPL-3.0-or-later
// The files converted at once for each destination format, used when the
// parallel files are set per format (the advanced mode).
#pragma once

#include <vector>

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

  // A format's slider ("tb" and its name; its box is "e" and the name).
  QSlider *Slider(TDestinationFormat Format) const;
  QPushButton *bDefault;
  int Processors;  // what bDefault counts with: this machine's

 private:
  struct TRow {
    TDestinationFormat Format;
    QSlider *Slider;
    QLabel *Field;
  };
  std::vector<TRow> Rows;  // one per format, in the order of the codes
  void Refresh();
};
