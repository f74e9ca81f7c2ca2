// SPDX-License-Identifier: GPL-3.0-or-later
// MPEG-1 layer III frames taken apart and laid out again. A frame's main data
// may begin in earlier frames (the bit reservoir), so frames cut from several
// encodings are only valid together once their main data is placed again,
// each frame pointing back only into the frames that precede it in the file.
// Also the LAME tag of a stream put together this way.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <vector>

struct TMP3Frame {
  std::array<uint8_t, 4> Header{};
  std::vector<uint8_t> SideInfo;  // 17 bytes (mono) or 32
  std::vector<uint8_t> MainData;  // whole bytes: the last one may end in stuffing bits
};

// The frames of a stream of MPEG-1 layer III frames (no tag frame, nothing
// else between), each with its main data gathered. Raises on anything else.
std::vector<TMP3Frame> SplitMP3Frames(const uint8_t *Data, size_t Size);

// Lays frames out one after another: each frame's main data as early as the
// bytes left free in the frames before allow. Where it does not fit in its
// own frame even so, the frame (or the one before) gets the next higher
// bitrate. Frames are written as soon as nothing can change them any more.
class TMP3Layout {
 public:
  using TWrite = std::function<void(const uint8_t *Data, size_t Size)>;
  explicit TMP3Layout(TWrite Write) : Write(std::move(Write)) {}
  void Add(const TMP3Frame &Frame);
  // Writes the frames held back.
  void Flush();

  // Of the frames written: their number, bytes, LAME's CRC-16 of those bytes,
  // and each one's bitrate in kbit/s (for a seek table).
  int64_t Frames = 0;
  uint64_t Bytes = 0;
  uint16_t MusicCRC = 0;
  std::vector<uint16_t> Kbps;
  int64_t Raised = 0;  // bitrates raised to make room

 private:
  struct THeld {
    std::array<uint8_t, 4> Header;
    std::vector<uint8_t> SideInfo;
    std::vector<uint8_t> Slot;  // the main data area
    int64_t SlotStart;          // in bytes of main data areas since the first frame
  };
  void WriteFront();
  TWrite Write;
  std::deque<THeld> Held;
  int64_t SlotsEnd = 0, DataEnd = 0;
};

// Completes a LAME tag frame (as LAME makes it) for a stream of Frames frames
// of StreamBytes bytes with the tag frame, their bitrates, their CRC, and the
// encoder delay and padding in samples. Raises on a frame that is no LAME tag.
void CompleteLameTag(std::vector<uint8_t> &Tag, const TMP3Layout &Stream, int Delay, int Padding);
