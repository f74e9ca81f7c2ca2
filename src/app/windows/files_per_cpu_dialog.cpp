// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/windows/files_per_cpu_dialog.h"

#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QVBoxLayout>

#include <algorithm>

#include "app/windows/dialog_controls.h"
#include "base/texts.h"
#include "encoders/format.h"
#include "platform/processors.h"

namespace {

constexpr int kMaxFiles = 16;

}  // namespace

TfrmFilesPerCPU::TfrmFilesPerCPU(QWidget *Parent)
    : TOptionsDialog("frmFilesPerCPU", text_parallel_files_advanced, Parent), Processors(ProcessorCount()) {
  QSlider **sliders[] = {&tbMP3, &tbWMA, &tbOGG, &tbAPE, &tbFLAC, &tbWavPack, &tbAAC, &tbWAV};
  QLabel **fields[] = {&eMP3, &eWMA, &eOGG, &eAPE, &eFLAC, &eWavPack, &eAAC, &eWAV};
  auto *grid = new QGridLayout;
  for (int i = 0; i < DestinationFormatCount; ++i) {
    const std::string name = FormatName(TDestinationFormat(i + 1));
    auto *label = new QLabel(Qs(name), this);  // format names are not translated
    label->setObjectName("l" + Qs(name));
    QSlider *slider = *sliders[i] = StepSlider(this, ("tb" + name).c_str(), 1, kMaxFiles);
    slider->setValue(DestinationFileTypes[size_t(i)].FilesPerCPU);
    QLabel *field = *fields[i] = ReadOnlyField(this, ("e" + name).c_str());
    field->setMinimumWidth(36);
    grid->addWidget(label, i, 0);
    grid->addWidget(slider, i, 1);
    grid->addWidget(field, i, 2);
    connect(slider, &QSlider::valueChanged, this, [this] { Refresh(); });
  }
  grid->setColumnStretch(1, 1);
  bDefault = new QPushButton(Qs(text_default), this);
  bDefault->setObjectName("bDefault");
  FitButton(bDefault);
  connect(bDefault, &QPushButton::clicked, this, [this] { bDefaultClick(); });
  auto *layout = new QVBoxLayout(this);
  layout->addLayout(grid);
  layout->addStretch();
  layout->addLayout(ButtonRow(bDefault));
  Refresh();
  FitTo(461, 351);
}

std::array<QSlider *, DestinationFormatCount> TfrmFilesPerCPU::Sliders() const {
  return {tbMP3, tbWMA, tbOGG, tbAPE, tbFLAC, tbWavPack, tbAAC, tbWAV};
}

void TfrmFilesPerCPU::Refresh() {
  QLabel *const fields[] = {eMP3, eWMA, eOGG, eAPE, eFLAC, eWavPack, eAAC, eWAV};
  const auto sliders = Sliders();
  for (size_t i = 0; i < sliders.size(); ++i) fields[i]->setText(QString::number(sliders[i]->value()));
}

void TfrmFilesPerCPU::bDefaultClick() {
  // Formats whose encoders keep one processor busy get one file each; the
  // lighter ones (WavPack, WAV) two, unless there is a single processor.
  const int n = std::max(1, Processors);
  for (QSlider *slider : Sliders()) slider->setValue(std::min(n, kMaxFiles));
  const int light = n == 1 ? 1 : std::min(2 * n, kMaxFiles);
  tbWavPack->setValue(light);
  tbWAV->setValue(light);
}

bool TfrmFilesPerCPU::Run() {
  if (!TOptionsDialog::Run()) return false;
  const auto sliders = Sliders();
  for (size_t i = 0; i < sliders.size(); ++i) DestinationFileTypes[i].FilesPerCPU = sliders[i]->value();
  return true;
}
