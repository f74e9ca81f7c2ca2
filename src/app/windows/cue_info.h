// SPDX-License-Identifier: GPL-3.0-or-later
// The CUE info view: the tracks of one sheet (number, title, performer and
// where the track starts), as the sheet reader decodes them and a run cuts
// them. Main thread.
#pragma once

#include <string>

#include "app/windows/options_dialog.h"
#include "sources/cue.h"

class QHeaderView;
class QTreeWidget;

// Widens every column too narrow for its title in the list's font (the
// widths were drawn for a smaller font than most desktops use). The list
// must still be empty.
void FitColumnTitles(QHeaderView *Header);

class TfrmCUEInfo : public TOptionsDialog {
 public:
  // SheetName: the sheet (or an audio file whose sheet lies beside it); a
  // sheet that cannot be read, or has no tracks, gives an empty list. The
  // tracks show as Layout cuts them: a kept hidden track first, as number 0.
  explicit TfrmCUEInfo(const std::string &SheetName, QWidget *Parent = nullptr, const TCueLayout &Layout = {});

  QTreeWidget *JvListView1;
};
