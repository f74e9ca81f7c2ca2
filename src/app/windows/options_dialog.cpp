// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/windows/options_dialog.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QPushButton>

#include "app/windows/window_texts.h"
#include "base/texts.h"

TOptionsDialog::TOptionsDialog(const char *Name, const std::string &Caption, QWidget *Parent)
    : QDialog(Parent) {
  setObjectName(Name);
  setWindowTitle(QString::fromStdString(Caption));
  setFont(QApplication::font());  // the desktop's own font, as the main window uses
  bOK = new QPushButton(QString::fromStdString(text_ok), this);
  bOK->setObjectName("bOK");
  bOK->setDefault(true);
  bCancel = new QPushButton(QString::fromStdString(text_cancel), this);
  bCancel->setObjectName("bCancel");
  connect(bOK, &QPushButton::clicked, this, &QDialog::accept);
  connect(bCancel, &QPushButton::clicked, this, &QDialog::reject);
}

bool TOptionsDialog::Run() { return exec() == QDialog::Accepted; }

QBoxLayout *TOptionsDialog::ButtonRow(QWidget *Extra) {
  auto *row = new QHBoxLayout;
  if (Extra) row->addWidget(Extra);
  row->addStretch();
  for (QPushButton *button : {bOK, bCancel}) {
    button->setMinimumWidth(90);
    row->addWidget(button);
  }
  return row;
}

void TOptionsDialog::FitTo(int Width, int Height) {
  if (layout()) layout()->activate();
  const QSize wanted = sizeHint().expandedTo(QSize(Width, Height));
  setFixedSize(wanted);
}

void TOptionsDialog::keyPressEvent(QKeyEvent *Event) {
  if (Event->key() == Qt::Key_F11) {
    DumpFormTexts(this);
    return;
  }
  QDialog::keyPressEvent(Event);  // Escape discards, Enter confirms
}
