// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/windows/files_info.h"

#include <QBoxLayout>
#include <QFontMetrics>
#include <QFrame>
#include <QHeaderView>
#include <QKeyEvent>
#include <QPushButton>
#include <QStyle>
#include <QTreeView>

#include <algorithm>

#include "app/windows/cue_info.h"
#include "base/texts.h"

namespace {

const char *const kColumnSettings[FilesInfoColumnCount] = {"InfoFormCol0", "InfoFormCol1", "InfoFormCol2",
                                                           "InfoFormCol3", "InfoFormCol4", "InfoFormCol5",
                                                           "InfoFormCol6", "InfoFormCol7"};

}  // namespace

TInfoFormSizes LoadInfoFormSizes(const TSettingsStore &Store, const TInfoFormSizes &defaults) {
  TInfoFormSizes sizes;
  sizes.Height = Store.ReadInteger("InfoFormHeight", defaults.Height);
  sizes.Width = Store.ReadInteger("InfoFormWidth", defaults.Width);
  for (size_t c = 0; c < sizes.Columns.size(); ++c)
    sizes.Columns[c] = Store.ReadInteger(kColumnSettings[c], defaults.Columns[c]);
  return sizes;
}

std::vector<TSaveRec> InfoFormSizesRecords(const TInfoFormSizes &Sizes) {
  std::vector<TSaveRec> records = {{"InfoFormHeight", Sizes.Height}, {"InfoFormWidth", Sizes.Width}};
  for (size_t c = 0; c < Sizes.Columns.size(); ++c) records.push_back({kColumnSettings[c], Sizes.Columns[c]});
  return records;
}

TfrmFilesInfo::TfrmFilesInfo(QWidget *Parent) : TOptionsDialog("frmFilesInfo", text_source_files_info, Parent) {
  setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                 Qt::WindowCloseButtonHint);
  Model = new TFilesInfoModel(this);
  JvListView1 = new QTreeView(this);
  JvListView1->setObjectName("JvListView1");
  JvListView1->setModel(Model);
  JvListView1->setRootIsDecorated(false);
  JvListView1->setItemsExpandable(false);
  JvListView1->setUniformRowHeights(true);  // thousands of rows scroll without measuring each
  JvListView1->setAllColumnsShowFocus(true);
  JvListView1->setSelectionBehavior(QAbstractItemView::SelectRows);
  JvListView1->setSelectionMode(QAbstractItemView::ExtendedSelection);
  JvListView1->setEditTriggers(QAbstractItemView::NoEditTriggers);
  JvListView1->setTextElideMode(Qt::ElideMiddle);  // a long path keeps its file name
  QHeaderView *header = JvListView1->header();
  header->setStretchLastSection(false);
  header->setSectionsClickable(true);
  header->setSortIndicatorShown(false);
  ApplySizes(TInfoFormSizes{});
  FitColumnTitles(header);
  const int type = QFontMetrics(JvListView1->font()).horizontalAdvance("flac+CUE") + 12;
  header->resizeSection(2, std::max(header->sectionSize(2), type));

  bRemove = new QPushButton(QString::fromStdString(text_remove), this);
  bRemove->setObjectName("bRemove");
  bCUEInfo = new QPushButton(QString::fromStdString(text_cue_info), this);
  bCUEInfo->setObjectName("bCUEInfo");
  for (QPushButton *b : {bRemove, bCUEInfo}) {
    b->setEnabled(false);
    b->setAutoDefault(false);  // Enter confirms the view, never removes
    // The style's own margins leave a long caption no room to spare.
    b->setMinimumWidth(std::max(90, b->fontMetrics().horizontalAdvance(b->text()) + 24));
  }
  auto *line = new QFrame(this);
  line->setObjectName("Bevel1");
  line->setFrameShape(QFrame::HLine);
  line->setFrameShadow(QFrame::Sunken);

  auto *layout = new QVBoxLayout(this);
  layout->addWidget(JvListView1, 1);
  layout->addWidget(line);
  QBoxLayout *buttons = ButtonRow(bRemove);
  buttons->insertWidget(1, bCUEInfo);
  layout->addLayout(buttons);

  // Columns widened for their titles widen the view with them: no scrolling sideways at first.
  int columns = 2 * JvListView1->frameWidth() + style()->pixelMetric(QStyle::PM_ScrollBarExtent) +
                layout->contentsMargins().left() + layout->contentsMargins().right();
  for (int c = 0; c < FilesInfoColumnCount; ++c) columns += header->sectionSize(c);
  resize(std::max(width(), columns), height());

  connect(header, &QHeaderView::sectionClicked, this, [this](int column) { SortByColumn(column); });
  connect(JvListView1->selectionModel(), &QItemSelectionModel::selectionChanged, this,
          [this] { SelectionChanged(); });
  connect(bRemove, &QPushButton::clicked, this, [this] { bRemoveClick(); });
  connect(bCUEInfo, &QPushButton::clicked, this, [this] { bCUEInfoClick(); });
}

void TfrmFilesInfo::SetRows(std::vector<TFilesInfoRow> Rows) {
  Model->SetRows(std::move(Rows));
  SelectionChanged();
}

void TfrmFilesInfo::SortByColumn(int Column) {
  if (Column < 0 || Column >= FilesInfoColumnCount) return;
  Model->SortBy(Column, Directions[size_t(Column)]);
  Directions[size_t(Column)] = -Directions[size_t(Column)];
}

void TfrmFilesInfo::SelectionChanged() {
  const QModelIndexList selected = JvListView1->selectionModel()->selectedRows();
  bRemove->setEnabled(!selected.isEmpty());
  bCUEInfo->setEnabled(selected.size() == 1 &&
                       Model->Rows()[size_t(selected.front().row())].Texts[2].contains("CUE"));
}

void TfrmFilesInfo::bRemoveClick() {
  std::vector<int> positions;
  for (const QModelIndex &index : JvListView1->selectionModel()->selectedRows()) positions.push_back(index.row());
  JvListView1->selectionModel()->clearSelection();
  Removed += Model->Remove(positions);
  SelectionChanged();
}

void TfrmFilesInfo::keyPressEvent(QKeyEvent *Event) {
  if (Event->key() == Qt::Key_Delete && Event->modifiers() == Qt::NoModifier) {
    if (bRemove->isEnabled()) bRemoveClick();
    return;
  }
  TOptionsDialog::keyPressEvent(Event);
}

void TfrmFilesInfo::bCUEInfoClick() {
  const QModelIndexList selected = JvListView1->selectionModel()->selectedRows();
  if (selected.size() != 1) return;
  TfrmCUEInfo view(Model->Rows()[size_t(selected.front().row())].SheetName, this, CueLayout);
  view.Run();
}

void TfrmFilesInfo::ApplySizes(const TInfoFormSizes &Sizes) {
  resize(Sizes.Width, Sizes.Height);
  for (int c = 0; c < FilesInfoColumnCount; ++c) JvListView1->header()->resizeSection(c, Sizes.Columns[size_t(c)]);
}

TInfoFormSizes TfrmFilesInfo::Sizes() const {
  TInfoFormSizes sizes;
  sizes.Height = height();
  sizes.Width = width();
  for (int c = 0; c < FilesInfoColumnCount; ++c) sizes.Columns[size_t(c)] = JvListView1->header()->sectionSize(c);
  return sizes;
}
