// SPDX-License-Identifier: GPL-3.0-or-later
#include "window_checks.h"

#include <QAbstractButton>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>

std::vector<std::string> ClippedTexts(const QWidget *window) {
  std::vector<std::string> clipped;
  for (const QWidget *w : window->findChildren<QWidget *>()) {
    const QFontMetrics metrics(w->font());
    const std::string name = w->objectName().toStdString();
    if (auto *button = qobject_cast<const QPushButton *>(w)) {
      if (metrics.horizontalAdvance(button->text()) + 12 > button->width())
        clipped.push_back(name + ": " + button->text().toStdString());
    } else if (auto *box = qobject_cast<const QAbstractButton *>(w)) {  // check and radio boxes
      if (!box->text().isEmpty() && box->sizeHint().width() > box->width())
        clipped.push_back(name + ": " + box->text().toStdString());
    } else if (auto *label = qobject_cast<const QLabel *>(w)) {
      if (label->text().isEmpty() || !label->pixmap().isNull()) continue;
      const int room = label->contentsRect().width();
      const bool fits = label->wordWrap() ? label->heightForWidth(label->width()) <= label->height()
                                          : metrics.horizontalAdvance(label->text()) <= room;
      if (!fits) clipped.push_back(name + ": " + label->text().toStdString());
    } else if (auto *group = qobject_cast<const QGroupBox *>(w)) {
      if (metrics.horizontalAdvance(group->title()) > group->width() - 16)
        clipped.push_back(name + ": " + group->title().toStdString());
      for (const QWidget *child : group->findChildren<QWidget *>(Qt::FindDirectChildrenOnly))
        if (child->y() < metrics.height())  // the title would cover its first line
          clipped.push_back(name + " over " + child->objectName().toStdString());
    }
  }
  return clipped;
}
