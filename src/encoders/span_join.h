// SPDX-License-Identifier: GPL-3.0-or-later
// One output encoded on several threads: the samples are cut into spans, each
// span is encoded on its own by a span thread, and the encoded spans are
// joined in order into the file one encoder would have written. A format
// whose encoded pieces can be joined this way (frames or blocks that stand
// alone, a header that can be completed at the end) offers a TSpanJoiner.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "encoders/custom_coder.h"

// The samples around a span that its encoder is also given: Before holds up
// to LeadFrames frames just before it, After up to TrailFrames just after, and
// Prime the output's opening (PrimeFrames frames), to go before all of them.
struct TSpanAround {
  const uint8_t *Prime = nullptr;
  size_t PrimeBytes = 0;
  const uint8_t *Before = nullptr;
  size_t BeforeBytes = 0;
  const uint8_t *After = nullptr;
  size_t AfterBytes = 0;
  bool Last = false;  // no samples follow: the output's end, or a stop that keeps the shorter file
};

// What one span encoded to, in its format's own terms.
struct TEncodedSpan {
  virtual ~TEncodedSpan() = default;
};

class TSpanJoiner {
 public:
  virtual ~TSpanJoiner() = default;
  // Those of the format's own coder: errors name it, and the worker feeds
  // both alike.
  virtual const char *ClassName() const = 0;
  virtual int BufferSize() const = 0;
  // Every span but the last holds a multiple of this many sample frames.
  virtual int64_t Quantum() const = 0;
  // Sample frames before and after a span that its encoder is also given
  // (to settle, and to look ahead); a span at the output's start or end
  // gets what there is.
  virtual int64_t LeadFrames() const { return 0; }
  virtual int64_t TrailFrames() const { return 0; }
  // Sample frames of the output's opening that a span's encoder is given
  // ahead of its lead, for an encoder that changes its own tuning for good at
  // the first sounds it meets: a span's encoder, meeting none of those, would
  // code unlike one piece however long its lead. Whole quanta, from the last
  // Silent one before the first sound (no sample at kSoundLevel or above:
  // dither is not sound). Spans that begin before the opening is whole have it
  // in their lead.
  static constexpr float kSoundLevel = 0.001f;  // of full scale
  virtual int64_t PrimeFrames() const { return 0; }
  virtual bool Silent(const uint8_t *Samples, size_t Bytes) const {
    (void)Samples;
    (void)Bytes;
    return true;
  }
  // Checks the settings and creates the output. Raises when refused.
  virtual void Start() = 0;
  // Encodes one span, which begins FirstFrame frames into the output. Runs on
  // several threads at once, beside Append: it may use only its arguments and
  // what Start left. Raises on failure.
  virtual std::unique_ptr<TEncodedSpan> Encode(int64_t FirstFrame, const uint8_t *Samples, size_t Bytes,
                                               const TSpanAround &Around) const = 0;
  // Writes the next span: one at a time, in order, on whichever thread comes
  // to it. Samples are what it was encoded from. Raises on failure.
  virtual void Append(TEncodedSpan &Span, const uint8_t *Samples, size_t Bytes) = 0;
  // The job was stopped (Keep: its shorter file stays); Finish follows. What
  // the format's coder leaves out of a stopped output, the joiner does too.
  virtual void Abort(bool Keep) { (void)Keep; }
  // Completes and closes the output with the spans appended (a stopped job's
  // too: they make a valid, shorter file). Raises when it cannot.
  virtual void Finish() = 0;
};

// The coder the worker drives for a spread job: it gathers what DoOutput is
// given into spans and hands them to SpanThreads threads. A thread encodes a
// span, then appends the encoded spans that are next in order, if no other
// thread is appending: the worker's own thread only reads and cuts, so it
// never holds the others up. A full span waits until the joiner's trail of
// the next one has come (or the end), and goes with copies of the samples
// around it. At most SpanThreads + 2 spans are held at once.
class TSpreadCoder final : public TCustomCoder {
 public:
  TSpreadCoder(std::unique_ptr<TSpanJoiner> Joiner, int32_t SpanThreads, const std::string &FileName,
               const TTagRec &Tags, const TAudioInfo &AudioInfo);
  ~TSpreadCoder() override;  // stops the span threads

  int Init(std::string &ErrorText) override;
  void DoOutput(const void *Buffer, int Size, bool WriteData) override;
  int GetBufferSize() override { return Joiner->BufferSize(); }
  // Without Keep, the spans no thread has begun are dropped, and none is
  // appended any more.
  void Abort(bool Keep) override;
  // Waits for every span given (none left, after Abort without Keep).
  void Drain() override;
  void Finish() override;
  const char *ClassName() const override { return Joiner->ClassName(); }

  // Sample frames per span for a quantum and a lead: the smallest multiple of
  // the quantum that holds SpanFrames (about six seconds of CD audio) and
  // twenty leads, so that encoding the leads costs at most a twentieth more.
  static int64_t SpanLength(int64_t Quantum, int64_t Lead = 0);
  static constexpr int64_t SpanFrames = int64_t(1) << 18;

 private:
  struct TTask {
    int64_t FirstFrame = 0;
    std::vector<uint8_t> Samples;
    std::vector<uint8_t> Prime, Before, After;  // copies of the opening and of the neighbours' edges
    bool Last = false;
    std::unique_ptr<TEncodedSpan> Encoded;
    std::exception_ptr Error;
    bool Taken = false;  // a span thread works on it
    bool Done = false;   // encoded, or failed
  };
  void SpanThread();
  // Appends the spans at the front that are done; under Lock, which it
  // releases while appending.
  void AppendInOrder(std::unique_lock<std::mutex> &Held);
  // Gives Held to the span threads with what follows it in Filling.
  void SubmitHeld(bool Last);
  // Gives Filling to the span threads, nothing following it.
  void SubmitLast();
  void Submit(std::unique_ptr<TTask> Task);
  // Gathers the opening from the spans' samples, in order, until it is whole.
  void NoteOpening(const std::vector<uint8_t> &Samples);
  // Waits until at most Limit spans are held; raises the first failure.
  void WaitForRoom(size_t Limit);
  void StopThreads();

  std::unique_ptr<TSpanJoiner> Joiner;
  int32_t SpanThreads;
  int64_t FrameBytes = 1;
  int64_t SpanBytes = 0;
  int64_t LeadBytes = 0, TrailBytes = 0;
  int64_t QuantumBytes = 0, PrimeBytes = 0;
  int64_t FramesCut = 0;           // in the spans begun before Filling
  std::unique_ptr<TTask> Held;     // full, awaiting the trail of Filling
  std::unique_ptr<TTask> Filling;  // the span DoOutput fills
  std::vector<uint8_t> Lead;       // the last samples before Held (or Filling)
  std::vector<uint8_t> Opening;    // whole: the prime of the spans to come
  std::vector<uint8_t> LastQuiet;  // the last quantum, while all was silent
  std::mutex Lock;
  std::condition_variable Changed;
  std::deque<std::unique_ptr<TTask>> InFlight;  // submitted and not yet appended, in span order
  bool Appending = false;     // a thread appends the front span
  bool Stopping = false;
  bool Dropping = false;       // stopped, and the output goes: no span is of use
  std::exception_ptr Failure;  // the first span that failed or could not be appended: no more are
  std::exception_ptr DrainFailure;  // what Drain met, for Finish to raise
  std::vector<std::thread> Threads;
};
