// SPDX-License-Identifier: GPL-3.0-or-later
// The encoder interface every format's worker-side coder implements.
//
// One encoder makes one output file, driven by one worker thread in this order:
// construct -> Init -> GetBufferSize -> DoOutput* -> [Abort] -> [Drain] -> Finish
// -> destroy. Finish is called exactly once, also after a failed Init. The samples it
// receives are described by AudioInfo's current stream (BitsPerSample: 16 or 24
// integers, 32 floats, or 32-bit integers with a 24-bit range for AAC).
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "base/misc.h"
#include "encoders/file_stream.h"

class TCustomCoder {
 public:
  TCustomCoder(const std::string &FileName, const TTagRec &Tags, const TAudioInfo &AudioInfo);
  virtual ~TCustomCoder() = default;
  TCustomCoder(const TCustomCoder &) = delete;
  TCustomCoder &operator=(const TCustomCoder &) = delete;

  // Completes and closes the output; raises when it cannot be written.
  virtual void Finish() = 0;
  // The conversion was stopped; Finish follows. Keep: the shorter file is to
  // be kept, so everything given must still reach it; otherwise it goes, and
  // work not yet done may be dropped.
  virtual void Abort(bool Keep) {
    (void)Keep;
    Aborted = true;
  }
  // Waits for the encoder's own work (a spread coder's spans), so that
  // Finish has only the final writing left. Raises nothing: a failure comes
  // from Finish. Optional; Finish does it when it was not called.
  virtual void Drain() {}
  // Creates the output with the options the coder was made with. Returns 0
  // when ready, else an error code with ErrorText set: runs Start, and what
  // it raises is the error (a coder with codes of its own overrides this).
  virtual int Init(std::string &ErrorText);
  // Encodes Size bytes of samples (a whole number of samples); writes nothing
  // unless WriteData. Raises on failure.
  virtual void DoOutput(const void *Buffer, int Size, bool WriteData) = 0;
  // Bytes of samples to pass per DoOutput.
  virtual int GetBufferSize() = 0;
  virtual const char *ClassName() const = 0;
  // A second file the coder writes beside its output (WavPack's correction
  // file), named the output's name followed by this; empty for none.
  virtual std::string CompanionSuffix() const { return {}; }
  // Where to write that file: a hidden name, as the output's. Before Init.
  void SetCompanionFileName(const std::string &Name) { CompanionFileName = Name; }

 protected:
  const TAudioInfoRec &Stream() const { return AudioInfo.Streams.at(size_t(AudioInfo.Index)); }
  // The coder's own setup for Init: creates the output and starts its
  // library; raises, saying why, when it cannot.
  virtual void Start();
  // Finish's frame: nothing when the output was never created; otherwise
  // End completes the file in the stream, which is then closed (and closed
  // without a word when End raises).
  void FinishOutput(const std::function<void(TFileStream &)> &End);
  // Creates the output file through CreateFileStream.
  void CreateOutput();

  std::unique_ptr<TFileStream> OutStream;
  std::string FileName;
  std::string CompanionFileName;
  TAudioInfo AudioInfo;
  TTagRec Tags;
  bool Aborted = false;
};

// What a failure to create an output file says first.
constexpr const char *CreateFileStreamFailure = "CreateFileStream (step1) : ";

// Creates the output file, replacing an existing one; raises
// "CreateFileStream (step1) : <reason>" when it cannot.
std::unique_ptr<TFileStream> CreateFileStream(const std::string &FileName);
