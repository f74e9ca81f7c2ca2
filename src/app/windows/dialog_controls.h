// Small makers of the controls the program's option dialogs are built from.
#pragma once

#include <QFrame>
#include <QLabel>
#include <QPushButton>
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
