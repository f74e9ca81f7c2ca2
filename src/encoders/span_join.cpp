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

int64_t TSpreadCoder::SpanLength(int64_t Quantum, int64_t Lead) {
  Quantum = std::max<int64_t>(1, Quantum);
  const int64_t frames = std::max(SpanFrames, 20 * std::max<int64_t>(0, Lead));
  return (frames + Quantum - 1) / Quantum * Quantum;
}

int TSpreadCoder::Init(std::string &ErrorText) {
  ErrorText.clear();
  try {
    Joiner->Start();
  } catch (const std::exception &e) {
    ErrorText = e.what();
    return 1;
  }
  const TAudioInfoRec &s = Stream();
  FrameBytes = std::max(1, s.Channels * s.BitsPerSample / 8);
  const int64_t span = SpanLength(Joiner->Quantum(), Joiner->LeadFrames());
  SpanBytes = span * FrameBytes;
  // Neighbours' edges come from one span on either side.
  LeadBytes = std::clamp<int64_t>(Joiner->LeadFrames(), 0, span) * FrameBytes;
  TrailBytes = std::clamp<int64_t>(Joiner->TrailFrames(), 0, span) * FrameBytes;
  const int64_t quantum = std::max<int64_t>(1, Joiner->Quantum());
  QuantumBytes = quantum * FrameBytes;
  PrimeBytes = std::clamp<int64_t>(Joiner->PrimeFrames(), 0, span) / quantum * QuantumBytes;
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
      const TSpanAround around{.Prime = task->Prime.data(), .PrimeBytes = task->Prime.size(),
                               .Before = task->Before.data(), .BeforeBytes = task->Before.size(),
                               .After = task->After.data(), .AfterBytes = task->After.size(), .Last = task->Last};
      task->Encoded = Joiner->Encode(task->FirstFrame, task->Samples.data(), task->Samples.size(), around);
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
      Filling->FirstFrame = FramesCut;
      Filling->Samples.reserve(size_t(SpanBytes));
    }
    std::vector<uint8_t> &samples = Filling->Samples;
    // Up to the held span's trail first, then up to the span's end.
    const size_t until = Held && samples.size() < size_t(TrailBytes) ? size_t(TrailBytes) : size_t(SpanBytes);
    const size_t take = std::min(size_t(Size), until - samples.size());
    samples.insert(samples.end(), in, in + take);
    in += take;
    Size -= int(take);
    if (Held && samples.size() >= size_t(TrailBytes)) SubmitHeld(false);
    if (samples.size() == size_t(SpanBytes)) {
      FramesCut += SpanBytes / FrameBytes;
      Held = std::move(Filling);
      if (TrailBytes == 0) SubmitHeld(false);
    }
  }
}

void TSpreadCoder::SubmitHeld(bool Last) {
  std::unique_ptr<TTask> task = std::move(Held);
  if (Opening.size() == size_t(PrimeBytes)) task->Prime = Opening;
  task->Before = Lead;
  if (Filling) {
    const std::vector<uint8_t> &next = Filling->Samples;
    task->After.assign(next.begin(), next.begin() + std::min<ptrdiff_t>(ptrdiff_t(next.size()), TrailBytes));
  }
  task->Last = Last;
  // A full span holds at least the lead.
  Lead.assign(task->Samples.end() - LeadBytes, task->Samples.end());
  NoteOpening(task->Samples);
  Submit(std::move(task));
}

void TSpreadCoder::NoteOpening(const std::vector<uint8_t> &Samples) {
  const auto quantum = size_t(QuantumBytes), whole = size_t(PrimeBytes);
  if (Opening.size() == whole) return;
  size_t at = 0;
  // Until the first sound, the opening is empty; from it on, never.
  if (Opening.empty()) {
    // A full span is whole quanta.
    while (at < Samples.size() && Joiner->Silent(Samples.data() + at, quantum)) at += quantum;
    if (at == Samples.size()) {
      if (at > 0) LastQuiet.assign(Samples.end() - ptrdiff_t(quantum), Samples.end());
      return;
    }
    if (at > 0)
      at -= quantum;
    else
      Opening = LastQuiet;
  }
  const size_t take = std::min(whole - Opening.size(), Samples.size() - at);
  Opening.insert(Opening.end(), Samples.begin() + ptrdiff_t(at), Samples.begin() + ptrdiff_t(at + take));
}

void TSpreadCoder::SubmitLast() {
  std::unique_ptr<TTask> task = std::move(Filling);
  if (Opening.size() == size_t(PrimeBytes)) task->Prime = Opening;
  task->Before = Lead;
  task->Last = true;
  FramesCut += int64_t(task->Samples.size()) / FrameBytes;
  Submit(std::move(task));
}

void TSpreadCoder::Submit(std::unique_ptr<TTask> Task) {
  {
    std::lock_guard<std::mutex> lock(Lock);
    InFlight.push_back(std::move(Task));
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
  Joiner->Abort(Keep);
  if (Keep) return;
  Held.reset();
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
    const bool more = Filling && !Filling->Samples.empty();
    if (Held) SubmitHeld(!more);
    if (more) SubmitLast();
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
  Held.reset();
  Filling.reset();
}

void TSpreadCoder::Finish() {
  Drain();
  Joiner->Finish();
  if (DrainFailure) std::rethrow_exception(DrainFailure);
}
