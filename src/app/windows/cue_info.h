// The CUE info view: the tracks of one sheet (number, title, performer and
// where the track starts), as the sheet reader decodes them. Main thread.
#pragma once

#include <string>

#include "app/windows/options_dialog.h"

class QHeaderView;
class QTreeWidget;

// Widens every column too narrow for its title in the list's font (the
// widths were drawn for a smaller font than most desktops use). The list
// must still be empty.
void FitColumnTitles(QHeaderView *Header);

class TfrmCUEInfo : public TOptionsDialog {
 public:
  // SheetName: the sheet (or an audio file whose sheet lies beside it); a
  // sheet that cannot be read, or has no tracks, gives an empty list.
  explicit TfrmCUEInfo(const std::string &SheetName, QWidget *Parent = nullptr);

  QTreeWidget *JvListView1;
};
