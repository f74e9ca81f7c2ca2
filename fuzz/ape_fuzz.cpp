// SPDX-License-Identifier: GPL-3.0-or-later
// Our Monkey's Audio compressor fed arbitrary PCM in arbitrary block splits:
// FFmpeg, checking every frame's CRC, must decode the file back to the input.
// Input: one byte of format (depth, channels, level), one byte of split
// count, two bytes per split size, then the samples.
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <vector>

#include "encoders/ape/ape_coder.h"
#include "fuzz_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
  if (Size < 2) return 0;
  const int bits = Data[0] & 1 ? 24 : 16;
  const int channels = Data[0] & 2 ? 2 : 1;
  const int setting = 1 + (Data[0] >> 2) % 5;
  const size_t splitCount = 1 + Data[1] % 8;
  size_t at = 2;
  std::vector<size_t> splits;
  for (size_t i = 0; i < splitCount && at + 2 <= Size; ++i, at += 2)
    splits.push_back(1 + (size_t(Data[at]) | size_t(Data[at + 1]) << 8));
  if (splits.empty()) return 0;
  const size_t frame = size_t(channels * bits / 8);
  std::vector<uint8_t> pcm(Data + at, Data + at + (Size - at) / frame * frame);
  if (pcm.empty()) return 0;

  TAudioInfoRec stream;
  stream.SampleRate = 44100;
  stream.Channels = channels;
  stream.BitsPerSample = bits;
  stream.BytesPerSample = bits / 8;
  TAudioInfo info;
  info.Streams = {stream};
  const std::string ape = FuzzFile("out.ape", nullptr, 0);
  {
    TAPECoder coder(ape, TTagRec{}, info, TAPEOptions{setting});
    std::string error;
    if (coder.Init(error) != 0) __builtin_trap();
    for (size_t i = 0, done = 0; done < pcm.size(); ++i) {
      const size_t n = std::min(pcm.size() - done, splits[i % splits.size()]);
      coder.DoOutput(pcm.data() + done, int(n), true);
      done += n;
    }
    coder.Finish();
  }
  const std::string raw = ape + ".raw";
  const std::string command = "ffmpeg -nostdin -v error -y -err_detect crccheck+explode -i '" + ape + "' -f " +
                              (bits == 16 ? "s16le" : "s24le") + " '" + raw + "' 2>/dev/null";
  if (std::system(command.c_str()) != 0) __builtin_trap();
  std::ifstream in(raw, std::ios::binary);
  const std::vector<uint8_t> decoded{std::istreambuf_iterator<char>(in), {}};
  if (decoded != pcm) __builtin_trap();
  return 0;
}
