// SPDX-License-Identifier: GPL-3.0-or-later
// The decoding layer over FFmpeg fed damaged files of every family: a stream
// that opens decodes to its end in whole frames, its position counts what it
// delivered, its length at the end is where it ended, and a seek lands where
// it was asked to. Input: one byte choosing the stream function (and float
// output), three bytes placing the seeks within the length, then the file.
#include <algorithm>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include "fuzz_file.h"
#include "platform/bass/bass.h"

namespace {

struct TFamily {
  TBASSStreamCreateFunc Create;
  const char *Name;  // its extension: some probes weigh it
};

const TFamily kFamilies[] = {
    {BASS_StreamCreateFile, "in.wav"},      {BASS_StreamCreateFile, "in.mp3"},
    {BASS_StreamCreateFile, "in.ogg"},      {BASS_StreamCreateFile, "in.aiff"},
    {BASS_WMA_StreamCreateFile, "in.wma"},  {BASS_FLAC_StreamCreateFile, "in.flac"},
    {BASS_APE_StreamCreateFile, "in.ape"},  {BASS_AC3_StreamCreateFile, "in.ac3"},
    {BASS_AAC_StreamCreateFile, "in.aac"},  {BASS_MP4_StreamCreateFile, "in.m4a"},
    {BASS_WV_StreamCreateFile, "in.wv"},    {BASS_MPC_StreamCreateFile, "in.mpc"},
    {BASS_TTA_StreamCreateFile, "in.tta"},  {BASS_OPUS_StreamCreateFile, "in.opus"},
    {BASS_OGA_StreamCreateFile, "in.oga"},  {BASS_MKA_StreamCreateFile, "in.mka"},
    {BASS_DSD_StreamCreateFile, "in.dsf"},
};
constexpr size_t kFamilyCount = std::size(kFamilies);
// Some codecs make many frames of a few bytes: beyond this much output the
// decode is cut short and the end is not checked.
constexpr QWORD kMaxOutput = 64 << 20;

void Check(bool ok) {
  if (!ok) __builtin_trap();
}

// Reads until the end, an error or `limit` bytes into `out`; says whether
// the stream ended.
bool ReadOn(HSTREAM h, QWORD limit, DWORD frameBytes, std::vector<uint8_t> &out) {
  static std::vector<uint8_t> buffer(1 << 16);
  out.clear();
  while (out.size() < limit) {
    const DWORD got = BASS_ChannelGetData(h, buffer.data(), DWORD(buffer.size()));
    if (got == DWORD(-1)) return BASS_ErrorGetCode() == BASS_ERROR_ENDED;
    Check(got % frameBytes == 0 && got <= buffer.size());
    out.insert(out.end(), buffer.begin(), buffer.begin() + got);
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
  static const bool started = BASS_Init(0, 44100, 0, nullptr, nullptr);
  (void)started;
  if (Size < 4) return 0;
  const TFamily &family = kFamilies[Data[0] % kFamilyCount];
  const bool floats = Data[0] / kFamilyCount % 2;
  const std::string path = FuzzFile(family.Name, Data + 4, Size - 4);
  const HSTREAM h = family.Create(false, path.c_str(), 0, 0, BASS_STREAM_DECODE | (floats ? BASS_SAMPLE_FLOAT : 0));
  if (!h) return 0;

  BASS_CHANNELINFO info;
  Check(BASS_ChannelGetInfo(h, &info));
  Check(info.freq > 0 && info.chans >= 1 && info.chans <= 64);
  const DWORD frameBytes = info.chans * (floats ? 4 : 2);
  BASS_ChannelGetLength(h, BASS_POS_BYTE);  // stated, or counted by a second decode

  std::vector<uint8_t> whole, part;
  const bool ended = ReadOn(h, kMaxOutput, frameBytes, whole);
  Check(BASS_ChannelGetPosition(h, BASS_POS_BYTE) == whole.size());
  BASS_DECODE_REPORT report;
  Check(BASS_ChannelGetDecodeReport(h, &report));
  if (ended) {
    Check(BASS_ChannelGetLength(h, BASS_POS_BYTE) == whole.size());
    Check(report.ended == whole.size());
  }

  // Seeks within the length, which may be a header's lie far beyond the data.
  // A seek gives the samples a decode from the start gives there: in raw PCM
  // decoded without damage, and in the lossy families that only seek by
  // decoding on from the start. (Elsewhere a seek goes by the container's
  // timestamps, which a damaged file may have wrong.)
  const bool rawPcm = Size >= 8 && (std::memcmp(Data + 4, "RIFF", 4) == 0 || std::memcmp(Data + 4, "RF64", 4) == 0 ||
                                    std::memcmp(Data + 4, "riff", 4) == 0 || std::memcmp(Data + 4, "FORM", 4) == 0);
  const bool decodesOn = family.Create == BASS_AC3_StreamCreateFile || family.Create == BASS_AAC_StreamCreateFile ||
                         family.Create == BASS_OPUS_StreamCreateFile;
  const bool exact = ended && (decodesOn || (rawPcm && report.damaged == 0));
  const QWORD length = BASS_ChannelGetLength(h, BASS_POS_BYTE);
  const QWORD frames = length / frameBytes;
  for (int i = 1; i <= 3 && length != QWORD(-1); ++i) {
    const QWORD target = (frames / 255 * Data[i] + frames % 255 * Data[i] / 255) * frameBytes;
    if (!BASS_ChannelSetPosition(h, target, BASS_POS_BYTE)) continue;
    Check(BASS_ChannelGetPosition(h, BASS_POS_BYTE) == target);
    ReadOn(h, 1 << 18, frameBytes, part);
    Check(BASS_ChannelGetPosition(h, BASS_POS_BYTE) == target + part.size());
    if (exact && target <= whole.size()) {
      const size_t n = std::min<size_t>(part.size(), whole.size() - target);
      Check(std::equal(part.begin(), part.begin() + n, whole.begin() + target));
    }
  }
  BASS_StreamFree(h);
  return 0;
}
