// SPDX-License-Identifier: GPL-3.0-or-later
#include "encoders/mp3/mp3_frames.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <stdexcept>

namespace {

constexpr int kKbps[16] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0};
constexpr int kRates[4] = {44100, 48000, 32000, 0};
constexpr int kMaxBitrateIndex = 14;
constexpr int64_t kMaxBack = 511;  // main_data_begin has nine bits

bool Protected(const std::array<uint8_t, 4> &H) { return (H[1] & 1) == 0; }
int BitrateIndex(const std::array<uint8_t, 4> &H) { return H[2] >> 4; }
int Channels(const std::array<uint8_t, 4> &H) { return (H[3] >> 6) == 3 ? 1 : 2; }
size_t SideInfoLength(const std::array<uint8_t, 4> &H) { return Channels(H) == 1 ? 17 : 32; }

size_t FrameLength(const std::array<uint8_t, 4> &H) {
  return size_t(144000 * kKbps[BitrateIndex(H)] / kRates[(H[2] >> 2) & 3] + ((H[2] >> 1) & 1));
}

size_t SlotLength(const std::array<uint8_t, 4> &H) {
  return FrameLength(H) - 4 - (Protected(H) ? 2 : 0) - SideInfoLength(H);
}

bool IsLayer3Frame(const uint8_t *F) {
  return F[0] == 0xFF && (F[1] & 0xFE) == 0xFA && (F[2] >> 4) != 0 && (F[2] >> 4) != 15 && ((F[2] >> 2) & 3) != 3;
}

unsigned Bits(const std::vector<uint8_t> &Data, size_t At, int Count) {
  unsigned value = 0;
  for (int i = 0; i < Count; ++i, ++At) value = value << 1 | ((Data[At / 8] >> (7 - At % 8)) & 1);
  return value;
}

// The CRC the frame header protects the side information with: CRC-16
// (0x8005) from all ones, of the header's last two bytes and the side information.
uint16_t FrameCRC(const std::array<uint8_t, 4> &H, const std::vector<uint8_t> &Side) {
  uint16_t crc = 0xFFFF;
  auto add = [&](uint8_t byte) {
    for (int bit = 7; bit >= 0; --bit) {
      const bool top = ((crc >> 15) ^ (byte >> bit)) & 1;
      crc = uint16_t(crc << 1);
      if (top) crc ^= 0x8005;
    }
  };
  add(H[2]);
  add(H[3]);
  for (uint8_t byte : Side) add(byte);
  return crc;
}

// LAME's CRC of the music and of its tag: CRC-16 (0x8005 reflected) from zero.
uint16_t LameCRC(uint16_t Crc, const uint8_t *Data, size_t Size) {
  for (size_t i = 0; i < Size; ++i) {
    Crc ^= Data[i];
    for (int bit = 0; bit < 8; ++bit) Crc = Crc & 1 ? uint16_t((Crc >> 1) ^ 0xA001) : uint16_t(Crc >> 1);
  }
  return Crc;
}

void PutBE(uint8_t *At, uint64_t Value, int Bytes) {
  for (int i = 0; i < Bytes; ++i) At[i] = uint8_t(Value >> (8 * (Bytes - 1 - i)));
}

}  // namespace

std::vector<TMP3Frame> SplitMP3Frames(const uint8_t *Data, size_t Size) {
  std::vector<TMP3Frame> frames;
  std::vector<uint8_t> areas;  // the main data areas, one after another
  for (size_t at = 0; at < Size;) {
    if (Size - at < 4 || !IsLayer3Frame(Data + at)) throw std::runtime_error("MPEG-1 layer III frame expected");
    TMP3Frame frame;
    std::memcpy(frame.Header.data(), Data + at, 4);
    const size_t length = FrameLength(frame.Header), side = at + 4 + (Protected(frame.Header) ? 2 : 0);
    if (length > Size - at) throw std::runtime_error("MP3 frame cut short");
    frame.SideInfo.assign(Data + side, Data + side + SideInfoLength(frame.Header));
    const int channels = Channels(frame.Header);
    const size_t back = Bits(frame.SideInfo, 0, 9);
    // part2_3_length opens each granule's 59 bits of each channel, which
    // follow main_data_begin, the private bits and scfsi.
    const size_t granules = 9 + (channels == 1 ? 5 : 3) + 4 * size_t(channels);
    size_t bits = 0;
    for (int i = 0; i < 2 * channels; ++i) bits += Bits(frame.SideInfo, granules + 59 * size_t(i), 12);
    const size_t slot = areas.size();
    areas.insert(areas.end(), Data + side + frame.SideInfo.size(), Data + at + length);
    const size_t bytes = (bits + 7) / 8;
    if (back > slot || slot - back + bytes > areas.size()) throw std::runtime_error("MP3 main data out of place");
    frame.MainData.assign(areas.begin() + ptrdiff_t(slot - back), areas.begin() + ptrdiff_t(slot - back + bytes));
    frames.push_back(std::move(frame));
    at += length;
  }
  return frames;
}

