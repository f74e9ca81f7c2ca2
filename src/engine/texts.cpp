#include "engine/texts.h"

namespace {

constexpr const char *kFailedToInitEncoder = "Failed to initialize the encoder %s";
constexpr const char *kFailedToInitBass = "Failed to start the decoder, error code %d";
constexpr const char *kGettingAudioInfoFailed = "Cannot read the audio properties, error code %d";

}  // namespace

std::string text_failed_to_init_encoder = kFailedToInitEncoder;
std::string text_failed_to_init_bass = kFailedToInitBass;
std::string text_getting_audio_info_failed = kGettingAudioInfoFailed;

const char *EnglishText(const std::string &variable) {
  if (&variable == &text_failed_to_init_encoder) return kFailedToInitEncoder;
  if (&variable == &text_failed_to_init_bass) return kFailedToInitBass;
  if (&variable == &text_getting_audio_info_failed) return kGettingAudioInfoFailed;
  return "";
}
