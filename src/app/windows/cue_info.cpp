// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/windows/cue_info.h"

#include <QHeaderView>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <vector>

#include <fmt/printf.h>

#include "base/texts.h"
#include "sources/cue.h"

void FitColumnTitles(QHeaderView *Header) {
  std::vector<int> drawn;
  for (int c = 0; c < Header->count(); ++c) drawn.push_back(Header->sectionSize(c));
  Header->resizeSections(QHeaderView::ResizeToContents);  // the titles alone while the list is empty
  for (int c = 0; c < Header->count(); ++c) Header->resizeSection(c, std::max(drawn[size_t(c)], Header->sectionSize(c)));
}

TfrmCUEInfo::TfrmCUEInfo(const std::string &SheetName, QWidget *Parent, const TCueLayout &Layout)
    : TOptionsDialog("frmCUEInfo", text_cue_info, Parent) {
  JvListView1 = new QTreeWidget(this);
  JvListView1->setObjectName("JvListView1");
  JvListView1->setRootIsDecorated(false);
  JvListView1->setUniformRowHeights(true);
  JvListView1->setSelectionBehavior(QAbstractItemView::SelectRows);
  JvListView1->setEditTriggers(QAbstractItemView::NoEditTriggers);
  JvListView1->setHeaderLabels({"#", QString::fromStdString(text_title), QString::fromStdString(text_performer),
                                QString::fromStdString(text_index)});
  JvListView1->header()->setStretchLastSection(false);
  const int widths[] = {30, 300, 250, 70};
  for (int c = 0; c < 4; ++c) JvListView1->header()->resizeSection(c, widths[c]);
  FitColumnTitles(JvListView1->header());

  TCUEArr tracks;
  try {
    ParseCue(SheetName, tracks);
  } catch (const ECueSheetError &) {
    tracks.clear();
  }
  // Without a sheet, or with a sheet of no tracks, the reader gives one empty entry.
  if (tracks.size() == 1 && tracks[0].TrackNumber == 0 && tracks[0].FileName.empty()) tracks.clear();
  LayOutCueTracks(tracks, Layout);
  const size_t first = !tracks.empty() && tracks.front().Hidden ? 0 : 1;
  for (size_t i = 0; i < tracks.size(); ++i) {
    const TCUERec &t = tracks[i];
    auto *row = new QTreeWidgetItem(JvListView1);  // owned by the list
    row->setText(0, QString::number(i + first));
    row->setText(1, QString::fromStdString(t.Title));
    row->setText(2, QString::fromStdString(t.Performer));
    // Where the track starts as cut (its INDEX 00 when pregaps are its own).
    const long frames = t.InSeconds && t.StartTime >= 0 ? std::lround(t.StartTime * 75) : -1;
    row->setText(3, QString::fromStdString(
                        frames < 0 ? fmt::sprintf("%.2d:%.2d:%.2d", t.Index01Minutes, t.Index01Seconds, t.Index01Frames)
                                   : fmt::sprintf("%.2ld:%.2ld:%.2ld", frames / 75 / 60, frames / 75 % 60, frames % 75)));
  }

  bCancel->hide();  // a view: OK (or Escape) closes it
  auto *layout = new QVBoxLayout(this);
  layout->addWidget(JvListView1);
  layout->addLayout(ButtonRow());
  FitTo(703, 411);
}
