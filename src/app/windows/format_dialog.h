// SPDX-License-Identifier: GPL-3.0-or-later
// The settings dialog of a destination format. Its controls are bound to the
// format's stored values through the row's field table, so a dialog names
// each stored value once and holds only its own coupling rules. Opening reads
// the stored values; OK stores every value of the format and hands the record
// to the engine; Cancel and Escape change nothing. Main thread only.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/settings_store.h"
#include "app/windows/options_dialog.h"
#include "encoders/format.h"

class QAbstractButton;
class QButtonGroup;
class QCheckBox;
class QGridLayout;
class QLabel;
class QLineEdit;
class QRadioButton;
class QSlider;
class TCoder_engine;

class TFormatDialog : public TOptionsDialog {
 public:
  TFormatDialog(TDestinationFormat Format, const char *Name, const std::string &Caption, TSettingsStore &Store,
                TCoder_engine &Engine, QWidget *Parent);

  // OK: the controls into the record, every value of the format into the
  // settings file, the record to the engine.
  void accept() override;
  // Why the settings could not be saved on OK, for the user; empty when they were.
  std::string SaveProblem;

 protected:
  // A binding's two directions: the stored value into its control, and the
  // control's value to store (nothing keeps the stored one).
  using TShow = std::function<void(const TStoredValue &)>;
  using TTake = std::function<std::optional<TStoredValue>()>;
  void Bind(const char *StoredName, TShow Show, TTake Take);
  // A slider of its own, bound by the dialog.
  QSlider *NewSlider(const char *Name, int Min, int Max);
  // A slider over the stored integer's range, or over Min..Max where the dialog offers less.
  QSlider *Slider(const char *Name, const char *StoredName, std::optional<int> Min = {}, std::optional<int> Max = {});
  QCheckBox *Check(const char *Name, const char *StoredName, const std::string &Caption);
  // One of the radio buttons that choose a stored value; the first of them is
  // chosen when the stored value is none of theirs. Radio buttons of one value
  // exclude each other wherever they stand.
  QRadioButton *Choice(const char *Name, const char *StoredName, TStoredValue Value, const std::string &Caption);
  // A stored value is kept as it is, whatever its control shows, unless When holds at OK.
  void StoreOnlyWhen(const char *StoredName, std::function<bool()> When);

  // A read-only box showing Shown(value) of Source, wide enough for every value it can show.
  QLineEdit *ValueBox(const char *Name, QSlider *Source, std::function<std::string(int)> Shown);
  QLabel *Label(const char *Name, const std::string &Caption);
  // A row of Grid: the caption control, the slider, its box and the unit of
  // the box's number (a label named after the box, "eCBR" → "eCBRUnit").
  void AddRow(QGridLayout *Grid, QWidget *Caption, QSlider *Slider, QLineEdit *Box, const std::string &Unit = {});

  // The stored values into the controls, then the dialog's rules; the end of
  // every dialog's constructor.
  void Load();
  // The values of Record (a record of this format) into their controls, except
  // the stored names listed.
  void Show(const void *Record, const std::vector<std::string> &Except = {});
  // The dialog's own rules, after every change of a control.
  virtual void Changed() {}
  // A stored value as the dialog was opened with it.
  TStoredValue Stored(const char *StoredName) const;
  // The row's field of a stored name.
  const TOptionField &FieldOf(const char *StoredName) const;
  // True while the stored values are being shown: no user change.
  bool Loading = false;

  const TFormatRow &Row;

 private:
  struct TBinding {
    const TOptionField *Field;
    TShow Show;
    TTake Take;
    std::function<bool()> When;
  };
  TBinding *Binding(const char *StoredName);

  TSettingsStore &Store;
  TCoder_engine &Engine;
  std::shared_ptr<void> Record;
  std::vector<TBinding> Bindings;
  struct TChoice {
    std::string StoredName;
    QRadioButton *Radio;
    TStoredValue Value;
  };
  std::vector<TChoice> Choices;
  std::vector<std::pair<std::string, QButtonGroup *>> ChoiceGroups;
};
