// SPDX-License-Identifier: GPL-3.0-or-later
#include <QCheckBox>
#include <QGridLayout>
#include <QLabel>
#include <QRadioButton>
#include <QSlider>
#include <QVBoxLayout>

#include <cmath>

#include "app/windows/format_dialogs.h"
#include "base/texts.h"
#include "encoders/wma/wma_format.h"

namespace {

// The quality goes in tens, a half to the even ten, never past 98.
int SnappedQuality(int Percent) { return std::min(98, int(std::nearbyint(Percent / 10.0)) * 10); }

}  // namespace


namespace {
const TFormatDialogRegistration kDialog(dfWMA, &NewDialogOf<TfrmWMAOptions>);
}  // namespace

TfrmWMAOptions::TfrmWMAOptions(TSettingsStore &Store, TCoder_engine &Engine, QWidget *Parent)
    : TFormatDialog(dfWMA, "frmWMAOptions", text_wma_settings, Store, Engine, Parent) {
  rbCBR = Choice("rbCBR", "WMABitrateType", std::string("CBR"), text_cbr);
  rbVBR = Choice("rbVBR", "WMABitrateType", std::string("VBR"), text_vbr);
  tbCBR = Slider("tbCBR", "WMABitrate");
  tbVBR = Slider("tbVBR", "WMAQuality");
  tbVBR->setTickInterval(10);
  tbVBR->setPageStep(10);
  cbLoseless = Check("cbLoseless", "WMALoseless", text_loseless);
  cbAutoFindBitrate = Check("cbAutoFindBitrate", "WMAAutoFindBitrate", text_auto_find_bitrate);
  cbAutoFindBitrate->setToolTip(QString::fromStdString(text_tip_auto_find_bitrate));
  cbUsePro = Check("cbUsePro", "WMAUseProCoder", text_use_pro_codec);
  // The mode not chosen keeps its stored value.
  StoreOnlyWhen("WMABitrate", [this] { return rbCBR->isChecked(); });
  StoreOnlyWhen("WMAQuality", [this] { return rbVBR->isChecked(); });
  connect(tbVBR, &QSlider::valueChanged, this, [this](int v) {
    if (SnappedQuality(v) != v) tbVBR->setValue(SnappedQuality(v));
  });

  auto *grid = new QGridLayout;
  AddRow(grid, rbCBR, tbCBR, ValueBox("eCBR", tbCBR, [](int v) { return std::to_string(WMABitrateAt(v)); }), text_kbps);
  AddRow(grid, rbVBR, tbVBR, ValueBox("eVBR", tbVBR, [](int v) { return std::to_string(v); }));
  grid->addWidget(cbLoseless, grid->rowCount(), 1, 1, 2);
  auto *layout = new QVBoxLayout(this);
  layout->addLayout(grid);
  layout->addWidget(cbAutoFindBitrate);
  layout->addWidget(cbUsePro);
  layout->addLayout(ButtonRow());
  Load();
  // FFmpeg has no encoder for either: shown, never chosen (a stored choice
  // goes when the dialog is confirmed).
  for (QCheckBox *box : {cbUsePro, cbLoseless}) {
    box->setChecked(false);
    box->setEnabled(false);
    box->setToolTip(QString::fromStdString(text_wma_pro_lossless_unavailable));
  }
  FitTo(440, 0);
}

void TfrmWMAOptions::Changed() {
  tbCBR->setEnabled(rbCBR->isChecked());
  tbVBR->setEnabled(rbVBR->isChecked());
}
