// SPDX-License-Identifier: GPL-3.0-or-later
// The preprocess options: resampling and channel count of the decoded audio,
// splitting sources at their silences, and how CUE sheets are cut.
#pragma once

#include <functional>
#include <string>

#include "app/settings_store.h"
#include "app/windows/options_dialog.h"
#include "base/misc.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QSlider;

class TfrmPreprocessOptions : public TOptionsDialog {
 public:
  TfrmPreprocessOptions(const TPreprocessOptions &Options, QWidget *Parent);

  // The options as the dialog shows them; a list without a selection (its
  // stored value was none of its items) keeps the value it was opened with.
  TPreprocessOptions Options() const;

  QCheckBox *cbResample, *cbSplitBySilence, *cbHiddenTrack, *cbPregapOwnTrack;
  QComboBox *cmResampleTo, *cmThreshold, *cmSeconds;
  QSlider *tbChannels;
  QLabel *l1, *l2, *l3, *l4, *eChannels;

 private:
  void Refresh();
  TPreprocessOptions Shown;
};

// bPreprocessOptionsClick: the dialog over the stored options; on OK they are
// stored in one write (Say tells a failed save) and become Options. True when
// confirmed.
bool RunPreprocessOptions(QWidget *Parent, TSettingsStore &Store, TPreprocessOptions &Options,
                          const std::function<void(const std::string &)> &Say);