void TMP3Layout::Add(const TMP3Frame &Frame) {
  std::array<uint8_t, 4> header = Frame.Header;
  const auto length = int64_t(Frame.MainData.size());
  int64_t start = 0;
  for (;;) {
    start = std::max(DataEnd, SlotsEnd - kMaxBack);
    while (start + length > SlotsEnd + int64_t(SlotLength(header)) && BitrateIndex(header) < kMaxBitrateIndex)
      header[2] = uint8_t(header[2] + 0x10);
    if (start + length <= SlotsEnd + int64_t(SlotLength(header))) break;
    // The largest frame is too small: more room in the frame before.
    if (Held.empty() || BitrateIndex(Held.back().Header) >= kMaxBitrateIndex)
      throw std::runtime_error("MP3 frames cannot be joined: a frame's main data does not fit");
    THeld &before = Held.back();
    ++Raised;
    before.Header[2] = uint8_t(before.Header[2] + 0x10);
    const size_t grown = SlotLength(before.Header);
    SlotsEnd += int64_t(grown - before.Slot.size());
    before.Slot.resize(grown, 0);
  }
  if (header != Frame.Header) ++Raised;
  THeld held{header, Frame.SideInfo, std::vector<uint8_t>(SlotLength(header), 0), SlotsEnd};
  const int64_t back = SlotsEnd - start;
  held.SideInfo[0] = uint8_t(back >> 1);
  held.SideInfo[1] = uint8_t((held.SideInfo[1] & 0x7F) | (back & 1) << 7);
  Held.push_back(std::move(held));
  SlotsEnd += int64_t(Held.back().Slot.size());
  // The main data goes where it starts, on through the frames held.
  int64_t at = start;
  for (THeld &h : Held) {
    const int64_t end = h.SlotStart + int64_t(h.Slot.size());
    if (at >= end || at >= start + length) continue;
    const int64_t count = std::min(end, start + length) - at;
    std::memcpy(h.Slot.data() + (at - h.SlotStart), Frame.MainData.data() + (at - start), size_t(count));
    at += count;
  }
  DataEnd = start + length;
  // A frame no later one can reach into, and not the last, is done.
  while (Held.size() > 1 &&
         Held.front().SlotStart + int64_t(Held.front().Slot.size()) <= std::max(DataEnd, SlotsEnd - kMaxBack))
    WriteFront();
}

void TMP3Layout::Flush() {
  while (!Held.empty()) WriteFront();
}

void TMP3Layout::WriteFront() {
  const THeld &h = Held.front();
  std::vector<uint8_t> frame(h.Header.begin(), h.Header.end());
  if (Protected(h.Header)) {
    const uint16_t crc = FrameCRC(h.Header, h.SideInfo);
    frame.push_back(uint8_t(crc >> 8));
    frame.push_back(uint8_t(crc));
  }
  frame.insert(frame.end(), h.SideInfo.begin(), h.SideInfo.end());
  frame.insert(frame.end(), h.Slot.begin(), h.Slot.end());
  Write(frame.data(), frame.size());
  ++Frames;
  Bytes += frame.size();
  MusicCRC = LameCRC(MusicCRC, frame.data(), frame.size());
  Kbps.push_back(uint16_t(kKbps[BitrateIndex(h.Header)]));
  Held.pop_front();
}

void CompleteLameTag(std::vector<uint8_t> &Tag, const TMP3Layout &Stream, int Delay, int Padding) {
  size_t x = 0;
  while (x + 4 <= std::min<size_t>(Tag.size(), 64) && std::memcmp(&Tag[x], "Xing", 4) != 0 &&
         std::memcmp(&Tag[x], "Info", 4) != 0)
    ++x;
  if (x + 156 > Tag.size() || std::memcmp(&Tag[x + 120], "LAME", 4) != 0)
    throw std::runtime_error("LAME tag frame expected");
  const uint64_t streamBytes = Stream.Bytes + Tag.size();
  PutBE(&Tag[x + 8], uint64_t(Stream.Frames), 4);
  PutBE(&Tag[x + 12], streamBytes, 4);
  // The seek table as LAME keeps it: running sums of bitrates, halved in
  // number whenever its 400 places are full.
  std::vector<int> bag(400);
  int sum = 0, seen = 0, want = 1, pos = 0;
  for (const uint16_t kbps : Stream.Kbps) {
    sum += kbps;
    if (++seen < want) continue;
    if (pos < int(bag.size())) {
      bag[size_t(pos++)] = sum;
      seen = 0;
    }
    if (pos == int(bag.size())) {
      for (size_t i = 1; i < bag.size(); i += 2) bag[i / 2] = bag[i];
      want *= 2;
      pos /= 2;
    }
  }
  uint8_t *toc = &Tag[x + 16];
  std::memset(toc, 0, 100);
  if (pos > 0)
    for (int i = 1; i < 100; ++i) {
      const float j = float(i) / 100.0f;
      const int index = std::min(int(std::floor(j * float(pos))), pos - 1);
      const float act = float(bag[size_t(index)]), total = float(sum);
      toc[i] = uint8_t(std::min(255, int(256. * act / total)));
    }
  Tag[x + 141] = uint8_t(Delay >> 4);
  Tag[x + 142] = uint8_t((Delay << 4) | ((Padding >> 8) & 0x0F));
  Tag[x + 143] = uint8_t(Padding);
  PutBE(&Tag[x + 148], streamBytes, 4);
  PutBE(&Tag[x + 152], Stream.MusicCRC, 2);
  PutBE(&Tag[x + 154], LameCRC(0, Tag.data(), x + 154), 2);
}
