// SPDX-License-Identifier: GPL-3.0-or-later
// The ffmpeg program as a decoder for the video containers: the probe that
// reads what ffmpeg reports of a file, and the decoder that has ffmpeg
// write the PCM of one audio stream to a pipe. ffmpeg is started from an
// argument vector with the file by its path; it never reads our input.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "sources/decoder.h"

class TChildProcess;

// The program run: "ffmpeg" beside our own executable when there is one,
// else "ffmpeg" looked up on PATH. SetFFmpegPath replaces it (start-up only).
std::string FFmpegPath();
void SetFFmpegPath(const std::string &Path);

namespace ffmpeg_lib {

// One audio stream as ffmpeg reports it.
struct TAudioInfoRec {
  std::string StreamId;      // "0:1"
  std::string Codec;         // "aac"
  std::string SampleFormat;  // "fltp"; empty when not printed
  int32_t BitsPerSample = 16;  // what the decoder delivers
  int32_t BytesPerSample = 2;
  int32_t SampleRate = 0;    // Hz, 0 when not printed
  std::string ChannelsText;  // "stereo", "5.1(side)", "3 channels"
  int32_t Channels = 0;
  int32_t Bitrate = 0;       // kbit/s, 0 when not printed
  double Duration = -1.0;    // seconds: the stream's own where stated, else the whole input's; -1 unknown
};
using TAudioInfoArr = std::vector<TAudioInfoRec>;

// The audio streams of ffmpeg's report on the input named InputName (as
// given to ffmpeg), in order. Text before the report of that input (its
// name may hold anything) is not read.
TAudioInfoArr ParseFFmpegReport(const std::string &Text, const std::string &InputName);

}  // namespace ffmpeg_lib

// How ffmpeg is told about a file: by path, never as an option or a protocol.
std::string FFmpegInputName(const std::string &FileName);

// Runs ffmpeg with Parameters and returns all it printed (output and
// errors); empty when it cannot be started (Missing: it was not found).
std::string RunFFmpegCapture(const std::vector<std::string> &Parameters, bool *Missing = nullptr);

// Probes FileName: Text is ffmpeg's report, Streams its audio streams
// (none when ffmpeg is missing, cannot read the file, or finds no audio).
// False when the ffmpeg program was not found.
bool GetFFmpegAudioInfo(const std::string &FileName, std::string &Text,
                        ffmpeg_lib::TAudioInfoArr &Streams);

// ffmpeg decoding one audio stream to 16-bit little-endian PCM at the
// stream's own rate and channel count, from a start time on. The process
// lives from the start (or SetPosition) to the decoder's end and is always
// reaped.
class TFFMPEG_Codec {
 public:
  // Raises "ffmpeg: <reason>" when the program cannot be started, and
  // text_ffmpeg_missing when it is not found.
  TFFMPEG_Codec(const std::vector<std::string> &Parameters);
  ~TFFMPEG_Codec();
  // Reads what ffmpeg has written so far, up to Count bytes, waiting for
  // the first; 0 at the end of its output. Raises when ffmpeg fails or
  // stops answering.
  int64_t ReadFromHandle(void *Buffer, size_t Count);
  // The last of what ffmpeg wrote to its standard error.
  const std::string &Errors() const;

 private:
  std::unique_ptr<TChildProcess> Process;
};

class TFFMPEGDecoder : public TCustomDecoder {
 public:
  TFFMPEGDecoder(bool Mem, const std::string &FileName, double StartPos, int64_t Length,
                 uint32_t Flags, int32_t BufferSize, const TAudioInfo &AudioInfo);
  ~TFFMPEGDecoder() override;

  // Restarts ffmpeg at Seconds: the frame round(Seconds × rate) of the
  // stream's whole decode, whatever the container's clock. ffmpeg seeks a
  // little before it (so lossy decoders settle) and the frames up to it are
  // counted off here.
  int32_t SetPosition(double Seconds) override;
  int64_t GetData(void *Buffer, uint32_t Count) override;
  double GetPosition() override;
  TDecodeReport GetReport() override;

 private:
  void Start(double Seconds);
  // Starts ffmpeg decoding from From seconds on (seeking with the options
  // before the input, and reporting its first frames), or from the very
  // start when From is 0.
  void Launch(double From);
  // Where the decode just launched begins: the frame of the whole decode
  // its first frame is, from its report (the output read meanwhile is
  // held); -1 when that cannot be told.
  int64_t Landing();
  // Reads more of ffmpeg's output after what is held; false at its end.
  bool Fill();

  std::unique_ptr<TFFMPEG_Codec> Codec;
  double StartSeconds = 0;
  std::vector<uint8_t> Held;  // read from ffmpeg, not yet delivered: [HeldFrom, HeldEnd)
  size_t HeldFrom = 0;
  size_t HeldEnd = 0;
  int64_t SkipBytes = 0;   // decoded before the start, dropped
  bool OriginKnown = false;
  int64_t OriginPts = 0;   // the stream's first frame on ffmpeg's clock, in frames
  int32_t FrameBytes = 4;
  int32_t BytesPerSecond = 0;
  int64_t BytesDelivered = 0;
  bool Ended = false;
};
