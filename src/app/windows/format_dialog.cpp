// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/windows/format_dialog.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QFontMetrics>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QSlider>

#include <algorithm>
#include <stdexcept>

#include "app/format_settings.h"
#include "engine/coder_engine.h"

TFormatDialog::TFormatDialog(TDestinationFormat Format, const char *Name, const std::string &Caption,
                             TSettingsStore &Store_, TCoder_engine &Engine_, QWidget *Parent)
    : TOptionsDialog(Name, Caption, Parent), Row(*FormatRow(Format)), Store(Store_), Engine(Engine_) {}

const TOptionField &TFormatDialog::FieldOf(const char *StoredName) const {
  for (const TOptionField &f : Row.Fields)
    if (std::string(f.StoredName) == StoredName) return f;
  throw std::logic_error(std::string("no stored value ") + StoredName + " for " + Row.Name);
}

TFormatDialog::TBinding *TFormatDialog::Binding(const char *StoredName) {
  for (TBinding &b : Bindings)
    if (std::string(b.Field->StoredName) == StoredName) return &b;
  return nullptr;
}

void TFormatDialog::Bind(const char *StoredName, TShow Show, TTake Take) {
  Bindings.push_back({&FieldOf(StoredName), std::move(Show), std::move(Take), nullptr});
}

void TFormatDialog::StoreOnlyWhen(const char *StoredName, std::function<bool()> When) {
  Binding(StoredName)->When = std::move(When);
}

QSlider *TFormatDialog::NewSlider(const char *Name, int Min, int Max) {
  auto *slider = new QSlider(Qt::Horizontal, this);
  slider->setObjectName(Name);
  slider->setRange(Min, Max);
  slider->setMinimumWidth(220);
  slider->setTickPosition(QSlider::TicksBelow);
  connect(slider, &QSlider::valueChanged, this, [this] { Changed(); });
  return slider;
}

QSlider *TFormatDialog::Slider(const char *Name, const char *StoredName, std::optional<int> Min,
                               std::optional<int> Max) {
  const TOptionField &field = FieldOf(StoredName);
  QSlider *slider = NewSlider(Name, Min.value_or(field.Min), Max.value_or(field.Max));
  Bind(
      StoredName, [slider](const TStoredValue &v) { slider->setValue(std::get<int32_t>(v)); },
      [slider]() -> std::optional<TStoredValue> { return int32_t(slider->value()); });
  return slider;
}

QCheckBox *TFormatDialog::Check(const char *Name, const char *StoredName, const std::string &Caption) {
  auto *box = new QCheckBox(QString::fromStdString(Caption), this);
  box->setObjectName(Name);
  Bind(
      StoredName, [box](const TStoredValue &v) { box->setChecked(std::get<bool>(v)); },
      [box]() -> std::optional<TStoredValue> { return box->isChecked(); });
  connect(box, &QCheckBox::toggled, this, [this] { Changed(); });
  return box;
}

QRadioButton *TFormatDialog::Choice(const char *Name, const char *StoredName, TStoredValue Value,
                                    const std::string &Caption) {
  auto *radio = new QRadioButton(QString::fromStdString(Caption), this);
  radio->setObjectName(Name);
  QButtonGroup *group = nullptr;
  for (auto &[stored, g] : ChoiceGroups)
    if (stored == StoredName) group = g;
  if (!group) {
    group = new QButtonGroup(this);
    ChoiceGroups.emplace_back(StoredName, group);
    const std::string name = StoredName;
    Bind(
        StoredName,
        [this, name](const TStoredValue &v) {
          QRadioButton *chosen = nullptr;
          for (const TChoice &c : Choices)
            if (c.StoredName == name && (!chosen || c.Value == v)) chosen = c.Radio;
          chosen->setChecked(true);
        },
        [this, name]() -> std::optional<TStoredValue> {
          for (const TChoice &c : Choices)
            if (c.StoredName == name && c.Radio->isChecked()) return c.Value;
          return std::nullopt;
        });
  }
  group->addButton(radio);
  Choices.push_back({StoredName, radio, std::move(Value)});
  connect(radio, &QRadioButton::toggled, this, [this] { Changed(); });
  return radio;
}

QLineEdit *TFormatDialog::ValueBox(const char *Name, QSlider *Source, std::function<std::string(int)> Shown) {
  auto *box = new QLineEdit(this);
  box->setObjectName(Name);
  box->setReadOnly(true);
  box->setFocusPolicy(Qt::NoFocus);
  box->setAlignment(Qt::AlignCenter);
  int widest = 0;
  for (int v = Source->minimum(); v <= Source->maximum(); ++v)
    widest = std::max(widest, box->fontMetrics().horizontalAdvance(QString::fromStdString(Shown(v))));
  box->setMinimumWidth(widest + 24);
  const auto show = [box, Source, Shown] { box->setText(QString::fromStdString(Shown(Source->value()))); };
  connect(Source, &QSlider::valueChanged, box, show);
  show();
  return box;
}

QLabel *TFormatDialog::Label(const char *Name, const std::string &Caption) {
  auto *label = new QLabel(QString::fromStdString(Caption), this);
  label->setObjectName(Name);
  return label;
}

void TFormatDialog::AddRow(QGridLayout *Grid, QWidget *Caption, QSlider *Slider, QLineEdit *Box,
                           const std::string &Unit) {
  const int row = Grid->rowCount();
  if (Caption) Grid->addWidget(Caption, row, 0);
  Grid->addWidget(Slider, row, 1);
  Grid->addWidget(Box, row, 2);
  if (Unit.empty()) return;
  QLabel *unit = Label((Box->objectName() + "Unit").toUtf8().constData(), Unit);
  unit->setEnabled(Box->isEnabled());
  Grid->addWidget(unit, row, 3);
}

void TFormatDialog::Show(const void *Source, const std::vector<std::string> &Except) {
  for (TBinding &b : Bindings)
    if (std::find(Except.begin(), Except.end(), b.Field->StoredName) == Except.end()) b.Show(b.Field->Get(Source));
}

void TFormatDialog::Load() {
  Record = LoadFormatOptions(Row, Store);
  Loading = true;
  Show(Record.get());
  Loading = false;
  Changed();
}

TStoredValue TFormatDialog::Stored(const char *StoredName) const {
  return FieldOf(StoredName).Get(Record.get());
}

void TFormatDialog::accept() {
  for (TBinding &b : Bindings)
    if (!b.When || b.When())
      if (const std::optional<TStoredValue> value = b.Take()) b.Field->Set(Record.get(), *value);
  SaveProblem = Store.WriteSettings(FormatOptionsRecords(Row, Record.get()));
  Engine.SetOptions(Row.Code, Record);
  QDialog::accept();
}
