// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/windows/files_info_model.h"

#include <QColor>

#include <algorithm>
#include <cmath>
#include <numeric>

#include <fmt/printf.h>

#include "base/texts.h"
#include "engine/failure_text.h"
#include "platform/bass/bass.h"
#include "sources/cue.h"

namespace {

enum { cNumber, cName, cType, cBitrate, cRate, cBits, cChannels, cTime };

QString Q(const std::string &text) { return QString::fromStdString(text); }

int Compare(const TFilesInfoRow &A, const TFilesInfoRow &B, int Column) {
  if (Column == cName || Column == cType) {
    const int c = Column == cName ? A.FoldedName.compare(B.FoldedName) : A.FoldedType.compare(B.FoldedType);
    return (c > 0) - (c < 0);
  }
  return (A.Keys[size_t(Column)] > B.Keys[size_t(Column)]) - (A.Keys[size_t(Column)] < B.Keys[size_t(Column)]);
}

}  // namespace

const char *const TFilesInfoModel::Titles[FilesInfoColumnCount] = {
    "#", "File name", "Type", "Bitrate", "Sample Rate", "BPS", "Channels", "Time"};

QString DurationText(double Seconds) {
  if (!(Seconds >= 0)) return QString();
  // Rounded as a whole, so 59.999 s reads one minute, never "00:00:59.100".
  const int64_t hundredths = std::llround(Seconds * 100);
  const int64_t whole = hundredths / 100;
  return Q(fmt::sprintf("%.2d:%.2d:%.2d.%.2d", whole / 3600, whole % 3600 / 60, whole % 60, hundredths % 100));
}

TFilesInfoRow FilesInfoRow(const TSourceItem &Item, int32_t Number) {
  TFilesInfoRow row;
  row.FileName = Item.FileName;
  // A source added through its sheet is cut by that sheet; any other shows
  // the sheet found beside it.
  row.SheetName = Item.Rec.HasCUE ? CueSheetOf(Item) : FindCueSheet(Item.FileName);
  row.AddedAs = Item.Rec.HasCUE && !Item.Rec.CueName.empty() ? Item.Rec.CueName : Item.FileName;
  row.Number = Number;

  const TAudioInfo &info = Item.Rec.AudioInfo;
  const TAudioInfoRec stream = size_t(info.Index) < info.Streams.size() ? info.Streams[size_t(info.Index)]
                                                                         : TAudioInfoRec{};
  std::string type = GetFileExtension(Item.FileName);
  if (!row.SheetName.empty()) type += "+CUE";
  row.Keys = {Number, 0, 0, stream.Bitrate, stream.SampleRate, stream.BitsPerSample, stream.Channels,
              stream.Duration >= 0 ? std::llround(stream.Duration * 100) : -1};
  row.Texts[cNumber] = QString::number(Number);
  row.Texts[cName] = Q(Item.FileName);
  row.Texts[cType] = Q(type);
  for (int c : {cBitrate, cRate, cBits, cChannels}) row.Texts[size_t(c)] = QString::number(row.Keys[size_t(c)]);
  row.Texts[cTime] = DurationText(stream.Duration);
  row.FoldedName = row.Texts[cName].toCaseFolded();
  if (!info.ErrorText.empty()) {
    // Said in the row, before the name, where the view keeps it when a long path is cut.
    TThreadErrorRec error;
    error.CurrentInputFileName = Item.FileName;
    DiagnoseReading(error, BASS_ERROR_FILEFORM, info.DamagedAt);
    row.Problem = Q(FormatText(text_cannot_be_read, ReasonText(error)));
    row.Texts[cName] = row.Problem + "  " + Q(Item.FileName);
    for (int c : {cBitrate, cRate, cBits, cChannels, cTime}) row.Texts[size_t(c)].clear();
  }
  row.FoldedType = row.Texts[cType].toCaseFolded();
  return row;
}

void TFilesInfoModel::SetRows(std::vector<TFilesInfoRow> Rows) {
  beginResetModel();
  Items = std::move(Rows);
  endResetModel();
}

void TFilesInfoModel::SortBy(int Column, int Direction) {
  if (Column < 0 || Column >= FilesInfoColumnCount) return;
  std::vector<int> order(Items.size());
  std::iota(order.begin(), order.end(), 0);
  std::stable_sort(order.begin(), order.end(),
                   [&](int a, int b) { return Compare(Items[size_t(a)], Items[size_t(b)], Column) * Direction < 0; });

  emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
  std::vector<int> newPosition(Items.size());
  std::vector<TFilesInfoRow> sorted;
  sorted.reserve(Items.size());
  for (size_t i = 0; i < order.size(); ++i) {
    newPosition[size_t(order[i])] = int(i);
    sorted.push_back(std::move(Items[size_t(order[i])]));
  }
  Items = std::move(sorted);
  const QModelIndexList from = persistentIndexList();
  QModelIndexList to;
  to.reserve(from.size());
  for (const QModelIndex &index : from) to.append(this->index(newPosition[size_t(index.row())], index.column()));
  changePersistentIndexList(from, to);
  emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

int TFilesInfoModel::Remove(std::vector<int> Positions) {
  std::sort(Positions.begin(), Positions.end());
  Positions.erase(std::unique(Positions.begin(), Positions.end()), Positions.end());
  std::erase_if(Positions, [&](int p) { return p < 0 || size_t(p) >= Items.size(); });
  if (Positions.empty()) return 0;
  std::vector<bool> gone(Items.size());
  for (int p : Positions) gone[size_t(p)] = true;
  std::vector<TFilesInfoRow> kept;
  kept.reserve(Items.size() - Positions.size());
  for (size_t i = 0; i < Items.size(); ++i)
    if (!gone[i]) kept.push_back(std::move(Items[i]));
  beginResetModel();
  Items = std::move(kept);
  for (size_t i = 0; i < Items.size(); ++i) {
    Items[i].Number = int32_t(i + 1);
    Items[i].Keys[cNumber] = Items[i].Number;
    Items[i].Texts[cNumber] = QString::number(Items[i].Number);
  }
  endResetModel();
  return int(Positions.size());
}

int TFilesInfoModel::rowCount(const QModelIndex &Parent) const {
  return Parent.isValid() ? 0 : int(Items.size());
}

int TFilesInfoModel::columnCount(const QModelIndex &Parent) const {
  return Parent.isValid() ? 0 : FilesInfoColumnCount;
}

QVariant TFilesInfoModel::data(const QModelIndex &Index, int Role) const {
  if (!Index.isValid() || size_t(Index.row()) >= Items.size()) return {};
  const int column = Index.column();
  if (Role == Qt::DisplayRole) return Items[size_t(Index.row())].Texts[size_t(column)];
  if (Role == Qt::ToolTipRole && column == cName) return Items[size_t(Index.row())].Texts[cName];
  if (Role == Qt::ForegroundRole && !Items[size_t(Index.row())].Problem.isEmpty()) return QColor(0xb0, 0x10, 0x10);
  if (Role == Qt::TextAlignmentRole && column != cName && column != cType)
    return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
  return {};
}

QVariant TFilesInfoModel::headerData(int Section, Qt::Orientation Orientation, int Role) const {
  if (Orientation == Qt::Horizontal && Role == Qt::DisplayRole && Section >= 0 && Section < FilesInfoColumnCount)
    return QString(Titles[Section]);
  return {};
}

void TFilesInfoModel::sort(int Column, Qt::SortOrder Order) {
  SortBy(Column, Order == Qt::AscendingOrder ? 1 : -1);
}
