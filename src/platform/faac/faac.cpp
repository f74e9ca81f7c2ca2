// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/faac/faac.h"

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
}

#include <algorithm>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include "platform/audio_encoder.h"

namespace {

const int kAdtsRates[] = {96000, 88200, 64000, 48000, 44100, 32000, 24000, 22050, 16000, 12000, 11025, 8000, 7350};
constexpr int kAdtsHeader = 7;

int RateIndex(unsigned long rate) {
  for (int i = 0; i < int(std::size(kAdtsRates)); ++i)
    if (static_cast<unsigned long>(kAdtsRates[i]) == rate) return i;
  return -1;
}

}  // namespace

struct faacEncStruct {
  unsigned long Rate = 0;
  unsigned int Channels = 0;
  faacEncConfiguration Config;
  TAudioEncoder Encoder;
  std::vector<float> Pending;              // interleaved samples short of a whole frame
  std::deque<std::vector<uint8_t>> Ready;  // ADTS frames not yet handed out
  bool Started = false, Draining = false;

  bool Open();
  bool Send(const float *samples, int frames) {
    return Encoder.Send(samples, frames, 0, [this](const AVPacket &p) {
      AddAdts(p);
      return true;
    });
  }
  void AddAdts(const AVPacket &p);
};

bool faacEncStruct::Open() {
  const faacEncConfiguration &c = Config;
  if (c.aacObjectType != LOW || c.outputFormat > ADTS_STREAM) return false;
  if (c.inputFormat != FAAC_INPUT_16BIT && c.inputFormat != FAAC_INPUT_32BIT && c.inputFormat != FAAC_INPUT_FLOAT)
    return false;
  return Encoder.Open(avcodec_find_encoder_by_name("aac"), int(Rate), int(Channels), [&](AVCodecContext &x) {
    x.profile = FF_PROFILE_AAC_LOW;
    // ADTS channel configuration 3 is front centre, left and right; the
    // default three-channel layout (2.1) would be coded as a pair and an LFE.
    if (Channels == 3) {
      av_channel_layout_uninit(&x.ch_layout);
      av_channel_layout_from_mask(&x.ch_layout, AV_CH_LAYOUT_SURROUND);
    }
    if (c.bitRate > 0) {
      x.bit_rate = int64_t(c.bitRate) * Channels;
    } else {
      x.flags |= AV_CODEC_FLAG_QSCALE;
      x.global_quality = int(c.quantqual > 0 ? c.quantqual : 100) * 6 / 5;
    }
    x.cutoff = int(std::min<unsigned long>(c.bandWidth, Rate / 2));
    av_opt_set_int(x.priv_data, "aac_tns", c.useTns ? 1 : 0, 0);
  });
}

void faacEncStruct::AddAdts(const AVPacket &p) {
  const bool adts = Config.outputFormat == ADTS_STREAM;
  std::vector<uint8_t> out(size_t(p.size) + (adts ? kAdtsHeader : 0));
  if (adts) {
    const unsigned length = unsigned(out.size());
    const unsigned rate = unsigned(RateIndex(Rate)), ch = Channels == 8 ? 7 : Channels;
    out[0] = 0xFF;
    out[1] = uint8_t(0xF0 | (Config.mpegVersion == MPEG2 ? 0x08 : 0) | 0x01);  // no CRC
    out[2] = uint8_t(((Config.aacObjectType - 1) << 6) | (rate << 2) | (ch >> 2));
    out[3] = uint8_t(((ch & 3) << 6) | (length >> 11));
    out[4] = uint8_t(length >> 3);
    out[5] = uint8_t(((length & 7) << 5) | 0x1F);  // buffer fullness 0x7FF: variable
    out[6] = 0xFC;
  }
  std::memcpy(out.data() + (adts ? kAdtsHeader : 0), p.data, size_t(p.size));
  Ready.push_back(std::move(out));
}

faacEncHandle faacEncOpen(unsigned long sampleRate, unsigned int numChannels, unsigned long *inputSamples,
                          unsigned long *maxOutputBytes) {
  if (RateIndex(sampleRate) < 0 || numChannels < 1 || numChannels > 6) return nullptr;
  auto *h = new faacEncStruct;
  h->Rate = sampleRate;
  h->Channels = numChannels;
  h->Config.bandWidth = unsigned(sampleRate / 2);
  if (!h->Open()) {
    delete h;
    return nullptr;
  }
  *inputSamples = 1024ul * numChannels;
  *maxOutputBytes = 8192ul * numChannels + kAdtsHeader;
  return h;
}

faacEncConfigurationPtr faacEncGetCurrentConfiguration(faacEncHandle h) { return &h->Config; }

int faacEncSetConfiguration(faacEncHandle h, faacEncConfigurationPtr config) {
  if (h->Started) return 0;
  if (config != &h->Config) h->Config = *config;
  return h->Open() ? 1 : 0;
}

int faacEncEncode(faacEncHandle h, int32_t *inputBuffer, unsigned int samplesInput, unsigned char *outputBuffer,
                  unsigned int bufferSize) {
  if (!h) return -1;
  AVCodecContext *context = h->Encoder.Context;
  if (!context || samplesInput % h->Channels) return -1;
  h->Started = true;
  if (samplesInput > 0 && !h->Draining) {
    const unsigned format = h->Config.inputFormat;
    for (unsigned i = 0; i < samplesInput; ++i) {
      const int32_t v = inputBuffer[i];
      float f;
      if (format == FAAC_INPUT_FLOAT)
        std::memcpy(&f, &v, sizeof f);
      else
        f = float(v) / (format == FAAC_INPUT_16BIT ? 32768.0f : 8388608.0f);
      h->Pending.push_back(f);
    }
    const size_t frame = size_t(context->frame_size) * h->Channels;
    size_t used = 0;
    for (; h->Pending.size() - used >= frame; used += frame)
      if (!h->Send(h->Pending.data() + used, context->frame_size)) return -1;
    h->Pending.erase(h->Pending.begin(), h->Pending.begin() + std::ptrdiff_t(used));
  } else if (samplesInput == 0 && !h->Draining) {
    // The end: what is short of a frame goes as a shorter last frame.
    h->Draining = true;
    if (!h->Pending.empty() && !h->Send(h->Pending.data(), int(h->Pending.size() / h->Channels))) return -1;
    h->Pending.clear();
    if (!h->Send(nullptr, 0)) return -1;
  }
  if (h->Ready.empty()) return 0;
  const std::vector<uint8_t> &next = h->Ready.front();
  if (next.size() > bufferSize) return -1;
  std::memcpy(outputBuffer, next.data(), next.size());
  const int size = int(next.size());
  h->Ready.pop_front();
  return size;
}

int faacEncClose(faacEncHandle h) {
  delete h;
  return 0;
}

int faacEncGetVersion(const char **faac_id_string, const char **faac_copyright_string) {
  static const std::string id = std::string("FFmpeg AAC encoder (") + LIBAVCODEC_IDENT;
  if (faac_id_string) *faac_id_string = id.c_str();
  if (faac_copyright_string) *faac_copyright_string = "";
  return 1;
}
