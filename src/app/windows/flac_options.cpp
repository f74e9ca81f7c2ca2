// SPDX-License-Identifier: GPL-3.0-or-later
#include <QCheckBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QSlider>
#include <QVBoxLayout>

#include <charconv>
#include <memory>

#include "app/windows/format_dialogs.h"
#include "base/texts.h"
#include "encoders/flac/flac_format.h"


namespace {
const TFormatDialogRegistration kDialog(dfFLAC, &NewDialogOf<TfrmFLACOptions>);
}  // namespace

TfrmFLACOptions::TfrmFLACOptions(TSettingsStore &Store, TCoder_engine &Engine, QWidget *Parent)
    : TFormatDialog(dfFLAC, "frmFLACOptions", text_flac_settings, Store, Engine, Parent) {
  tbCompression = Slider("tbCompression", "FLACCompression");
  tbBlockSize = NewSlider("tbBlockSize", 1, FLACBlockSizeCount);
  Bind(
      "FLACBuffer", [this](const TStoredValue &v) { tbBlockSize->setValue(FLACBlockSizePosition(std::get<int32_t>(v))); },
      [this]() -> std::optional<TStoredValue> { return FLACBlockSizeAt(tbBlockSize->value()); });
  cbExhaust = Check("cbExhaust", "FLACe", text_flac1);
  cbExhaustLP = Check("cbExhaustLP", "FLACp", text_flac2);
  cbAdaptive = Check("cbAdaptive", "FLACmm", text_flac3);
  cbMidside = Check("cbMidside", "FLACm", text_flac4);
  connect(cbAdaptive, &QCheckBox::toggled, this, [this](bool on) {
    if (on) cbMidside->setChecked(true);  // adaptive mid-side is mid-side too
  });
  connect(tbCompression, &QSlider::valueChanged, this, [this](int level) {
    if (!Loading) ApplyLevel(level);
  });

  auto *grid = new QGridLayout;
  AddRow(grid, Label("lCompression", text_compression), tbCompression,
         ValueBox("eCompression", tbCompression, [](int v) { return std::to_string(v); }));
  grid->addWidget(Label("lChangingThis", text_changing_this), grid->rowCount(), 1, 1, 2);
  AddRow(grid, Label("lBlockSize", text_block_size), tbBlockSize,
         ValueBox("eBlockSize", tbBlockSize, [](int v) { return std::to_string(FLACBlockSizeAt(v)); }), text_samples_unit);
  grid->addWidget(Label("lSmallerIsFaster", text_smaller_is_faster), grid->rowCount(), 1, 1, 2);

  // A number box: leaving it empty gives 0, a whole number in the value's
  // range stays, anything else brings back the last number it held.
  auto *numbers = new QGridLayout;
  const auto number = [&](const char *name, const char *label, const char *stored, const std::string &caption) {
    auto *box = new QLineEdit(this);
    box->setObjectName(name);
    box->setMaximumWidth(60);
    const auto last = std::make_shared<int32_t>(0);
    const int32_t min = FieldOf(stored).Min, max = FieldOf(stored).Max;
    const auto settle = [box, last, min, max] {
      const std::string text = box->text().trimmed().toStdString();
      int32_t value = 0;
      const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
      if (text.empty()) *last = 0;
      else if (error == std::errc() && end == text.data() + text.size() && value >= min && value <= max) *last = value;
      box->setText(QString::number(*last));
      return *last;
    };
    connect(box, &QLineEdit::editingFinished, this, settle);
    Bind(
        stored,
        [box, last](const TStoredValue &v) {
          *last = std::get<int32_t>(v);
          box->setText(QString::number(*last));
        },
        [settle]() -> std::optional<TStoredValue> { return settle(); });
    const int row = numbers->rowCount();
    numbers->addWidget(Label(label, caption), row, 0);
    numbers->addWidget(box, row, 1);
    return box;
  };
  eMaxLPC = number("eMaxLPC", "lMaxLPC", "FLACl", text_flac5);
  eMaxRes = number("eMaxRes", "lMaxRes", "FLACrmax", text_flac6);
  eMinREs = number("eMinREs", "lMinRes", "FLACrmin", text_flac7);
  ePrecision = number("ePrecision", "lPrecision", "FLACq", text_flac8);
  numbers->setColumnStretch(2, 1);

  auto *layout = new QVBoxLayout(this);
  layout->addLayout(grid);
  for (QCheckBox *box : {cbExhaust, cbExhaustLP, cbAdaptive, cbMidside}) layout->addWidget(box);
  layout->addLayout(numbers);
  layout->addLayout(ButtonRow());
  Load();
  // Until the dialog is first confirmed, the details follow the level.
  if (std::get<int32_t>(Stored("FLACFirst")) == 1) ApplyLevel(tbCompression->value());
  FitTo(460, 0);
}

void TfrmFLACOptions::ApplyLevel(int Level) {
  TFLACOptions level;
  ApplyFLACDialogLevel(Level, level);
  Show(&level, {"FLACCompression"});
}
