// SPDX-License-Identifier: GPL-3.0-or-later
#include "encoders/opus/opus_lib.h"

#include <opus/opus.h>
#include <opus/opusenc.h>

#include <stdexcept>

TOpus_Coder::TOpus_Coder() : Comments(ope_comments_create()) {
  if (!Comments) throw std::bad_alloc();
}

TOpus_Coder::~TOpus_Coder() {
  if (Encoder) ope_encoder_destroy(Encoder);
  ope_comments_destroy(Comments);
}

void TOpus_Coder::AddComment(const char *Name, const std::string &Value) {
  Check(ope_comments_add(Comments, Name, Value.c_str()), "ope_comments_add");
}

int TOpus_Coder::Write(void *User, const unsigned char *Data, int32_t Size) {
  auto *self = static_cast<TOpus_Coder *>(User);
  if (self->WriteFailure) return 1;
  try {  // nothing may be thrown through the library
    self->Output->Write(Data, size_t(Size));
    return 0;
  } catch (...) {
    self->WriteFailure = std::current_exception();
    return 1;
  }
}

// The output is closed by its owner, after End.
int TOpus_Coder::Close(void *) { return 0; }

void TOpus_Coder::Check(int Code, const char *Why) {
  if (WriteFailure) std::rethrow_exception(WriteFailure);
  if (Code != OPE_OK) throw std::runtime_error(std::string(Why) + " : " + ope_strerror(Code));
}

void TOpus_Coder::Start() {
  const OpusEncCallbacks callbacks = {&Write, &Close};
  int error = OPE_OK;
  // Family 0 holds one or two channels, family 1 the Vorbis order up to eight.
  Encoder = ope_encoder_create_callbacks(&callbacks, this, Comments, Rate, Channels, Channels > 2 ? 1 : 0, &error);
  Check(Encoder ? error : (error == OPE_OK ? OPE_ALLOC_FAIL : error), "ope_encoder_create_callbacks");
  // A fixed stream serial, as our Vorbis outputs have: the same source gives the same file.
  Check(ope_encoder_ctl(Encoder, OPE_SET_SERIALNO(0)), "OPE_SET_SERIALNO");
  Check(ope_encoder_ctl(Encoder, OPUS_SET_APPLICATION(Voice ? OPUS_APPLICATION_VOIP : OPUS_APPLICATION_AUDIO)),
        "OPUS_SET_APPLICATION");
  Check(ope_encoder_ctl(Encoder, OPUS_SET_BITRATE(Bitrate)), "OPUS_SET_BITRATE");
  Check(ope_encoder_ctl(Encoder, OPUS_SET_VBR(Vbr ? 1 : 0)), "OPUS_SET_VBR");
  Check(ope_encoder_ctl(Encoder, OPUS_SET_VBR_CONSTRAINT(Constrained ? 1 : 0)), "OPUS_SET_VBR_CONSTRAINT");
  Check(ope_encoder_ctl(Encoder, OPUS_SET_COMPLEXITY(Complexity)), "OPUS_SET_COMPLEXITY");
  int duration = OPUS_FRAMESIZE_20_MS;
  switch (FrameSize) {
    case 25: duration = OPUS_FRAMESIZE_2_5_MS; break;
    case 50: duration = OPUS_FRAMESIZE_5_MS; break;
    case 100: duration = OPUS_FRAMESIZE_10_MS; break;
    case 400: duration = OPUS_FRAMESIZE_40_MS; break;
    case 600: duration = OPUS_FRAMESIZE_60_MS; break;
    default: break;
  }
  Check(ope_encoder_ctl(Encoder, OPUS_SET_EXPERT_FRAME_DURATION(duration)), "OPUS_SET_EXPERT_FRAME_DURATION");
}

void TOpus_Coder::Encode(const float *Samples, int Frames) {
  Check(ope_encoder_write_float(Encoder, Samples, Frames), "ope_encoder_write_float");
}

void TOpus_Coder::End() {
  if (!Encoder) return;
  const int code = ope_encoder_drain(Encoder);
  ope_encoder_destroy(Encoder);
  Encoder = nullptr;
  Check(code, "ope_encoder_drain");
}

TCoderVersionRec TOpus_Coder::Version() {
  return {std::string(ope_get_version_string()) + " (" + opus_get_version_string() + ")", 0, 0,
          "libopusenc.so.0, libopus.so.0"};
}
