// SPDX-License-Identifier: GPL-3.0-or-later
// The error report window and the path of fatal errors.
#pragma once

#include <QDialog>

#include <string>

class QKeyEvent;
class QLabel;
class QPushButton;

class TfrmError : public QDialog {
 public:
  explicit TfrmError(const std::string &Report, QWidget *Parent = nullptr);
  // What "Copy to clipboard" puts there: the report between two rules.
  static std::string ClipboardText(const std::string &Report);
  QLabel *l1;
  QPushButton *bCopy, *bOK;

 protected:
  // F11 writes the window's texts, as in every other window.
  void keyPressEvent(QKeyEvent *Event) override;
};

// The text of a report: the exception's message (when there is one), the
// message, then one line each for the input and the output file when given.
std::string ErrorReportText(const std::string &ExceptionMessage, const std::string &Message,
                            const std::string &InputFileName, const std::string &OutputFileName);
// Shows the report (modal), unless errors are not to be reported.
void ShowErrorReport(bool ReportErrors, const std::string &Report, QWidget *Parent = nullptr);
// The last resort for an error nothing handled: reported (on standard error
// too), then the program ends with status 1.
void FatalError(const std::string &Message, bool ReportErrors);
// Whether FatalError has run: the program is ending, even before its event
// loop has started.
bool FatalErrorRaised();
