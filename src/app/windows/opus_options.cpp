// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/windows/opus_options.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QRadioButton>
#include <QSlider>
#include <QVBoxLayout>

#include <iterator>

#include "base/texts.h"
#include "encoders/opus/opus_format.h"

namespace {

const TFormatDialogRegistration kDialog(dfOpus, &NewDialogOf<TfrmOpusOptions>);

// The frame durations as stored, one slider position each, shortest first.
const char *const kFrameSizes[] = {"2.5", "5", "10", "20", "40", "60"};

QGroupBox *Group(QWidget *Parent, const char *Name, const std::string &Caption,
                 std::initializer_list<QWidget *> Members) {
  auto *group = new QGroupBox(QString::fromStdString(Caption), Parent);
  group->setObjectName(Name);
  auto *column = new QVBoxLayout(group);
  for (QWidget *w : Members) column->addWidget(w);
  column->addStretch();
  return group;
}

}  // namespace

TfrmOpusOptions::TfrmOpusOptions(TSettingsStore &Store, TCoder_engine &Engine, QWidget *Parent)
    : TFormatDialog(dfOpus, "frmOpusOptions", text_opus_settings, Store, Engine, Parent) {
  tbBitrate = Slider("tbBitrate", "OpusBitrate");
  tbBitrate->setTickInterval(32);
  tbBitrate->setPageStep(16);
  tbComplexity = Slider("tbComplexity", "OpusComplexity");
  tbFrameSize = NewSlider("tbFrameSize", 0, int(std::size(kFrameSizes)) - 1);
  tbFrameSize->setPageStep(1);
  Bind(
      "OpusFrameSize",
      [this](const TStoredValue &v) {
        for (int i = 0; i < int(std::size(kFrameSizes)); ++i)
          if (std::get<std::string>(v) == kFrameSizes[i]) tbFrameSize->setValue(i);
      },
      [this]() -> std::optional<TStoredValue> { return std::string(kFrameSizes[tbFrameSize->value()]); });
  rbVBR = Choice("rbVBR", "OpusMode", std::string("VBR"), text_vbr);
  rbCVBR = Choice("rbCVBR", "OpusMode", std::string("CVBR"), text_constrained_vbr);
  rbCBR = Choice("rbCBR", "OpusMode", std::string("CBR"), text_cbr);
  rbMusic = Choice("rbMusic", "OpusApplication", std::string("AUDIO"), text_music);
  rbSpeech = Choice("rbSpeech", "OpusApplication", std::string("VOIP"), text_speech);

  const auto number = [](int v) { return std::to_string(v); };
  auto *grid = new QGridLayout;
  AddRow(grid, Label("lBitrate", text_bitrate), tbBitrate, ValueBox("eBitrate", tbBitrate, number),
         text_kbps_stereo);
  AddRow(grid, Label("lComplexity", text_complexity), tbComplexity, ValueBox("eComplexity", tbComplexity, number));
  AddRow(grid, Label("lFrameSize", text_frame_size), tbFrameSize,
         ValueBox("eFrameSize", tbFrameSize, [](int v) { return std::string(kFrameSizes[v]); }), text_ms);
  auto *groups = new QHBoxLayout;
  groups->addWidget(Group(this, "gbMode", text_bitrate_mode, {rbVBR, rbCVBR, rbCBR}), 1);
  groups->addWidget(Group(this, "gbApplication", text_tuned_for, {rbMusic, rbSpeech}), 1);
  auto *layout = new QVBoxLayout(this);
  layout->addLayout(grid);
  layout->addLayout(groups);
  layout->addLayout(ButtonRow());
  Load();
  FitTo(460, 0);
}
