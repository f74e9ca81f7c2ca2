// SPDX-License-Identifier: GPL-3.0-or-later
#include <QGridLayout>
#include <QLabel>
#include <QSlider>
#include <QVBoxLayout>

#include "app/windows/format_dialogs.h"
#include "base/texts.h"


namespace {
const TFormatDialogRegistration kDialog(dfAPE, &NewDialogOf<TfrmAPEOptions>);
}  // namespace

TfrmAPEOptions::TfrmAPEOptions(TSettingsStore &Store, TCoder_engine &Engine, QWidget *Parent)
    : TFormatDialog(dfAPE, "frmAPEOptions", text_ape_settings, Store, Engine, Parent) {
  tbCompression = Slider("tbCompression", "APECompression");
  const std::string *names[] = {&text_compression_fast, &text_compression_normal, &text_compression_high,
                                &text_compression_extra, &text_compression_insane};
  auto *grid = new QGridLayout;
  AddRow(grid, Label("lCompression", text_compression), tbCompression,
         ValueBox("eCompression", tbCompression, [names](int v) { return *names[v >= 1 && v <= 4 ? v - 1 : 4]; }));
  auto *layout = new QVBoxLayout(this);
  layout->addLayout(grid);
  layout->addLayout(ButtonRow());
  Load();
  FitTo(400, 0);
}
