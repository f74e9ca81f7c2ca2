// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/windows/program_options_dialog.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QVBoxLayout>

#include <algorithm>

#include "app/windows/dialog_controls.h"
#include "app/windows/files_per_cpu_dialog.h"
#include "base/texts.h"
#include "engine/name_pattern.h"

TfrmOptions::TfrmOptions(const TProgramOptions &Options, bool Running, QWidget *Parent)
    : TOptionsDialog("frmOptions", text_program_options, Parent), Running(Running), Shown(Options) {
  auto *priority = Named<QGroupBox>(this, "gbPriority");
  l1 = Named<QLabel>(priority, "l1", Qs(text_priority));
  tbPriority = StepSlider(priority, "tbPriority", 0, 2, QSlider::TicksBothSides);
  ePriority = ReadOnlyField(priority, "ePriority");
  auto *upper = new QGridLayout(priority);
  upper->addWidget(l1, 0, 0);
  upper->addWidget(tbPriority, 0, 1);
  upper->addWidget(ePriority, 0, 2);
  upper->setColumnStretch(1, 1);

  auto *parallel = Named<QGroupBox>(this, "gbParallel");
  cbSimple = Named<QRadioButton>(parallel, "cbSimple", Qs(text_parallel_files_simple));
  tbNPF = StepSlider(parallel, "tbNPF", 1, 16);
  eTPC = ReadOnlyField(parallel, "eTPC");
  cbAdvanced = Named<QRadioButton>(parallel, "cbAdvanced", Qs(text_parallel_files_advanced));
  bSetAdvanced = Named<QPushButton>(parallel, "bSetAdvanced", Qs(text_set));
  auto *middle = new QGridLayout(parallel);
  middle->addWidget(cbSimple, 0, 0, 1, 3);
  middle->addWidget(tbNPF, 1, 0, 1, 2);
  middle->addWidget(eTPC, 1, 2);
  middle->addWidget(cbAdvanced, 2, 0);
  middle->addWidget(bSetAdvanced, 2, 2);
  middle->setColumnStretch(1, 1);

  cbReduce = Named<QCheckBox>(this, "cbReduce", Qs(text_reduce));
  cbKeepPartial = Named<QCheckBox>(this, "cbKeepPartial", Qs(text_keep_partial));
  cbKeepGoing = Named<QCheckBox>(this, "cbKeepGoing", Qs(text_keep_going));
  cbSkipExisting = Named<QCheckBox>(this, "cbSkipExisting", Qs(text_skip_existing));
  cbWriteTags = Named<QCheckBox>(this, "cbWriteTags", Qs(text_write_tags));
  cbVerify = Named<QCheckBox>(this, "cbVerify", Qs(text_verify));
  cbSpreadOverCores = Named<QCheckBox>(this, "cbSpreadOverCores", Qs(text_spread_over_cores));
  cbCopyFiles = Named<QCheckBox>(this, "cbCopyFiles", Qs(text_copy_files));
  eCopyPatterns = Named<QLineEdit>(this, "eCopyPatterns");
  eCopyPatterns->setPlaceholderText("*.log *.txt *.pdf");
  cbReplayGain = Named<QCheckBox>(this, "cbReplayGain", Qs(text_replaygain));
  cbUseNamePattern = Named<QCheckBox>(this, "cbUseNamePattern", Qs(text_use_name_pattern));
  eNamePattern = Named<QLineEdit>(this, "eNamePattern");
  lNameFields = Named<QLabel>(this, "lNameFields");
  lNameFields->setWordWrap(true);

  // The fields are as wide as their widest value in this language.
  int widest = 0;
  for (const std::string *name : {&text_priority_idle, &text_priority_normal, &text_priority_high})
    widest = std::max(widest, ePriority->fontMetrics().horizontalAdvance(Qs(*name)));
  ePriority->setMinimumWidth(widest + 16);
  eTPC->setMinimumWidth(eTPC->fontMetrics().horizontalAdvance("16") + 24);
  FitButton(bSetAdvanced);

  auto *layout = new QVBoxLayout(this);
  layout->addWidget(priority);
  layout->addWidget(parallel);
  layout->addWidget(cbReduce);
  layout->addWidget(cbKeepPartial);
  layout->addWidget(cbKeepGoing);
  layout->addWidget(cbSkipExisting);
  layout->addWidget(cbWriteTags);
  layout->addWidget(cbVerify);
  layout->addWidget(cbSpreadOverCores);
  layout->addWidget(cbCopyFiles);
  layout->addWidget(eCopyPatterns);
  layout->addWidget(cbReplayGain);
  layout->addWidget(cbUseNamePattern);
  layout->addWidget(eNamePattern);
  layout->addWidget(lNameFields);
  layout->addStretch();
  layout->addLayout(ButtonRow());

  tbPriority->setValue(Options.Priority == 0 || Options.Priority == 1 ? Options.Priority : 2);  // other: high
  tbNPF->setValue(Options.ParallelFiles);
  cbSimple->setChecked(Options.SimpleParallelFiles);
  cbAdvanced->setChecked(!Options.SimpleParallelFiles);
  cbReduce->setChecked(Options.AutoReduce);
  cbKeepPartial->setChecked(Options.KeepPartial);
  cbKeepGoing->setChecked(Options.KeepGoing);
  cbSkipExisting->setChecked(Options.SkipExisting);
  cbWriteTags->setChecked(Options.WriteTags);
  cbVerify->setChecked(Options.Verify);
  cbSpreadOverCores->setChecked(Options.SpreadOverCores);
  cbCopyFiles->setChecked(Options.CopyFiles);
  eCopyPatterns->setText(Qs(Options.CopyPatterns));
  cbReplayGain->setChecked(Options.ReplayGain);
  cbUseNamePattern->setChecked(Options.UseNamePattern);
  eNamePattern->setText(Qs(Options.NamePattern));
  // During a run only the priority can change.
  if (Running)
    for (QWidget *w : std::initializer_list<QWidget *>{tbNPF, cbSimple, cbAdvanced, bSetAdvanced, eTPC, cbReduce,
                                                       cbKeepPartial, cbKeepGoing, cbSkipExisting, cbWriteTags, cbVerify,
                                                       cbSpreadOverCores, cbCopyFiles, eCopyPatterns, cbUseNamePattern,
                                                       eNamePattern})
      w->setEnabled(false);
  if (Running) cbReplayGain->setEnabled(false);
  Refresh();
  for (QSlider *slider : {tbPriority, tbNPF}) connect(slider, &QSlider::valueChanged, this, [this] { Refresh(); });
  for (QRadioButton *radio : {cbSimple, cbAdvanced}) connect(radio, &QRadioButton::clicked, this, [this] { Refresh(); });
  connect(bSetAdvanced, &QPushButton::clicked, this, [this] { bSetAdvancedClick(); });
  connect(cbCopyFiles, &QCheckBox::toggled, this, [this] { Refresh(); });
  connect(cbUseNamePattern, &QCheckBox::toggled, this, [this] { Refresh(); });
  connect(eNamePattern, &QLineEdit::textChanged, this, [this] { Refresh(); });
  FitTo(508, 384);
}

