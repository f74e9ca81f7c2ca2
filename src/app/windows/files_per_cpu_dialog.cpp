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
  auto *grid = new QGridLayout;
  for (const TFormatRow *row : FormatRowsByCode()) {
    const std::string name = row->Name;
    const int i = int(Rows.size());
    auto *label = new QLabel(Qs(name), this);  // format names are not translated
    label->setObjectName("l" + Qs(name));
    QSlider *slider = StepSlider(this, ("tb" + name).c_str(), 1, kMaxFiles);
    slider->setValue(DestinationFileTypes[size_t(row->Code - 1)].FilesPerCPU);
    QLabel *field = ReadOnlyField(this, ("e" + name).c_str());
    field->setMinimumWidth(36);
    grid->addWidget(label, i, 0);
    grid->addWidget(slider, i, 1);
    grid->addWidget(field, i, 2);
    Rows.push_back({row->Code, slider, field});
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

QSlider *TfrmFilesPerCPU::Slider(TDestinationFormat Format) const {
  for (const TRow &row : Rows)
    if (row.Format == Format) return row.Slider;
  return nullptr;
}

void TfrmFilesPerCPU::Refresh() {
  for (const TRow &row : Rows) row.Field->setText(QString::number(row.Slider->value()));
}

void TfrmFilesPerCPU::bDefaultClick() {
  // Formats whose encoders keep one processor busy get one file each; the
  // lighter ones (WavPack, WAV) two, unless there is a single processor.
  const int n = std::max(1, Processors);
  const int light = n == 1 ? 1 : std::min(2 * n, kMaxFiles);
  for (const TRow &row : Rows)
    row.Slider->setValue(row.Format == dfWavPack || row.Format == dfWAV ? light : std::min(n, kMaxFiles));
}

bool TfrmFilesPerCPU::Run() {
  if (!TOptionsDialog::Run()) return false;
  for (const TRow &row : Rows) DestinationFileTypes[size_t(row.Format - 1)].FilesPerCPU = row.Slider->value();
  return true;
}
