// SPDX-License-Identifier: GPL-3.0-or-later
// One decoding stream: the first audio stream of a file, decoded by FFmpeg and
// delivered as interleaved 16-bit or float PCM, with a sample-exact position.
//
// The stream's timeline is the one a plain decode from the start produces
// (encoder delay and padding removed where the container says so, as FFmpeg
// does); every position, seek and length is counted in frames of it.
//
// A source ends where its data ends. Damaged blocks are passed over as
// FFmpeg's own program does, and a source that stops before the length its
// container states simply ends there; both are counted for the report.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

struct AVFormatContext;
struct AVCodecContext;
struct AVPacket;
struct AVFrame;
struct SwrContext;

// Which formats one stream-creation function accepts.
struct TStreamKind {
  const char *const *Demuxers;        // FFmpeg demuxer names, null-terminated list
  bool (*AcceptCodec)(int codecId);   // null: any codec the demuxer carries
};

class TDecodeStream {
 public:
  // Opens `path`; on failure returns a BASS error code and leaves `out` empty.
  static int Open(const std::string &path, const TStreamKind &kind, bool floatOutput,
                  int64_t probeBytes, std::unique_ptr<TDecodeStream> &out);
  ~TDecodeStream();
  TDecodeStream(const TDecodeStream &) = delete;
  TDecodeStream &operator=(const TDecodeStream &) = delete;

  int SampleRate() const { return Rate; }
  int Channels() const { return ChannelCount; }
  int FrameBytes() const { return ChannelCount * (FloatOutput ? 4 : 2); }
  int OriginalResolution() const { return OrigRes; }
  bool SourceIsFloat() const { return SourceFloat; }
  const std::string &Path() const { return FilePath; }
  int64_t FileSize() const;
  int64_t FilePosition() const;

  // Next frame to be delivered.
  int64_t Position() const { return Pos; }
  bool Ended() const { return EndReached; }
  // What the container states (-1: nothing), where the data ended (-1: not
  // yet), how many damaged blocks were passed over, whether the
  // container's own end mark is missing, and where counting the length
  // found the source undecodable (-1: it did not).
  int64_t Stated() const { return StatedLength >= 0 ? StatedLength : RoundedLength; }
  int64_t BrokeOffAt() const { return LengthBrokeOff; }
  int64_t EndedAt() const { return SourceEnd; }
  int64_t Damaged() const { return DamagedBlocks; }
  bool EndMarkMissing() const { return SourceEnd >= 0 && NoEndMark; }

  // Fills up to `frames` whole frames into `dst`; returns the number written,
  // 0 at the end, or -(BASS error) when the decoder cannot go on at all.
  int64_t Read(uint8_t *dst, int64_t frames);
  // Moves to `frame`; returns a BASS error code (BASS_OK on success).
  int Seek(int64_t frame);
  // The number of frames the stream delivers: counted once the end has been
  // reached, else what the container states, else counted by decoding the
  // whole file once; -(BASS error) on failure.
  int64_t Length();

 private:
  TDecodeStream() = default;
  int OpenFile(const std::string &path, const TStreamKind &kind, int64_t probeBytes);
  int DecodeFrame();          // next frame into Frame; 1 got one, 0 end, <0 -(BASS error)
  int Damage();               // counts one damaged block; -(BASS error) when too many follow
  int Convert(uint8_t *dst, int frames, int fromSample);
  int ConfigureResampler();
  int64_t FrameStart() const; // the current frame's first sample on our timeline, or -1
  int RestartAt(int64_t target);
  int Reopen();
  void Close();
  int64_t StatedLengthFromContainer();

  std::string FilePath;
  TStreamKind Kind{};
  int64_t ProbeBytes = 0;
  AVFormatContext *Format = nullptr;
  AVCodecContext *Decoder = nullptr;
  AVPacket *Packet = nullptr;
  AVFrame *Frame = nullptr;
  SwrContext *Resampler = nullptr;
  int ResamplerFormat = -1;   // the input sample format the resampler is set up for
  int StreamIndex = -1;
  bool FloatOutput = false;
  bool Lossy = false;
  bool SeekByTimestamp = false;  // the container's timestamps lead to the exact sample
  int Rate = 0;
  int ChannelCount = 0;
  int OrigRes = 0;
  bool SourceFloat = false;

  int64_t OriginPts = 0;      // stream timestamp of frame 0
  int64_t StatedLength = -1;  // exact frame count stated by the container, -1 unknown
  int64_t RoundedLength = -1; // a length stated to the millisecond (Matroska): a measure, no limit
  int64_t CountedLength = -1; // frame count found by decoding to the end, -1 unknown
  int64_t LengthBrokeOff = -1; // where counting found the source undecodable, -1 when it did not
  int64_t Pos = 0;            // next frame to deliver
  int FrameOffset = 0;        // samples of Frame already delivered or skipped
  bool HaveFrame = false;     // Frame holds undelivered samples
  int64_t SkipFrames = 0;     // frames still to drop before delivering (forward seek)
  bool DemuxEnded = false;
  bool DecoderEnded = false;
  bool EndReached = false;
  int Failure = 0;            // sticky BASS error: the decoder cannot go on
  int64_t SourceEnd = -1;     // frame where the source's data ended, -1 not yet
  int64_t DamagedBlocks = 0;  // refused packets and read errors in what was delivered
  int DamagedInARow = 0;      // refusals since the last good frame
  bool NoEndMark = false;     // an Ogg file whose last page is cut or lacks its end flag
};
