// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/windows/error_report.h"

#include <QApplication>
#include <QClipboard>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>

#include <atomic>
#include <cstdio>

#include "app/windows/window_texts.h"
#include "base/texts.h"

namespace {
const std::string kRule(52, '-');
}

TfrmError::TfrmError(const std::string &Report, QWidget *Parent) : QDialog(Parent) {
  setObjectName("frmError");
  setWindowTitle(QString::fromStdString(text_error));
  setFixedSize(691, 241);
  // A report of several failures with their details may be longer than the
  // room: it scrolls.
  auto *scroll = new QScrollArea(this);
  scroll->setGeometry(17, 12, 657, 171);
  scroll->setFrameShape(QFrame::NoFrame);
  scroll->setWidgetResizable(true);
  scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  l1 = new QLabel;
  l1->setObjectName("l1");
  // One line centres; the lines and details of a failure read from the left.
  l1->setAlignment(Report.find('\n') == std::string::npos ? Qt::AlignCenter : Qt::AlignLeft | Qt::AlignVCenter);
  l1->setWordWrap(true);
  l1->setAutoFillBackground(true);
  l1->setStyleSheet("background: white; padding: 6px;");
  l1->setTextInteractionFlags(Qt::TextSelectableByMouse);
  l1->setTextFormat(Qt::PlainText);
  l1->setText(QString::fromStdString(Report));
  scroll->setWidget(l1);
  auto *rule = new QFrame(this);
  rule->setFrameShape(QFrame::HLine);
  rule->setFrameShadow(QFrame::Sunken);
  rule->setGeometry(17, 192, 657, 2);
  bCopy = new QPushButton(QString::fromStdString(text_copy_to_clipboard), this);
  bCopy->setObjectName("bCopy");
  bCopy->setGeometry(17, 202, 200, 28);
  bOK = new QPushButton(QString::fromStdString(text_ok), this);
  bOK->setObjectName("bOK");
  bOK->setGeometry(574, 202, 100, 28);
  bOK->setDefault(true);
  connect(bOK, &QPushButton::clicked, this, &QDialog::accept);
  connect(bCopy, &QPushButton::clicked, this, [this] {
    QApplication::clipboard()->setText(QString::fromStdString(ClipboardText(l1->text().toStdString())));
  });
}

void TfrmError::keyPressEvent(QKeyEvent *Event) {
  if (Event->key() == Qt::Key_F11) {
    DumpFormTexts(this);
    return;
  }
  QDialog::keyPressEvent(Event);
}

std::string TfrmError::ClipboardText(const std::string &Report) { return kRule + "\r\n" + Report + "\r\n" + kRule; }

std::string ErrorReportText(const std::string &ExceptionMessage, const std::string &Message,
                            const std::string &InputFileName, const std::string &OutputFileName) {
  std::string text = ExceptionMessage.empty() ? Message : ExceptionMessage + " " + Message;
  if (!InputFileName.empty()) text += "\r\n" + text_input + InputFileName;
  if (!OutputFileName.empty()) text += "\r\n" + text_output + OutputFileName;
  return text;
}

void ShowErrorReport(bool ReportErrors, const std::string &Report, QWidget *Parent) {
  if (!ReportErrors) return;
  TfrmError window(Report, Parent);
  window.exec();
}

namespace {
std::atomic<bool> FatalErrorSeen{false};
}

void FatalError(const std::string &Message, bool ReportErrors) {
  FatalErrorSeen = true;
  // Before a language is read the texts may be empty: English serves then.
  for (std::string *text : {&text_fatal_error, &text_ok, &text_copy_to_clipboard})
    if (text->empty()) *text = EnglishText(*text);
  const std::string report = FormatText(text_fatal_error, Message);
  // Also where a window is not seen (no report asked for, no display).
  std::fprintf(stderr, "tonmill: %s\n", report.c_str());
  ShowErrorReport(ReportErrors, report);
  // Ends a running event loop; one not yet started is never entered.
  QCoreApplication::exit(1);
}

bool FatalErrorRaised() { return FatalErrorSeen; }
