// SPDX-License-Identifier: GPL-3.0-or-later
#include "base/texts.h"

#include <unordered_map>

#define TONMILL_TEXT(Name, English) std::string Name = English;
#include "base/texts.def"
#undef TONMILL_TEXT

const std::vector<TTextEntry> &TextRegistry() {
  static const std::vector<TTextEntry> registry = {
#define TONMILL_TEXT(Name, English) {#Name, &Name, English},
#include "base/texts.def"
#undef TONMILL_TEXT
  };
  return registry;
}

const char *EnglishText(const std::string &variable) {
  static const std::unordered_map<const std::string *, const char *> english = [] {
    std::unordered_map<const std::string *, const char *> map;
    for (const TTextEntry &e : TextRegistry()) map[e.Variable] = e.English;
    return map;
  }();
  const auto it = english.find(&variable);
  return it == english.end() ? "" : it->second;
}

void ResetTextsToEnglish() {
  for (const TTextEntry &e : TextRegistry()) *e.Variable = e.English;
}
