// The texts the user reads, one variable per text identifier. The language
// file fills them; until then (and whenever a language file lacks one) they
// hold their English text.
#pragma once

#include <string>

#include <fmt/printf.h>

extern std::string text_failed_to_init_encoder;     // %s: the encoder and its error
extern std::string text_failed_to_init_bass;        // %d: the decoder's error code
extern std::string text_getting_audio_info_failed;  // %d: the decoder's error code

// The built-in English text of a text variable ("" for any other string).
const char *EnglishText(const std::string &variable);

// Formats a text variable printf-style. Language files are user data: when the
// text's placeholders do not fit the arguments, the English text is used.
template <typename... Args>
std::string FormatText(const std::string &text, const Args &...args) {
  try {
    return fmt::sprintf(text, args...);
  } catch (const fmt::format_error &) {
    try {
      return fmt::sprintf(EnglishText(text), args...);
    } catch (const fmt::format_error &) {
      return text;
    }
  }
}
