// SPDX-License-Identifier: GPL-3.0-or-later
// The About window: the program's picture, its version line with the memory
// in use, the credits, and the versions of the codec libraries.
#pragma once

#include <QDialog>

#include <string>

class QKeyEvent;
class QLabel;
class QPlainTextEdit;
class QPushButton;

class TfrmAbout : public QDialog {
 public:
  explicit TfrmAbout(QWidget *Parent = nullptr);
  // "1.95 (with UNICODE support), Memory usage :  152.34 Mb, FFmpeg 5.1.9"
  static std::string VersionLine();
  // One line per encoder library in use.
  static std::string VersionInfo();
  QLabel *Image1, *TntLabel1;
  QPlainTextEdit *TntMemo1;
  QPushButton *bVersionInfo, *bOK;

 protected:
  // F11 writes the window's texts, as in every other window.
  void keyPressEvent(QKeyEvent *Event) override;
};

// Megabytes as " 0.###": a leading blank, up to three decimals, "." always.
std::string FormatMegabytes(double Megabytes);
