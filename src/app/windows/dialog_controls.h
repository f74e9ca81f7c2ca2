// SPDX-License-Identifier: GPL-3.0-or-later
// Small makers of the controls the program's option dialogs are built from.
#pragma once

#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QString>

#include <algorithm>
#include <string>
#include <utility>

inline QString Qs(const std::string &Text) { return QString::fromStdString(Text); }

// A control named Name, owned by Parent; Args go before the parent argument.
template <typename T, typename... Args>
T *Named(QWidget *Parent, const char *Name, Args &&...args) {
  T *control = new T(std::forward<Args>(args)..., Parent);
  control->setObjectName(Name);
  return control;
}

// A horizontal slider over Min..Max that moves one step per page key.
inline QSlider *StepSlider(QWidget *Parent, const char *Name, int Min, int Max,
                           QSlider::TickPosition Ticks = QSlider::TicksBelow) {
  auto *slider = Named<QSlider>(Parent, Name, Qt::Horizontal);
  slider->setRange(Min, Max);
  slider->setPageStep(1);
  slider->setTickPosition(Ticks);
  return slider;
}

// A sunken, centred field showing a value the user cannot edit there.
inline QLabel *ReadOnlyField(QWidget *Parent, const char *Name) {
  QLabel *field = Named<QLabel>(Parent, Name);
  field->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  field->setAlignment(Qt::AlignCenter);
  return field;
}

// A button of the dialog's own, at least as wide as OK and wide enough for its text.
inline void FitButton(QPushButton *Button) {
  Button->setMinimumWidth(std::max(90, Button->fontMetrics().horizontalAdvance(Button->text()) + 24));
}
