// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/windows/preprocess_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QSlider>
#include <QVBoxLayout>

#include <cmath>

#include "app/settings.h"
#include "app/windows/dialog_controls.h"
#include "base/texts.h"

namespace {

// Selects the item with exactly this text; none when there is no such item.
void Select(QComboBox *List, const QString &Text) { List->setCurrentIndex(List->findText(Text, Qt::MatchExactly)); }

}  // namespace

TfrmPreprocessOptions::TfrmPreprocessOptions(const TPreprocessOptions &Options, QWidget *Parent)
    : TOptionsDialog("frmPreprocessOptions", text_preprocess_settings, Parent), Shown(Options) {
  auto *resample = Named<QGroupBox>(this, "gbResample");
  cbResample = Named<QCheckBox>(resample, "cbResample", Qs(text_resample_to));
  cmResampleTo = Named<QComboBox>(resample, "cmResampleTo");
  for (const char *rate : {"48000", "44100", "32000", "22050", "16000", "11025", "8000"}) cmResampleTo->addItem(rate);
  l4 = Named<QLabel>(resample, "l4", Qs(text_channels));
  tbChannels = StepSlider(resample, "tbChannels", 0, 2);
  eChannels = ReadOnlyField(resample, "eChannels");
  eChannels->setMinimumWidth(eChannels->fontMetrics().horizontalAdvance(Qs(text_source)) + 12);
  auto *upper = new QGridLayout(resample);
  upper->addWidget(cbResample, 0, 0);
  upper->addWidget(cmResampleTo, 0, 1);
  upper->addWidget(Named<QLabel>(resample, "lResampleUnit", Qs(text_hz)), 0, 2);
  upper->addWidget(l4, 1, 0);
  upper->addWidget(tbChannels, 1, 1);
  upper->addWidget(eChannels, 1, 2);
  upper->setColumnStretch(1, 1);

  auto *split = Named<QGroupBox>(this, "gbSplit");
  cbSplitBySilence = Named<QCheckBox>(split, "cbSplitBySilence", Qs(text_split_by_silence));
  l1 = Named<QLabel>(split, "l1", Qs(text_threshold));
  cmThreshold = Named<QComboBox>(split, "cmThreshold");
  for (int t = 0; t <= 50; t += 5) cmThreshold->addItem(QString::number(t));
  l2 = Named<QLabel>(split, "l2", Qs(text_silence_must_be_at_least));
  cmSeconds = Named<QComboBox>(split, "cmSeconds");
  for (int tenths = 1; tenths <= 20; ++tenths) cmSeconds->addItem(QString::asprintf("%.1f", tenths / 10.0));
  l3 = Named<QLabel>(split, "l3", Qs(text_seconds_long));
  auto *lower = new QGridLayout(split);
  lower->addWidget(cbSplitBySilence, 0, 0, 1, 3);
  lower->addWidget(l1, 1, 0);
  lower->addWidget(cmThreshold, 1, 1);
  lower->addWidget(Named<QLabel>(split, "lThresholdUnit", Qs(text_sample_level)), 1, 2, 1, 2);
  lower->addWidget(l2, 2, 0);
  lower->addWidget(cmSeconds, 2, 1);
  lower->addWidget(l3, 2, 2);
  lower->setColumnStretch(3, 1);

  auto *sheets = Named<QGroupBox>(this, "gbCueTracks", Qs(text_cue_tracks));
  cbHiddenTrack = Named<QCheckBox>(sheets, "cbHiddenTrack", Qs(text_keep_hidden_track));
  cbPregapOwnTrack = Named<QCheckBox>(sheets, "cbPregapOwnTrack", Qs(text_pregap_own_track));
  auto *cut = new QVBoxLayout(sheets);
  cut->addWidget(cbHiddenTrack);
  cut->addWidget(cbPregapOwnTrack);

  auto *layout = new QVBoxLayout(this);
  layout->addWidget(resample);
  layout->addWidget(split);
  layout->addWidget(sheets);
  layout->addStretch();
  layout->addLayout(ButtonRow());

  cbSplitBySilence->setChecked(Options.SplitBySilence);
  cbHiddenTrack->setChecked(Options.HiddenTrack);
  cbPregapOwnTrack->setChecked(Options.PregapOwnTrack);
  Select(cmThreshold, QString::number(Options.Threshold));
  Select(cmSeconds, QString::asprintf("%.1f", Options.Seconds / 10.0));
  cbResample->setChecked(Options.Resample);
  Select(cmResampleTo, QString::number(Options.ResampleTo));
  tbChannels->setValue(Options.Channels);
  Refresh();
  for (QCheckBox *box : {cbResample, cbSplitBySilence}) connect(box, &QCheckBox::toggled, this, [this] { Refresh(); });
  connect(tbChannels, &QSlider::valueChanged, this, [this] { Refresh(); });
  FitTo(462, 160);
}

void TfrmPreprocessOptions::Refresh() {
  cmResampleTo->setEnabled(cbResample->isChecked());
  cmThreshold->setEnabled(cbSplitBySilence->isChecked());
  cmSeconds->setEnabled(cbSplitBySilence->isChecked());
  const int channels = tbChannels->value();
  eChannels->setText(channels == 0 ? Qs(text_source) : QString::number(channels));
}

TPreprocessOptions TfrmPreprocessOptions::Options() const {
  TPreprocessOptions o = Shown;
  o.SplitBySilence = cbSplitBySilence->isChecked();
  if (cmThreshold->currentIndex() >= 0) o.Threshold = cmThreshold->currentText().toInt();
  if (cmSeconds->currentIndex() >= 0) o.Seconds = int(std::lround(cmSeconds->currentText().toDouble() * 10));
  o.Resample = cbResample->isChecked();
  if (cmResampleTo->currentIndex() >= 0) o.ResampleTo = cmResampleTo->currentText().toInt();
  o.Channels = tbChannels->value();
  o.HiddenTrack = cbHiddenTrack->isChecked();
  o.PregapOwnTrack = cbPregapOwnTrack->isChecked();
  return o;
}

bool RunPreprocessOptions(QWidget *Parent, TSettingsStore &Store, TPreprocessOptions &Options,
                          const std::function<void(const std::string &)> &Say) {
  TfrmPreprocessOptions dialog(LoadPreprocessOptions(Store), Parent);
  if (!dialog.Run()) return false;
  Options = dialog.Options();
  if (const std::string failure = Store.WriteSettings(PreprocessOptionsRecords(Options)); !failure.empty())
    Say(failure);
  return true;
}