void TfrmOptions::Refresh() {
  const int p = tbPriority->value();
  ePriority->setText(Qs(p == 0 ? text_priority_idle : p == 2 ? text_priority_high : text_priority_normal));
  eTPC->setText(QString::number(tbNPF->value()));
  // The fields, or why the pattern cannot be used.
  const std::string problem = NamePatternProblem();
  lNameFields->setText(Qs(problem.empty() ? FormatText(text_name_pattern_fields, std::string(kNameFields)) : problem));
  if (Running) return;
  eNamePattern->setEnabled(cbUseNamePattern->isChecked());
  tbNPF->setEnabled(cbSimple->isChecked());
  bSetAdvanced->setEnabled(cbAdvanced->isChecked());
  eCopyPatterns->setEnabled(cbCopyFiles->isChecked());
}

void TfrmOptions::bSetAdvancedClick() {
  TfrmFilesPerCPU dialog(this);
  dialog.Run();
}

std::string TfrmOptions::NamePatternProblem() const {
  if (!cbUseNamePattern->isChecked()) return {};
  const std::string pattern = eNamePattern->text().toStdString();
  std::string bad;
  if (CheckNamePattern(pattern, bad)) return {};
  return bad.empty() ? FormatText(text_name_pattern_empty, pattern, std::string(kNameFields))
                     : FormatText(text_name_pattern_unknown, pattern, bad, std::string(kNameFields));
}

void TfrmOptions::accept() {
  if (!NamePatternProblem().empty()) {
    Refresh();  // the label says why
    eNamePattern->setFocus();
    return;
  }
  TOptionsDialog::accept();
}

TProgramOptions TfrmOptions::Options() const {
  TProgramOptions o = Shown;
  o.Priority = tbPriority->value();
  o.ParallelFiles = tbNPF->value();
  o.SimpleParallelFiles = cbSimple->isChecked();
  o.AutoReduce = cbReduce->isChecked();
  o.KeepPartial = cbKeepPartial->isChecked();
  o.KeepGoing = cbKeepGoing->isChecked();
  o.SkipExisting = cbSkipExisting->isChecked();
  o.WriteTags = cbWriteTags->isChecked();
  o.Verify = cbVerify->isChecked();
  o.SpreadOverCores = cbSpreadOverCores->isChecked();
  o.CopyFiles = cbCopyFiles->isChecked();
  o.CopyPatterns = eCopyPatterns->text().trimmed().toStdString();
  o.ReplayGain = cbReplayGain->isChecked();
  o.UseNamePattern = cbUseNamePattern->isChecked();
  o.NamePattern = eNamePattern->text().toStdString();
  return o;
}

bool RunProgramOptions(QWidget *Parent, TSettingsStore &Store, TProgramOptions &Options, bool Running,
                       const std::function<void(const std::string &)> &Say) {
  TfrmOptions dialog(LoadProgramOptions(Store), Running, Parent);
  if (!dialog.Run()) return false;
  const int32_t before = Options.Priority;
  Options = dialog.Options();
  if (const std::string failure = Store.WriteSettings(ProgramOptionsRecords(Options)); !failure.empty()) Say(failure);
  // A refusal is said when the priority is chosen, not each time the options are confirmed.
  if (!ApplyPriority(Options.Priority) && Options.Priority != before) Say(text_priority_refused);
  return true;
}
