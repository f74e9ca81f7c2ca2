// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/windows/window_texts.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>

#include <fstream>

void SetCaption(QWidget *Control, const std::string &Text) {
  const QString text = QString::fromStdString(Text);
  if (auto *button = qobject_cast<QAbstractButton *>(Control)) button->setText(text);
  else if (auto *label = qobject_cast<QLabel *>(Control)) label->setText(text);
  else if (auto *group = qobject_cast<QGroupBox *>(Control)) group->setTitle(text);
}

std::string CaptionOf(const QWidget *Control) {
  if (auto *button = qobject_cast<const QAbstractButton *>(Control)) return button->text().toStdString();
  if (auto *label = qobject_cast<const QLabel *>(Control)) return label->text().toStdString();
  if (auto *group = qobject_cast<const QGroupBox *>(Control)) return group->title().toStdString();
  return {};
}

void ApplyTexts(const std::vector<QWidget *> &Controls, const std::vector<const std::string *> &Texts,
                bool Padded, int LastIndex) {
  for (size_t k = 0; k < Controls.size(); ++k) {
    const std::string &text = *Texts[int(k) <= LastIndex ? k : 0];
    SetCaption(Controls[k], Padded ? " " + text + " " : text);
  }
}

namespace {

void DumpControl(const QWidget *Control, std::vector<std::string> &Lines) {
  for (const QObject *child : Control->children()) {
    const auto *widget = qobject_cast<const QWidget *>(child);
    if (!widget) continue;
    if (widget->objectName().isEmpty()) {  // a frame of its own (a scroll area): its controls count
      DumpControl(widget, Lines);
      continue;
    }
    const std::string name = widget->objectName().toStdString();
    const std::string caption = CaptionOf(widget);
    std::string text;
    if (auto *edit = qobject_cast<const QLineEdit *>(widget)) text = edit->text().toStdString();
    if (auto *combo = qobject_cast<const QComboBox *>(widget)) text = combo->currentText().toStdString();
    if (!caption.empty()) Lines.push_back(name + ".Caption = " + caption);
    else if (!text.empty()) Lines.push_back(name + ".Text = " + text);
    DumpControl(widget, Lines);
  }
}

}  // namespace

void DumpFormTexts(const QWidget *Window) {
  std::vector<std::string> lines;
  DumpControl(Window, lines);
  std::ofstream file("texts/" + Window->objectName().toStdString() + ".txt");
  if (!file) return;  // no "texts" folder: nothing to do
  for (const std::string &line : lines) file << line << "\r\n";
}
