// SPDX-License-Identifier: GPL-3.0-or-later
// TMP3Coder feeds the worker's samples to TLameCoder, the wrapper of the LAME
// library. Receives 16-bit samples only; writes the VBR information frame (VBR
// and preset modes) and an ID3v1 tag when it finishes, unless stopped.
#pragma once

#include <memory>
#include <string>

#include "encoders/custom_coder.h"
#include "encoders/mp3/lame_coder.h"
#include "encoders/mp3/mp3_format.h"

// Hands the options to the library wrapper as every MP3 output gets them.
void ConfigureLame(TLameCoder &Coder, const TMP3Options &Options, const TAudioInfoRec &Stream);
// Starts the library stream, lowering the bitrates while it refuses them
// when the options ask for that: 0, or the library's last refusal.
int StartLameStream(TLameCoder &Coder, const TMP3Options &Options);
// Encodes Size bytes of the worker's samples (floats when BitsPerSample is
// 32, else 16-bit); returns the bytes of output in Coder.OutputBuffer.
// Raises on failure.
uint32_t EncodeMP3Samples(TLameCoder &Coder, const void *Buffer, int Size, int BitsPerSample);
// Ends a complete output with the ID3v1 block of Tags, when tags are carried;
// raises when it cannot be written.
void AppendID3v1(const std::string &FileName, const TTagRec &Tags);

class TMP3Coder : public TCustomCoder {
 public:
  TMP3Coder(const std::string &FileName, const TTagRec &Tags, const TAudioInfo &AudioInfo,
            const TMP3Options &Options);
  void Finish() override;
  int Init(std::string &ErrorText) override;
  void DoOutput(const void *Buffer, int Size, bool WriteData) override;
  int GetBufferSize() override;
  const char *ClassName() const override { return "TMP3Coder"; }

 private:
  // Writes Bytes of the library's output; raises naming the file and the reason.
  void WriteEncoded(TFileStream &To, uint32_t Bytes);
  std::unique_ptr<TLameCoder> Coder;
  TMP3Options Options;
};
