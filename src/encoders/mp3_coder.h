// MP3 outputs through LAME: the settings record, its tables, and the encoder.
// Receives 16-bit samples only; writes the VBR information frame (VBR and
// preset modes) and an ID3v1 tag when it finishes, unless stopped.
#pragma once

#include <memory>
#include <string>

#include "encoders/coder.h"
#include "encoders/lame_coder.h"

enum TBitrateType : uint8_t { btCBR = 0, btVBR = 1, btQUALITY = 2, btPRESET = 3 };

struct TMP3Options {
  bool AutoFindBitrate = false;
  int32_t Bitrate = 160;      // kbit/s (CBR)
  int32_t MinBitrate = 32;    // kbit/s (VBR)
  int32_t MaxBitrate = 320;   // kbit/s (VBR)
  uint8_t StereoMode = 1;     // 0 stereo, 1 joint stereo
  TBitrateType BitrateType = btVBR;
  TVBRMethod VBRMethod = vbrNew;
  int32_t Quality = 4;        // 0 highest .. 9 lowest
  int32_t Preset = 0;         // position in the preset table, -1 none
};

constexpr int MP3BitrateCount = 15;
constexpr int MP3PresetCount = 15;
// kbit/s of a position of the bitrate table (160 past its end).
int32_t MP3BitrateAt(int Position);
// The position of a bitrate in the table (1..14), 10 when it is not there.
int MP3BitratePosition(int32_t Kbps);
// The name of a preset position (that of position 0 past the end).
const char *MP3PresetName(int Position);
// The position of a preset name, -1 when unknown.
int MP3PresetPosition(const std::string &Name);

class TMP3Coder : public TCustomCoder {
 public:
  TMP3Coder(const std::string &FileName, const TTagRec &Tags, const TAudioInfo &AudioInfo);
  void Finish() override;
  int Init(const void *Options, std::string &ErrorText) override;
  void DoOutput(const void *Buffer, int Size, bool WriteData) override;
  int GetBufferSize() override;
  const char *ClassName() const override { return "TMP3Coder"; }

  // The library wrapper, as Init configured it.
  const TLameCoder &Lame() const { return *Coder; }

 private:
  // Starts the library stream, lowering the bitrates while it refuses them
  // when the options ask for that.
  int StartStream();
  // Writes Bytes of the library's output; raises naming the file and the reason.
  void WriteEncoded(TFileStream &To, uint32_t Bytes);
  std::unique_ptr<TLameCoder> Coder;
  TMP3Options Options;
};
