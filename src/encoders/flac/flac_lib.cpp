// SPDX-License-Identifier: GPL-3.0-or-later
#include "encoders/flac/flac_lib.h"

#include <FLAC/stream_encoder.h>
#include <fmt/printf.h>

#include <stdexcept>

// Exported by libFLAC (its flac tool turns the sum off with it), though the
// public header leaves it out.
extern "C" FLAC_API FLAC__bool FLAC__stream_encoder_set_do_md5(FLAC__StreamEncoder *encoder, FLAC__bool value);

namespace {

// Whether the library, left in its streamable subset, takes these settings.
// Block size 0 is the library's own choice, which always is.
bool InStreamableSubset(unsigned BlockSize, unsigned Rate, int Bits, unsigned MaxLpcOrder,
                        unsigned MaxPartitionOrder) {
  if (BlockSize != 0 && !FLAC__format_blocksize_is_subset(BlockSize, Rate)) return false;
  if (Rate <= 48000 && MaxLpcOrder > FLAC__SUBSET_MAX_LPC_ORDER_48000HZ) return false;
  return FLAC__format_sample_rate_is_subset(Rate) && Bits % 4 == 0 && Bits >= 8 && Bits <= 24 &&
         MaxPartitionOrder <= FLAC__SUBSET_MAX_RICE_PARTITION_ORDER;
}

}  // namespace

struct TFLACCallbacks {
  static FLAC__StreamEncoderWriteStatus Write(const FLAC__StreamEncoder *, const FLAC__byte buffer[],
                                              size_t bytes, unsigned samples, unsigned, void *client) {
    auto *coder = static_cast<TFLAC_Coder *>(client);
    try {
      coder->Output->Write(buffer, bytes, samples);
      return FLAC__STREAM_ENCODER_WRITE_STATUS_OK;
    } catch (const std::exception &e) {
      coder->Failed(e);
      return FLAC__STREAM_ENCODER_WRITE_STATUS_FATAL_ERROR;
    }
  }

  // The whole 64-bit offset: outputs pass 4 GiB.
  static FLAC__StreamEncoderSeekStatus Seek(const FLAC__StreamEncoder *, FLAC__uint64 offset,
                                            void *client) {
    try {
      static_cast<TFLAC_Coder *>(client)->Output->Seek(int64_t(offset));
      return FLAC__STREAM_ENCODER_SEEK_STATUS_OK;
    } catch (const std::exception &e) {
      static_cast<TFLAC_Coder *>(client)->Failed(e);
      return FLAC__STREAM_ENCODER_SEEK_STATUS_ERROR;
    }
  }

  static FLAC__StreamEncoderTellStatus Tell(const FLAC__StreamEncoder *, FLAC__uint64 *offset,
                                            void *client) {
    try {
      *offset = FLAC__uint64(static_cast<TFLAC_Coder *>(client)->Output->Position());
      return FLAC__STREAM_ENCODER_TELL_STATUS_OK;
    } catch (const std::exception &e) {
      static_cast<TFLAC_Coder *>(client)->Failed(e);
      return FLAC__STREAM_ENCODER_TELL_STATUS_ERROR;
    }
  }
};

TFLAC_Coder::~TFLAC_Coder() {
  if (Encoder) FLAC__stream_encoder_delete(Encoder);
}

