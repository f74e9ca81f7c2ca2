// SPDX-License-Identifier: GPL-3.0-or-later
// TFLAC_Coder feeds libFLAC (TFLACCoder feeds it from the worker): the stream
// encoder, writing through callbacks into a sink it does not own (the file,
// or memory for a span encoded on its own).
#pragma once

#include <cstdint>
#include <exception>
#include <string>
#include <vector>

#include "base/misc.h"
#include "encoders/file_stream.h"

#include <FLAC/stream_encoder.h>

// Where the encoded stream goes. Raises on failure.
class TFLACSink {
 public:
  virtual ~TFLACSink() = default;
  // Samples: per channel, of the one frame these bytes are; 0 for metadata.
  virtual void Write(const uint8_t *Bytes, size_t Count, unsigned Samples) = 0;
  virtual void Seek(int64_t Position) = 0;
  virtual int64_t Position() = 0;
};

class TFLACFileSink final : public TFLACSink {
 public:
  explicit TFLACFileSink(TFileStream &File) : File(File) {}
  void Write(const uint8_t *Bytes, size_t Count, unsigned) override { File.Write(Bytes, Count); }
  void Seek(int64_t Position) override { File.Seek(Position); }
  int64_t Position() override { return File.Position(); }

 private:
  TFileStream &File;
};

class TFLAC_Coder {
 public:
  TFLAC_Coder() = default;
  ~TFLAC_Coder();  // deletes the encoder (without finishing it)
  TFLAC_Coder(const TFLAC_Coder &) = delete;
  TFLAC_Coder &operator=(const TFLAC_Coder &) = delete;

  // Settings, handed to the library as they are.
  bool Verify = false;
  // Off where the caller sums the samples itself (a span of a longer file).
  bool SumSamples = true;
  uint16_t BlockSize = 4608;
  bool ExhaustiveModelSearch = false;
  bool MidSide = true;
  uint16_t MaxLpcOrder = 0;
  bool LooseMidSide = false;
  uint16_t QlpCoeffPrecision = 0;
  bool QlpCoeffPrecSearch = false;
  uint16_t MaxResidualPartitionOrder = 0;
  uint16_t MinResidualPartitionOrder = 0;
  TAudioInfo AudioInfo;
  TFLACSink *Output = nullptr;  // not owned

  // Creates and starts the encoder; raises "<reason>, step=<mark>".
  void Start();
  // Encodes `Size` bytes of 16-bit or packed 24-bit samples; raises
  // FailureText when the library refuses them.
  void Encode(const uint8_t *Buffer, int Size);
  // Writes the rest and the final stream information; false when that failed.
  bool Finish();
  // "Failed to encode data.", followed by why the output could not take the data.
  std::string FailureText() const;

 private:
  FLAC__StreamEncoder *Encoder = nullptr;
  std::string Step;
  int BitsPerSample = 16;
  int Channels = 2;
  std::vector<int32_t> Samples;  // reused for every block
  std::string OutputError;  // the first failure of the output stream
  void Failed(const std::exception &e);

  friend struct TFLACCallbacks;
};
