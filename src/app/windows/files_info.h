// SPDX-License-Identifier: GPL-3.0-or-later
// The source files info view: the gathered audio properties of every source,
// sortable by any column; rows removed here leave the job when the view is
// confirmed. Its size and column widths are kept in the settings. Main thread.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "app/settings_store.h"
#include "app/windows/files_info_model.h"
#include "app/windows/options_dialog.h"
#include "sources/cue.h"

class QKeyEvent;
class QTreeView;

// The view's size and column widths in pixels, as stored ("InfoFormHeight",
// "InfoFormWidth", "InfoFormCol0" ... "InfoFormCol7"); the values here are
// the size it is drawn at.
struct TInfoFormSizes {
  int32_t Height = 452;
  int32_t Width = 886;
  std::array<int32_t, FilesInfoColumnCount> Columns = {30, 430, 60, 50, 75, 50, 60, 80};
  bool operator==(const TInfoFormSizes &) const = default;
};
// A value not stored gives the one of Defaults: what a new view has.
TInfoFormSizes LoadInfoFormSizes(const TSettingsStore &Store, const TInfoFormSizes &Defaults);
// Height, width, then the eight widths: written in one save.
std::vector<TSaveRec> InfoFormSizesRecords(const TInfoFormSizes &Sizes);

class TfrmFilesInfo : public TOptionsDialog {
 public:
  // Drawn at the size of TInfoFormSizes, with any column widened that is too
  // narrow for its title or for "flac+CUE" in the desktop's font.
  explicit TfrmFilesInfo(QWidget *Parent = nullptr);

  void SetRows(std::vector<TFilesInfoRow> Rows);
  const std::vector<TFilesInfoRow> &Rows() const { return Model->Rows(); }

  // A click on a column title: sorts by it in the column's direction, which
  // then flips (the first click sorts descending, "Time" ascending).
  void SortByColumn(int Column);
  void bRemoveClick();
  void bCUEInfoClick();
  // How the CUE info view cuts the sheets: as a run would.
  TCueLayout CueLayout;
  int RemovedCount() const { return Removed; }

  void ApplySizes(const TInfoFormSizes &Sizes);
  TInfoFormSizes Sizes() const;

  QTreeView *JvListView1;
  TFilesInfoModel *Model;  // owned by the dialog
  QPushButton *bRemove, *bCUEInfo;

 protected:
  // Delete removes the selected rows, as Remove does.
  void keyPressEvent(QKeyEvent *Event) override;

 private:
  void SelectionChanged();

  std::array<int, FilesInfoColumnCount> Directions = {-1, -1, -1, -1, -1, -1, -1, 1};
  int Removed = 0;
};
