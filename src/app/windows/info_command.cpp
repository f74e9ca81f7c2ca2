// SPDX-License-Identifier: GPL-3.0-or-later
// The main window's Info command: gathers the audio info of every source on
// the info workers, with its progress in the window, then shows the source
// files info view; sources removed there leave the job on OK.
#include <QApplication>
#include <QCheckBox>
#include <QPushButton>

#include <memory>
#include <mutex>

#include "app/windows/Unit1.h"
#include "app/windows/files_info.h"
#include "base/texts.h"
#include "platform/main_thread/main_thread.h"
#include "sources/getaudioinfo_thread.h"

void Tmain::bInfoClick() {
  if (IsProcessing) {  // the button says Cancel while the command runs
    InfoCancelled = true;
    MainThreadPump().Wake();  // the gathering looks at the flag at once
    return;
  }
  if (SourceFiles.List().empty()) return;
  // The list and its records belong to the workers and the view until the
  // end: no drop, no new sources, no run, no closing meanwhile.
  IsProcessing = true;
  InfoCancelled = false;
  setAcceptDrops(false);
  bInfo->setText(QString::fromStdString(text_cancel));
  std::vector<QWidget *> controls = JobControls();
  std::erase(controls, bInfo);
  controls.insert(controls.end(), {bStart, bOptions, bAbout});
  for (QWidget *control : controls) control->setEnabled(false);
  ExplainDisabled();

  TSourceList &list = SourceFiles.List();
  const int count = int(list.size());
  auto show = [this, count](int percent) {
    TProgressRec rec;
    rec.Stage = stGatheringInfo;
    rec.JobCount = count;
    rec.Percent = percent;
    rec.SlotCount = 1;
    OnProgress(rec);
  };
  show(0);
  // Workers report each finished source; the window hears of it only when
  // the percentage changes, so thousands of sources cost no more than 100 updates.
  std::mutex lock;
  int done = 0, shown = 0;
  auto progress = [&](const TProgressRec &) {
    std::lock_guard<std::mutex> guard(lock);
    ++done;
    const int percent = count == 1 ? 100 : done * 100 / (count + 1);
    if (percent == shown) return;
    shown = percent;
    MainThreadPump().RunOnMainThread([&show, percent] { show(percent); });
  };
  std::string errors;
  GatherAudioInfo(list, &InfoCancelled, progress, errors);

  // Unreadable sources are rows too, marked with why: the view is where they are removed.
  std::unique_ptr<TfrmFilesInfo> view;
  if (!InfoCancelled) {
    view = std::make_unique<TfrmFilesInfo>(this);
    const bool preprocess = cbEnablePreprocess->isChecked();
    view->CueLayout = {preprocess && PreprocessOptions.HiddenTrack, preprocess && PreprocessOptions.PregapOwnTrack};
    std::vector<TFilesInfoRow> rows;
    rows.reserve(list.size());
    for (size_t i = 0; i < list.size() && !InfoCancelled; ++i) {
      rows.push_back(FilesInfoRow(list[i], int32_t(i + 1)));
      if (i % 64 == 63) QApplication::processEvents();  // a Cancel click still gets through
    }
    view->SetRows(std::move(rows));
    show(100);
  }
  bInfo->setText(QString::fromStdString(text_info));

  if (!InfoCancelled) {
    view->ApplySizes(LoadInfoFormSizes(Store, view->Sizes()));
    if (view->Run()) {
      if (view->RemovedCount() > 0) {
        // The job is what the view kept, in the order it shows; a source of
        // a sheet comes back through its sheet, so it is still cut into tracks.
        std::vector<std::string> kept;
        for (const TFilesInfoRow &row : view->Rows()) kept.push_back(row.AddedAs);
        SourceFiles.Clear();
        for (const std::string &path : kept) SourceFiles.AddSourceFile(path, false);
        if (const QString missing = SheetsWithoutAudioText(); !missing.isEmpty()) ShowMessage(missing);
      }
      if (const std::string failure = Store.WriteSettings(InfoFormSizesRecords(view->Sizes())); !failure.empty())
        ShowMessage(QString::fromStdString(failure));
    }
  }
  view.reset();
  for (QWidget *control : controls) control->setEnabled(true);
  IsProcessing = false;
  setAcceptDrops(true);
  UpdateControls();
  ShowSourceSummary(int(SourceFiles.List().size()));
}
