// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/console_progress.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <QString>
#include <cstdio>
#include <fmt/printf.h>

namespace {

int TerminalWidth() {
  winsize size{};
  if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 20) return size.ws_col;
  return 80;
}

// Keeps the end of a text that is too long (file names end in what matters).
std::string FitWidth(const std::string &text, int width) {
  const QString q = QString::fromStdString(text);
  if (q.size() <= width) return text;
  if (width < 4) return std::string();
  return "..." + q.right(width - 3).toStdString();
}

}  // namespace

TConsoleProgress::TConsoleProgress() : Enabled(isatty(STDERR_FILENO)) {}

std::string TConsoleProgress::LineText(const TProgressRec &Rec, int width) {
  std::string head;
  if (Rec.Stage == stSeekingSilence)
    head = fmt::sprintf("Seeking for silence in file %d of %d", Rec.JobNumber, Rec.JobCount);
  else
    head = fmt::sprintf("%3d%%  job %d of %d  elapsed %s  remaining %s", Rec.Percent, Rec.JobNumber,
                        Rec.JobCount, Rec.ElapsedTime, Rec.RemainingTime);
  const int rest = width - int(QString::fromStdString(head).size()) - 2;
  if (rest > 8 && !Rec.OutputFileName.empty()) head += "  " + FitWidth(Rec.OutputFileName, rest);
  return head;
}

void TConsoleProgress::Show(const TProgressRec &Rec) {
  if (!Enabled) return;
  const std::string line = LineText(Rec, TerminalWidth() - 1);
  std::fprintf(stderr, "\r\033[K%s", line.c_str());
  std::fflush(stderr);
  Drawn = true;
}

void TConsoleProgress::Finish() {
  if (!Drawn) return;
  std::fputs("\n", stderr);
  Drawn = false;
}
