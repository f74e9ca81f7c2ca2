// SPDX-License-Identifier: GPL-3.0-or-later
#include "sources/getaudioinfo_thread.h"

#include <memory>

#include "platform/main_thread/main_thread.h"
#include "platform/processors.h"
#include "sources/audio_info.h"

TGetAudioInfoThread::TGetAudioInfoThread(TSourceList &List, int FirstIndex, int LastIndex,
                                         TAudioInfo &Summary, TProgressHandler OnProgress)
    : List(List), FirstIndex(FirstIndex), LastIndex(LastIndex), Summary(Summary),
      OnProgress(std::move(OnProgress)) {}

TGetAudioInfoThread::~TGetAudioInfoThread() { StopAndWait(); }

void TGetAudioInfoThread::Execute() {
  for (int index = FirstIndex; index <= LastIndex && !Terminated(); ++index) {
    TSourceItem &item = List[size_t(index)];
    TAudioInfo info;
    try {
      GetFileAudioInfo(item.FileName, true, info);
    } catch (const std::exception &e) {
      info.ErrorText = e.what();
    }
    item.Rec.AudioInfo = info;
    if (!info.ErrorText.empty()) Summary.ErrorText += item.FileName + " : " + info.ErrorText + "\r\n";
    if (size_t(info.Index) < info.Streams.size())
      Summary.Streams[0].Duration += info.Streams[size_t(info.Index)].Duration;
    item.Rec.Progress.Percent = 1;
    if (Terminated()) break;
    if (OnProgress) OnProgress(TProgressRec{});
  }
}

std::vector<std::pair<int, int>> AudioInfoWorkerRanges(int count, int processors) {
  if (count <= 0) return {};
  int workers = 4 * processors;
  if (count - 1 < workers) workers = 1;
  if (workers == 1) return {{0, count - 1}};
  // The first worker takes the first source alone, the others Step each, and
  // the last one the rest.
  const int step = (count - 1) / workers;
  std::vector<std::pair<int, int>> ranges = {{0, 0}};
  for (int w = 1; w < workers; ++w) {
    const int first = ranges.back().second + 1;
    ranges.push_back({first, w == workers - 1 ? count - 1 : first + step - 1});
  }
  return ranges;
}

double GatherAudioInfo(TSourceList &List, const std::atomic<bool> *Cancel,
                       TGetAudioInfoThread::TProgressHandler OnProgress, std::string &Errors) {
  Errors.clear();
  const auto ranges = AudioInfoWorkerRanges(int(List.size()), ProcessorCount());
  std::vector<TAudioInfo> summaries(ranges.size());
  std::vector<std::unique_ptr<TGetAudioInfoThread>> workers;
  for (size_t w = 0; w < ranges.size(); ++w) {
    summaries[w].Streams.assign(1, TAudioInfoRec{});
    workers.push_back(std::make_unique<TGetAudioInfoThread>(List, ranges[w].first, ranges[w].second,
                                                            summaries[w], OnProgress));
  }
  for (auto &worker : workers) worker->Resume();

  bool cancelled = false;
  auto running = [&] {
    for (auto &worker : workers)
      if (!worker->Finished()) return true;
    return false;
  };
  while (running()) {
    WaitWithMessages(1000);
    MainThreadPump().ProcessPending();
    if (Cancel && *Cancel) {
      cancelled = true;
      for (auto &worker : workers) worker->Terminate();
      break;
    }
  }
  for (auto &worker : workers) worker->WaitFor();
  workers.clear();

  if (cancelled) return 0;
  double total = 0;
  for (const TAudioInfo &summary : summaries) {
    if (summary.ErrorText.empty())
      total += summary.Streams[0].Duration;
    else
      Errors += summary.ErrorText;
  }
  return total;
}
