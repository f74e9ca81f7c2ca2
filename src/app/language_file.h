// SPDX-License-Identifier: GPL-3.0-or-later
// Language files: identifier=text lines that fill the program's text table (base/texts).
// Identifiers compare without regard to case, the first definition wins,
// lines starting with "#" or ";" are comments.
#pragma once

#include <functional>
#include <string>
#include <vector>

// The language index of a two-letter code ("EN" 0, "RU" 2, "LV" 3, "CS" 4,
// "FR" 5, "ES" 6, "HU" 7); any other code is English.
int LanguageIndex(const std::string &Code);
// The file of a language index, relative to the language folder.
std::string LanguageFileName(int Index);
// The folder of the language files: $TONMILL_LANG_DIR when set, else "lang"
// beside the program, else the installed "../share/tonmill/lang".
std::string LanguageFolder();

// Fills every text variable from the language file of Index. A text the file
// lacks keeps its previous value and is reported through OnMissing (its
// identifier). Raises when the file cannot be read or the index is unknown.
void LoadLanguage(int Index, const std::function<void(const std::string &)> &OnMissing);
// The same from a given file.
void LoadLanguageFile(const std::string &FileName, const std::function<void(const std::string &)> &OnMissing);
