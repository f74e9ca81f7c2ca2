// SPDX-License-Identifier: GPL-3.0-or-later
// The table of the source files info view: one row per source with its audio
// properties, sorted by any column at once (keys are computed when a row is
// made, so a sort of thousands of rows only compares numbers and folded
// texts). Main thread.
#pragma once

#include <QAbstractTableModel>
#include <QString>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "base/misc.h"

constexpr int FilesInfoColumnCount = 8;

struct TFilesInfoRow {
  std::string FileName;
  std::string SheetName;     // the CUE sheet of the source, "" when none
  std::string AddedAs;       // the path the source list takes to add it again
  int32_t Number = 0;        // the "#" column, from 1
  std::array<QString, FilesInfoColumnCount> Texts;
  QString Problem;  // why the source cannot be read, "" when it can
  QString FoldedName, FoldedType;                   // text columns, without case
  std::array<int64_t, FilesInfoColumnCount> Keys{};  // number columns; Time in hundredths
};

// A row for one source of the list, from its gathered audio info; a source
// whose info could not be read shows why instead of its properties.
TFilesInfoRow FilesInfoRow(const TSourceItem &Item, int32_t Number);

// "hh:mm:ss.hh" of a duration in seconds; "" for an unknown (negative) one.
QString DurationText(double Seconds);

class TFilesInfoModel : public QAbstractTableModel {
 public:
  using QAbstractTableModel::QAbstractTableModel;

  static const char *const Titles[FilesInfoColumnCount];

  void SetRows(std::vector<TFilesInfoRow> Rows);
  const std::vector<TFilesInfoRow> &Rows() const { return Items; }

  // Stable: rows that compare equal keep their order. Direction +1 puts the
  // smaller value first, -1 the larger. Selections follow their rows.
  void SortBy(int Column, int Direction);
  // Deletes the rows at these positions and numbers the rest 1, 2, ... in
  // their order. Returns how many were deleted.
  int Remove(std::vector<int> Positions);

  int rowCount(const QModelIndex &Parent = {}) const override;
  int columnCount(const QModelIndex &Parent = {}) const override;
  QVariant data(const QModelIndex &Index, int Role) const override;
  QVariant headerData(int Section, Qt::Orientation Orientation, int Role) const override;
  void sort(int Column, Qt::SortOrder Order) override;

 private:
  std::vector<TFilesInfoRow> Items;
};
