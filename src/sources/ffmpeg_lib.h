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
  double Duration = -1.0;    // seconds of the whole input; -1 when not known
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
// errors); empty when it cannot be started.
std::string RunFFmpegCapture(const std::vector<std::string> &Parameters);

// Probes FileName: Text is ffmpeg's report, Streams its audio streams
// (none when ffmpeg is missing, cannot read the file, or finds no audio).
void GetFFmpegAudioInfo(const std::string &FileName, std::string &Text,
                        ffmpeg_lib::TAudioInfoArr &Streams);

// ffmpeg decoding one audio stream to 16-bit little-endian PCM at the
// stream's own rate and channel count, from a start time on. The process
// lives from the start (or SetPosition) to the decoder's end and is always
// reaped.
class TFFMPEG_Codec {
 public:
  // Raises "ffmpeg: <reason>" when the program cannot be started.
  TFFMPEG_Codec(const std::vector<std::string> &Parameters);
  ~TFFMPEG_Codec();
  // Fills Buffer with Count bytes, fewer only at the end of output.
  // Raises when ffmpeg fails or stops answering.
  int64_t ReadFromHandle(void *Buffer, size_t Count);

 private:
  std::unique_ptr<TChildProcess> Process;
};

class TFFMPEGDecoder : public TCustomDecoder {
 public:
  TFFMPEGDecoder(bool Mem, const std::string &FileName, double StartPos, int64_t Length,
                 uint32_t Flags, int32_t BufferSize, const TAudioInfo &AudioInfo);
  ~TFFMPEGDecoder() override;

  // Restarts ffmpeg at Seconds (seeking before the input is opened).
  int32_t SetPosition(double Seconds) override;
  int64_t GetData(void *Buffer, uint32_t Count) override;
  double GetPosition() override;
  TDecodeReport GetReport() override;

 private:
  void Start(double Seconds);

  std::unique_ptr<TFFMPEG_Codec> Codec;
  double StartSeconds = 0;
  int32_t FrameBytes = 4;
  int32_t BytesPerSecond = 0;
  int64_t BytesDelivered = 0;
  bool Ended = false;
};
