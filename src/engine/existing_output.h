// SPDX-License-Identifier: GPL-3.0-or-later
// Outputs a run may leave alone: with "skip existing", an output already
// written by an earlier run is not converted again. Only a complete one is:
// newer than its source, and decoding to the source's (or the track's) length
// within what the format itself adds or pads. A shorter file kept by a stopped
// run, a cut copy or an unrelated file under the name is converted again.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

struct TFileListRec;  // engine/coder_thread.h

// What a run finds under a job's output name.
enum class TExistingOutput {
  None,         // nothing there (or no regular file: that is never written over)
  Older,        // not newer than its source
  NotAudio,     // not audio of the format, or damaged
  OtherLength,  // audio of another length than the source's or the track's
  Complete,
};

// Examines the file under Job's output name. Decodes it to its end; Stopped,
// asked between blocks, ends that early (the file then counts as NotAudio).
TExistingOutput ExamineExistingOutput(const TFileListRec &Job, const std::function<bool()> &Stopped = {});

// Outputs found and converted again, by why: for the run's summary.
struct TRedoneCounts {
  int32_t Older = 0, NotAudio = 0, OtherLength = 0;
  int32_t Total() const { return Older + NotAudio + OtherLength; }
  void Add(TExistingOutput Found);
};
