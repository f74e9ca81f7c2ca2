// SPDX-License-Identifier: GPL-3.0-or-later
// The progress line of a batch run on a terminal: one line on standard error
// that redraws itself. Nothing is drawn when standard error is no terminal.
#pragma once

#include <string>

#include "base/misc.h"

class TConsoleProgress {
 public:
  TConsoleProgress();  // enabled when standard error is a terminal
  void Show(const TProgressRec &Rec);
  // Ends the line, so later messages start on a line of their own.
  void Finish();
  bool Enabled = false;

  // The text of the line for a report, at most `width` characters wide.
  static std::string LineText(const TProgressRec &Rec, int width);

 private:
  bool Drawn = false;
};
