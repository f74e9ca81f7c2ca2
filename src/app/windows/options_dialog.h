// SPDX-License-Identifier: GPL-3.0-or-later
// What every settings dialog shares: its caption and font, OK and Cancel,
// Escape to discard, F11 to write its texts, and a size that grows with the
// longest texts of the language in use.
#pragma once

#include <QDialog>

#include <string>

class QBoxLayout;
class QPushButton;

class TOptionsDialog : public QDialog {
 public:
  // Name is the object name ("frmMP3Options"); Caption the window title.
  TOptionsDialog(const char *Name, const std::string &Caption, QWidget *Parent);

  // Shows the dialog modally; true when it was confirmed with OK.
  bool Run();

  QPushButton *bOK, *bCancel;

 protected:
  // A row holding OK and Cancel at the right, for the dialog's layout to end
  // with; Extra (may be null) stands at the left of the row.
  QBoxLayout *ButtonRow(QWidget *Extra = nullptr);
  // Sizes the dialog to its layout, never smaller than the size it was drawn
  // at (Width x Height), so that a longer translation widens it.
  void FitTo(int Width, int Height);

  void keyPressEvent(QKeyEvent *Event) override;
};
