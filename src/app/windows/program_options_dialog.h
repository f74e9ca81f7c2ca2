// SPDX-License-Identifier: GPL-3.0-or-later
// The program options: process priority, files converted at once (one count,
// or one per format), reducing the window during a run, keeping the shorter
// file of a stopped conversion, checking outputs, spreading one file over the
// cores, naming outputs from their tags.
#pragma once

#include <functional>
#include <string>

#include "app/settings.h"
#include "app/settings_store.h"
#include "app/windows/options_dialog.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QRadioButton;
class QSlider;

class TfrmOptions : public TOptionsDialog {
 public:
  // Running: a conversion is going on, so only the priority can change.
  TfrmOptions(const TProgramOptions &Options, bool Running, QWidget *Parent);

  // The options as the dialog shows them.
  TProgramOptions Options() const;
  void bSetAdvancedClick();

  QLabel *l1, *ePriority, *eTPC;
  QSlider *tbPriority, *tbNPF;
  QRadioButton *cbSimple, *cbAdvanced;
  QPushButton *bSetAdvanced;
  QCheckBox *cbReduce, *cbKeepPartial, *cbKeepGoing, *cbSkipExisting, *cbWriteTags,
      *cbVerify, *cbSpreadOverCores;
  QCheckBox *cbCopyFiles;
  QLineEdit *eCopyPatterns;
  QCheckBox *cbReplayGain;
  QCheckBox *cbUseNamePattern;
  QLineEdit *eNamePattern;
  QLabel *lNameFields;

  // Why the name pattern cannot be used, in the user's language; "" when it can
  // (or is not used). OK keeps the dialog open while there is a reason.
  std::string NamePatternProblem() const;

 protected:
  void accept() override;

 private:
  void Refresh();
  bool Running;
  TProgramOptions Shown;  // what the dialog has no control for
};

// bOptionsClick: the dialog over the stored options (values changed in
// memory but never stored are dropped). On OK the options are stored in one
// write and the priority applied; Say tells the user a failed save or a
// priority refused when it was changed. True when confirmed.
bool RunProgramOptions(QWidget *Parent, TSettingsStore &Store, TProgramOptions &Options, bool Running,
                       const std::function<void(const std::string &)> &Say);
