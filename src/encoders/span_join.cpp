// SPDX-License-Identifier: GPL-3.0-or-later
#include "encoders/span_join.h"

#include <algorithm>

TSpreadCoder::TSpreadCoder(std::unique_ptr<TSpanJoiner> Joiner_, int32_t SpanThreads_,
                           const std::string &FileName, const TTagRec &Tags, const TAudioInfo &AudioInfo)
    : TCustomCoder(FileName, Tags, AudioInfo), Joiner(std::move(Joiner_)),
      SpanThreads(std::max(1, SpanThreads_)) {}

TSpreadCoder::~TSpreadCoder() {
  {
    std::lock_guard<std::mutex> lock(Lock);
    Stopping = true;
  }
  StopThreads();
}

int64_t TSpreadCoder::SpanLength(int64_t Quantum) {
  Quantum = std::max<int64_t>(1, Quantum);
  return (SpanFrames + Quantum - 1) / Quantum * Quantum;
}

int TSpreadCoder::Init(std::string &ErrorText) {
  const int result = Joiner->Start(ErrorText);
  if (result != 0) return result;
  const TAudioInfoRec &s = Stream();
  FrameBytes = std::max(1, s.Channels * s.BitsPerSample / 8);
  SpanBytes = SpanLength(Joiner->Quantum()) * FrameBytes;
  for (int32_t i = 0; i < SpanThreads; ++i) Threads.emplace_back([this] { SpanThread(); });
  return 0;
}

void TSpreadCoder::SpanThread() {
  std::unique_lock<std::mutex> lock(Lock);
  for (;;) {
    TTask *task = nullptr;
    Changed.wait(lock, [&] {
      for (const std::unique_ptr<TTask> &t : InFlight)
        if (!t->Taken) return (task = t.get()) != nullptr;
      return Stopping;
    });
    if (!task) return;
    task->Taken = true;
    lock.unlock();
    try {
      task->Encoded = Joiner->Encode(task->FirstFrame, task->Samples.data(), task->Samples.size());
    } catch (...) {
      task->Error = std::current_exception();
    }
    lock.lock();
    task->Done = true;
    AppendInOrder(lock);
    Changed.notify_all();
  }
}

void TSpreadCoder::AppendInOrder(std::unique_lock<std::mutex> &Held) {
  while (!Appending && !InFlight.empty() && InFlight.front()->Done) {
    std::unique_ptr<TTask> task = std::move(InFlight.front());
    InFlight.pop_front();
    // After a failure or a stop nothing more joins: the output is not kept anyway.
    if (Failure || Dropping) continue;
    Appending = true;
    Held.unlock();
    std::exception_ptr failed = task->Error;
    if (!failed) {
      try {
        Joiner->Append(*task->Encoded, task->Samples.data(), task->Samples.size());
      } catch (...) {
        failed = std::current_exception();
      }
    }
    task.reset();
    Held.lock();
    Appending = false;
    if (failed) Failure = failed;
  }
}

void TSpreadCoder::DoOutput(const void *Buffer, int Size, bool) {
  const auto *in = static_cast<const uint8_t *>(Buffer);
  while (Size > 0) {
    if (!Filling) {
      Filling = std::make_unique<TTask>();
      Filling->FirstFrame = FramesSubmitted;
      Filling->Samples.reserve(size_t(SpanBytes));
    }
    std::vector<uint8_t> &samples = Filling->Samples;
    const size_t take = std::min(size_t(Size), size_t(SpanBytes) - samples.size());
    samples.insert(samples.end(), in, in + take);
    in += take;
    Size -= int(take);
    if (samples.size() == size_t(SpanBytes)) Submit();
  }
}

void TSpreadCoder::Submit() {
  FramesSubmitted += int64_t(Filling->Samples.size()) / FrameBytes;
  {
    std::lock_guard<std::mutex> lock(Lock);
    InFlight.push_back(std::move(Filling));
  }
  Changed.notify_all();
  // Each span thread busy and one span waiting: no more is held.
  WaitForRoom(size_t(SpanThreads));
}

void TSpreadCoder::WaitForRoom(size_t Limit) {
  std::unique_lock<std::mutex> lock(Lock);
  Changed.wait(lock, [&] { return Failure || (InFlight.size() + (Appending ? 1 : 0) <= Limit); });
  if (Failure) std::rethrow_exception(Failure);
}

void TSpreadCoder::StopThreads() {
  Changed.notify_all();
  for (std::thread &t : Threads) t.join();
  Threads.clear();
}

void TSpreadCoder::Abort(bool Keep) {
  TCustomCoder::Abort(Keep);
  if (Keep) return;
  Filling.reset();
  std::lock_guard<std::mutex> lock(Lock);
  Dropping = true;
  std::erase_if(InFlight, [](const std::unique_ptr<TTask> &t) { return !t->Taken; });
  Changed.notify_all();
}

void TSpreadCoder::Drain() {
  if (Threads.empty()) return;
  try {
    // Stopped and kept, everything given is encoded (a few spans at most), so
    // the shorter file holds all of it, as the format's own coder's would.
    if (Filling && !Filling->Samples.empty()) Submit();
    WaitForRoom(0);
  } catch (...) {
    DrainFailure = std::current_exception();
  }
  {
    std::lock_guard<std::mutex> lock(Lock);
    Stopping = true;
  }
  StopThreads();
  InFlight.clear();
  Filling.reset();
}

void TSpreadCoder::Finish() {
  Drain();
  Joiner->Finish();
  if (DrainFailure) std::rethrow_exception(DrainFailure);
}
