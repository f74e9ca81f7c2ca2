// SPDX-License-Identifier: GPL-3.0-or-later
#include "encoders/alac/alac_format.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include "encoders/alac/alac_encoder.h"

namespace {

std::string VersionOf(unsigned Version) {
  return std::to_string(AV_VERSION_MAJOR(Version)) + "." + std::to_string(AV_VERSION_MINOR(Version)) + "." +
         std::to_string(AV_VERSION_MICRO(Version));
}

// The encoder's library, then the muxer's.
TCoderVersionRec Version() {
  const unsigned v = avcodec_version();
  return {VersionOf(v) + " (alac), libavformat " + VersionOf(avformat_version()) + " (ipod)",
          int32_t(AV_VERSION_MAJOR(v)), int32_t(AV_VERSION_MINOR(v)), "libavcodec"};
}

}  // namespace

constinit const TFormatRow ALACFormat = {
    .Code = dfALAC,
    .Name = "ALAC",
    .Extension = "m4a",
    .Samples = {.FromFloat = 16, .From24 = 24, .Wide = TWideSamples::Packed24},
    .CreateCoder = &format_row::CreateCoder<TALACCoder, TALACOptions>,
    .WriteTags = &tag_writers::MP4,
    .Version = &Version,
    .NewOptions = &format_row::NewOptions<TALACOptions>,
    .Lossless = &format_row::AlwaysLossless,
    .Takes = [](const void *) { return TEncoderRange{.MaxChannels = 8}; },
};
