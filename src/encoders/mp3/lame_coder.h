// SPDX-License-Identifier: GPL-3.0-or-later
// TLameCoder feeds the LAME library (TMP3Coder feeds it from the worker): a
// configuration record, a stream started from it, chunks of 16-bit samples in,
// MP3 frames out, and the VBR information (LAME tag) frame written into the
// finished file.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct lame_global_struct;  // lame.h: the library stream

enum class TLameMode : uint8_t { STEREO = 0, JSTEREO = 1, DUALCHANNEL = 2, MONO = 3 };
enum TVBRMethod : uint8_t { vbrDefault = 0, vbrOld = 1, vbrNew = 2, vbrABR = 3 };

// Result of InitStream when the library rejects the parameters.
constexpr int LameRejectedParameters = -1;
// Result of WriteVBRFrame when the stream made no LAME tag frame.
constexpr int LameNoTagFrame = 1;

// The library's configuration, as InitStream hands it over.
struct TLameConfig {
  uint32_t SampleRate = 44100;
  uint32_t Mode = 0;             // TLameMode
  uint32_t Bitrate = 128;        // kbit/s: CBR rate, or the VBR minimum
  uint32_t MaxBitrate = 320;     // kbit/s
  int32_t Preset = -1;           // -1: none
  bool Private = false, CRC = true, Copyright = false, Original = false;
  bool WriteVBRHeader = false, EnableVBR = false;
  int32_t VBRQuality = 4;        // 0 best .. 9
  uint32_t AbrBitrate = 0;       // bit/s, for the ABR method
  uint32_t VBRMethod = 0;        // 0 default, 1 old, 2 new, 4 ABR
};

struct TLameVersion {
  int EncoderMajor = 0, EncoderMinor = 0;
  std::string Text;
};

class TLameCoder {
 public:
  TLameCoder() = default;
  ~TLameCoder();
  TLameCoder(const TLameCoder &) = delete;
  TLameCoder &operator=(const TLameCoder &) = delete;

  // Settings (set before InitStream).
  uint32_t SampleRate = 44100;
  TLameMode Mode = TLameMode::STEREO;
  uint32_t Bitrate = 128;
  uint32_t MaxBitrate = 320;
  int8_t Preset = -1;
  bool Private = false, CRC = true, Copyright = false, Original = false;
  bool WriteVBRHeader = false;
  void SetEnableVBR(bool Enable) { EnableVBR = WriteVBRHeader = Enable; }
  bool EnableVBR = false;
  bool EnableABR = false;
  TVBRMethod VBRMethod = vbrDefault;
  int VBRQuality = 4;
  int InputChannels = 2;  // channels of the samples given to EncodeChunk

  TLameConfig Config() const;
  // Starts a stream: 0, LameRejectedParameters, or another error code.
  int InitStream();
  // Encodes `count` 16-bit values (all channels together) into OutputBuffer.
  int EncodeChunk(const int16_t *samples, uint32_t count, uint32_t &outputBytes);
  // The same for floats of full scale 1.
  int EncodeChunk(const float *samples, uint32_t count, uint32_t &outputBytes);
  // Flushes the last frames into OutputBuffer and keeps the LAME tag frame.
  int DeinitStream(uint32_t &outputBytes);
  void CloseStream();
  bool StreamStarted() const { return Stream != nullptr; }
  // Writes the LAME tag frame over the first frame of the finished file: 0 on
  // success, LameNoTagFrame, or another code with errno telling why.
  int WriteVBRFrame(const std::string &FileName) const;
  // The LAME tag frame DeinitStream kept (empty: none).
  const std::vector<uint8_t> &LameTagFrame() const { return TagFrame; }
  // Of the started stream: the samples its first frame starts before the
  // input, the samples of one frame, and the rate of the frames.
  int EncoderDelay() const;
  int FrameSamples() const;
  int OutSampleRate() const;

  uint32_t SamplesPerChunk = 0;   // 16-bit values per chunk, all channels
  std::vector<uint8_t> OutputBuffer;

  static TLameVersion Version();

 private:
  // Makes room in OutputBuffer for `count` values' output and has Encode
  // write it there; LAME's error, or 0 with outputBytes set.
  int Encoded(uint32_t count, uint32_t &outputBytes,
              const std::function<int(int frames, unsigned char *out, int room)> &Encode);

  lame_global_struct *Stream = nullptr;
  std::vector<uint8_t> TagFrame;
};
