// SPDX-License-Identifier: GPL-3.0-or-later
// The program's text table: every text the user reads, one variable per text
// identifier. A language file fills them (app/language_file); until then, and
// for any identifier the file lacks, they hold their English text.
#pragma once

#include <string>
#include <vector>

#include <fmt/printf.h>

#define TONMILL_TEXT(Name, English) extern std::string Name;
#include "base/texts.def"
#undef TONMILL_TEXT

// One registered text: its identifier, its variable and its English text.
struct TTextEntry {
  const char *Identifier;
  std::string *Variable;
  const char *English;
};

// Every text, in registration order.
const std::vector<TTextEntry> &TextRegistry();
// The built-in English text of a text variable ("" for any other string).
const char *EnglishText(const std::string &variable);
// Gives every text variable its English text again.
void ResetTextsToEnglish();

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
