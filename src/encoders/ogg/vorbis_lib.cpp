// SPDX-License-Identifier: GPL-3.0-or-later
#include "encoders/ogg/vorbis_lib.h"

#include <vorbis/vorbisenc.h>

#include <cstring>
#include <stdexcept>
#include <string>

#include "encoders/ogg/ogg_format.h"
#include "encoders/vorbis_order.h"

TOGG_Coder::~TOGG_Coder() { Clear(); }

void TOGG_Coder::WritePage(const ogg_page &Page, const char *Where) {
  try {
    Output->Write(Page.header, size_t(Page.header_len));
    Output->Write(Page.body, size_t(Page.body_len));
  } catch (const std::exception &e) {
    throw std::runtime_error(std::string(Where) + ": Write error. " + e.what());
  }
}

void TOGG_Coder::Start() {
  const TAudioInfoRec &s = AudioInfo.Streams.at(size_t(AudioInfo.Index));
  BitsPerSample = s.BitsPerSample;
  Channels = s.Channels;
  Blocks = 0;
  EndOfStream = false;
  vorbis_info_init(&Info);
  InfoMade = true;
  if (Avg != 0) {
    const long nominal = OGGBitrateAt(Avg), maximum = OGGBitrateAt(Max);
    long minimum = OGGBitrateAt(Min);
    if (minimum < 0) minimum = nominal;
    const int result = vorbis_encode_init(&Info, Channels, s.SampleRate, maximum, nominal, minimum);
    if (result != 0)
      throw std::runtime_error("Vorbis codec setup with the requested bitrate failed. Try lower bitrate. Code=" +
                               std::to_string(result));
  } else {
    // Rates and channel counts the library has no mode for fail here.
    if (vorbis_encode_setup_vbr(&Info, Channels, s.SampleRate, Quality) != 0 ||
        vorbis_encode_setup_init(&Info) != 0)
      throw std::runtime_error("Vorbis codec setup failed: " + std::to_string(Channels) + " channels at " +
                               std::to_string(s.SampleRate) + " Hz are not supported");
  }
  vorbis_comment_init(&Comment);
  vorbis_analysis_init(&Dsp, &Info);
  vorbis_block_init(&Dsp, &Block);
  ogg_stream_init(&OggStream, 0);
  StateMade = true;
  ogg_packet identification, comment, codebooks;
  vorbis_analysis_headerout(&Dsp, &Comment, &identification, &comment, &codebooks);
  ogg_stream_packetin(&OggStream, &identification);
  ogg_stream_packetin(&OggStream, &comment);
  ogg_stream_packetin(&OggStream, &codebooks);
  while (ogg_stream_flush(&OggStream, &Page) != 0) WritePage(Page, "TOGG_Coder.InitVorbis");
  Started = true;
}

void TOGG_Coder::Encode(const uint8_t *Buffer, int Size) {
  const int frames = Size / (Channels * BitsPerSample / 8);
  if (frames == 0) {
    vorbis_analysis_wrote(&Dsp, 0);
  } else {
    float **out = vorbis_analysis_buffer(&Dsp, frames);
    for (int v = 0; v < Channels; ++v) {
      const int c = Channels <= 8 ? kVorbisFromWav[Channels][v] : v;
      float *o = out[v];
      switch (BitsPerSample) {
        case 8:
          for (int i = 0; i < frames; ++i) o[i] = (float(Buffer[i * Channels + c]) - 128) / 128;
          break;
        case 16: {
          const auto *in = reinterpret_cast<const int16_t *>(Buffer) + c;
          for (int i = 0; i < frames; ++i) o[i] = float(in[i * Channels]) / 32768;
          break;
        }
        case 24: {
          const uint8_t *in = Buffer + 3 * c;
          for (int i = 0; i < frames; ++i, in += 3 * Channels)
            o[i] = float(int32_t(uint32_t(in[0]) << 8 | uint32_t(in[1]) << 16 | uint32_t(in[2]) << 24) >> 8) /
                   8388608;
          break;
        }
        default: {
          const float *in = reinterpret_cast<const float *>(Buffer) + c;
          for (int i = 0; i < frames; ++i) o[i] = in[i * Channels];
        }
      }
    }
    vorbis_analysis_wrote(&Dsp, frames);
  }
  while (vorbis_analysis_blockout(&Dsp, &Block) == 1) {
    ++Blocks;
    vorbis_analysis(&Block, nullptr);
    vorbis_bitrate_addblock(&Block);
    while (vorbis_bitrate_flushpacket(&Dsp, &Packet)) {
      ogg_stream_packetin(&OggStream, &Packet);
      while (!EndOfStream && ogg_stream_pageout(&OggStream, &Page) != 0) {
        WritePage(Page, "TOGG_Coder.DoOutput");
        if (ogg_page_eos(&Page)) EndOfStream = true;
      }
    }
  }
}

void TOGG_Coder::End() {
  if (!Started || Ended) return;
  Ended = true;
  Encode(nullptr, 0);
}

void TOGG_Coder::Clear() {
  if (StateMade) {
    ogg_stream_clear(&OggStream);
    vorbis_block_clear(&Block);
    vorbis_dsp_clear(&Dsp);
    vorbis_comment_clear(&Comment);
    StateMade = false;
  }
  if (InfoMade) vorbis_info_clear(&Info);
  InfoMade = false;
}

bool TOGG_Coder::TakesBitrate(int Channels, int Rate, long Max, long Nominal, long Min) {
  vorbis_info info;
  vorbis_info_init(&info);
  const bool taken = vorbis_encode_init(&info, Channels, Rate, Max, Nominal, Min) == 0;
  vorbis_info_clear(&info);
  return taken;
}

TCoderVersionRec TOGG_Coder::Version() {
  // The vendor string of a comment header, as the files carry it.
  vorbis_comment comment;
  vorbis_comment_init(&comment);
  ogg_packet packet;
  std::string vendor;
  if (vorbis_commentheader_out(&comment, &packet) == 0) {
    // Packet type (1), "vorbis" (6), vendor length (4), vendor.
    uint32_t length = 0;
    if (packet.bytes >= 11) std::memcpy(&length, packet.packet + 7, 4);
    if (packet.bytes >= 11 + long(length)) vendor.assign(reinterpret_cast<const char *>(packet.packet + 11), length);
    ogg_packet_clear(&packet);
  }
  vorbis_comment_clear(&comment);
  std::erase_if(vendor, [](char c) { return static_cast<unsigned char>(c) < 32; });
  return {vorbis_version_string() + std::string(" (") + vendor + ")", 0, 0, "libogg.so.0, libvorbis.so.0, libvorbisenc.so.2"};
}