void TFLAC_Coder::Start() {
  try {
    const TAudioInfoRec &s = AudioInfo.Streams.at(size_t(AudioInfo.Index));
    BitsPerSample = s.BitsPerSample;
    Channels = s.Channels;
    Step = "001";
    Encoder = FLAC__stream_encoder_new();
    if (!Encoder) throw std::runtime_error("Failed to initialize FLAC encoder.");
    Step = "002";
    FLAC__stream_encoder_set_verify(Encoder, Verify);
    if (!SumSamples) FLAC__stream_encoder_set_do_md5(Encoder, false);
    Step = "003";
    FLAC__stream_encoder_set_channels(Encoder, unsigned(Channels));
    Step = "004";
    FLAC__stream_encoder_set_bits_per_sample(Encoder, unsigned(BitsPerSample));
    Step = "005";
    FLAC__stream_encoder_set_sample_rate(Encoder, unsigned(s.SampleRate));
    Step = "006";
    if (Channels == 2) {
      FLAC__stream_encoder_set_do_mid_side_stereo(Encoder, MidSide);
      FLAC__stream_encoder_set_loose_mid_side_stereo(Encoder, LooseMidSide);
    }
    Step = "007";
    FLAC__stream_encoder_set_blocksize(Encoder, BlockSize);
    Step = "008";
    FLAC__stream_encoder_set_max_lpc_order(Encoder, MaxLpcOrder);
    if (BitsPerSample + QlpCoeffPrecision > 31) QlpCoeffPrecision = uint16_t(31 - BitsPerSample);
    Step = "009";
    FLAC__stream_encoder_set_qlp_coeff_precision(Encoder, QlpCoeffPrecision);
    Step = "010";
    FLAC__stream_encoder_set_do_qlp_coeff_prec_search(Encoder, QlpCoeffPrecSearch);
    Step = "011";
    FLAC__stream_encoder_set_min_residual_partition_order(Encoder, MinResidualPartitionOrder);
    Step = "012";
    FLAC__stream_encoder_set_max_residual_partition_order(Encoder, MaxResidualPartitionOrder);
    Step = "013";
    FLAC__stream_encoder_set_do_exhaustive_model_search(Encoder, ExhaustiveModelSearch);
    // Larger blocks, higher orders or an odd rate leave the subset; the library
    // then refuses to start unless told to leave it too. Such streams are
    // valid FLAC, decoded by every full decoder.
    FLAC__stream_encoder_set_streamable_subset(
        Encoder, InStreamableSubset(BlockSize, unsigned(s.SampleRate), BitsPerSample, MaxLpcOrder,
                                    MaxResidualPartitionOrder));
    Step = "014";
    const FLAC__StreamEncoderInitStatus status = FLAC__stream_encoder_init_stream(
        Encoder, TFLACCallbacks::Write, TFLACCallbacks::Seek, TFLACCallbacks::Tell, nullptr, this);
    if (status != FLAC__STREAM_ENCODER_INIT_STATUS_OK)
      throw std::runtime_error(fmt::sprintf("Failed to initialize FLAC encoder. Code=%d", int(status)));
    Step = "015";
  } catch (const std::exception &e) {
    throw std::runtime_error(fmt::sprintf("%s, step=%s", e.what(), Step));
  }
}

void TFLAC_Coder::Encode(const uint8_t *Buffer, int Size) {
  if (Size <= 0) return;
  const size_t count = size_t(Size) * 8 / size_t(BitsPerSample);
  if (Samples.size() < count) Samples.resize(count);
  int32_t *out = Samples.data();
  if (BitsPerSample == 16) {
    const auto *in = reinterpret_cast<const int16_t *>(Buffer);
    for (size_t i = 0; i < count; ++i) out[i] = in[i];
  } else if (BitsPerSample == 8) {
    for (size_t i = 0; i < count; ++i) out[i] = int32_t(Buffer[i]) - 128;
  } else {
    for (size_t i = 0; i < count; ++i, Buffer += 3)
      out[i] = int32_t(uint32_t(Buffer[0]) << 8 | uint32_t(Buffer[1]) << 16 | uint32_t(Buffer[2]) << 24) >> 8;
  }
  if (!FLAC__stream_encoder_process_interleaved(Encoder, out, unsigned(count / size_t(Channels))))
    throw std::runtime_error(FailureText());
}

bool TFLAC_Coder::Finish() {
  if (!Encoder) return true;
  const bool finished = FLAC__stream_encoder_finish(Encoder);
  FLAC__stream_encoder_delete(Encoder);
  Encoder = nullptr;
  return finished && OutputError.empty();
}

void TFLAC_Coder::Failed(const std::exception &e) {
  if (OutputError.empty()) OutputError = e.what();
}

std::string TFLAC_Coder::FailureText() const {
  return OutputError.empty() ? "Failed to encode data." : "Failed to encode data. " + OutputError;
}
