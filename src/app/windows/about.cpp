// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/windows/about.h"

#include <unistd.h>

#include <QKeyEvent>
#include <QLabel>
#include <QLinearGradient>
#include <QMessageBox>
#include <QPainter>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QPushButton>

#include <cmath>
#include <fmt/printf.h>
#include <fstream>

#include "app/windows/window_texts.h"
#include "base/misc.h"
#include "base/texts.h"
#include "encoders/format.h"
#include "platform/bass/bass.h"

namespace {

// The program's picture, drawn rather than stored.
QPixmap Picture() {
  QPixmap picture(400, 65);
  QPainter painter(&picture);
  QLinearGradient gradient(0, 0, 400, 0);
  gradient.setColorAt(0, QColor(20, 40, 90));
  gradient.setColorAt(1, QColor(60, 130, 190));
  painter.fillRect(picture.rect(), gradient);
  painter.setPen(QPen(QColor(255, 255, 255, 90), 2));
  for (int x = 0; x < 400; x += 6) {  // a waveform across the banner
    const int h = int(18 * std::abs(std::sin(x * 0.05)) * std::exp(-std::abs(x - 200) / 160.0));
    painter.drawLine(x, 32 - h, x, 32 + h);
  }
  QFont font = painter.font();
  font.setPointSize(26);
  font.setBold(true);
  painter.setFont(font);
  painter.setPen(Qt::white);
  painter.drawText(picture.rect(), Qt::AlignCenter, "TONMILL");
  return picture;
}

// Memory the process really occupies (resident), in megabytes; its address
// space is far larger and says little.
double MemoryInUseMegabytes() {
  std::ifstream statm("/proc/self/statm");
  long size = 0, pages = 0;
  statm >> size >> pages;
  const double kilobytes = double(pages) * double(sysconf(_SC_PAGESIZE)) / 1024;
  return std::floor(kilobytes) / 1024;
}

}  // namespace

std::string FormatMegabytes(double Megabytes) {
  std::string text = fmt::format("{:.3f}", Megabytes);  // "." whatever the locale
  while (text.back() == '0') text.pop_back();
  if (text.back() == '.') text.pop_back();
  return " " + text;
}

std::string TfrmAbout::VersionLine() {
  const std::string support = FormatText(text_with_support, std::string("UNICODE"));
  return fmt::format("{} ({}), {} : {} Mb, {}", ProgramVersion, support, text_memory_usage,
                     FormatMegabytes(MemoryInUseMegabytes()), BASS_DecoderVersionText());
}

std::string TfrmAbout::VersionInfo() {
  std::string text;
  for (const TFormatRow *row : FormatRows()) {
    const TCoderVersionRec &v = DestinationFileTypes[row->Code - 1].CoderVersion;
    if (v.LibraryName.empty()) continue;  // not in this build
    text += fmt::sprintf("  - %s, %s, %s %s", row->Name, v.LibraryName, v.VersionText, "\r\n");
  }
  return text;
}

TfrmAbout::TfrmAbout(QWidget *Parent) : QDialog(Parent) {
  setObjectName("frmAbout");
  setWindowTitle(QString::fromStdString(text_about));
  setFixedSize(563, 448);
  Image1 = new QLabel(this);
  Image1->setObjectName("Image1");
  Image1->setGeometry(81, 14, 400, 65);
  Image1->setPixmap(Picture());
  TntLabel1 = new QLabel(QString::fromStdString(VersionLine()), this);
  TntLabel1->setObjectName("TntLabel1");
  TntLabel1->setGeometry(10, 84, 543, 38);
  TntLabel1->setAlignment(Qt::AlignCenter);
  TntLabel1->setWordWrap(true);  // long translations and large numbers take a second line
  TntMemo1 = new QPlainTextEdit(this);
  TntMemo1->setObjectName("TntMemo1");
  TntMemo1->setGeometry(10, 126, 543, 266);
  TntMemo1->setReadOnly(true);
  TntMemo1->setLineWrapMode(QPlainTextEdit::NoWrap);
  TntMemo1->setPlainText(
      "Tonmill converts audio files, CUE sheets and whole folders into MP3,\n"
      "WMA, Ogg Vorbis, Monkey's Audio, FLAC, WavPack, AAC or WAV, several\n"
      "at once.\n\n"
      "Built on:\n"
      "  FFmpeg (libavformat, libavcodec, libswresample, libavutil) - decoding,\n"
      "    AAC and WMA encoding\n"
      "  LAME - MP3 encoding\n"
      "  libvorbis, libogg - Ogg Vorbis encoding\n"
      "  libFLAC - FLAC encoding\n"
      "  WavPack - WavPack encoding\n"
      "  Monkey's Audio file format - our own compressor, version 3990 files\n"
      "  TagLib - tags\n"
      "  uchardet - character sets of CUE sheets\n"
      "  {fmt} - text formatting\n"
      "  Qt - the windows\n\n"
      "Tonmill is free software: you may redistribute it and/or modify it\n"
      "under the terms of the GNU General Public License as published by the\n"
      "Free Software Foundation, version 3 or (at your option) any later\n"
      "version. It comes with NO WARRANTY. The licence's text is in the file\n"
      "COPYING, on Debian in /usr/share/common-licenses/GPL-3.\n");
  bVersionInfo = new QPushButton(QString::fromStdString(text_verion_info), this);
  bVersionInfo->setObjectName("bVersionInfo");
  bVersionInfo->setGeometry(10, 406, 180, 30);
  bOK = new QPushButton(QString::fromStdString(text_ok), this);
  bOK->setObjectName("bOK");
  bOK->setGeometry(453, 406, 100, 30);
  bOK->setDefault(true);
  connect(bOK, &QPushButton::clicked, this, &QDialog::accept);
  connect(bVersionInfo, &QPushButton::clicked, this, [] {
    QMessageBox::information(nullptr, QString::fromStdString(text_verion_info),
                             QString::fromStdString(VersionInfo()));
  });
}

void TfrmAbout::keyPressEvent(QKeyEvent *Event) {
  if (Event->key() == Qt::Key_F11) {
    DumpFormTexts(this);
    return;
  }
  QDialog::keyPressEvent(Event);
}
