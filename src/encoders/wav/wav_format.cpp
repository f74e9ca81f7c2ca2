// SPDX-License-Identifier: GPL-3.0-or-later
#include "encoders/wav/wav_format.h"

#include "encoders/wav/wav_coder.h"

constinit const TFormatRow WAVFormat = {
    .Code = dfWAV,
    .Name = "WAV",
    .Extension = "wav",
    .Samples = {.FromFloat = 32, .From24 = 24, .Wide = TWideSamples::Packed24},
    .CreateCoder = &format_row::CreateCoder<TWAVCoder, TWAVOptions>,
    .WriteTags = &tag_writers::WAV,
    .NewOptions = &format_row::NewOptions<TWAVOptions>,
    .Lossless = &format_row::AlwaysLossless,
    // The header's channel count has 16 bits.
    .Takes = [](const void *) { return TEncoderRange{.MaxChannels = 65535}; },
};
