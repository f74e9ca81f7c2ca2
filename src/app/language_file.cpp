// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/language_file.h"

#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <unordered_map>

#include "base/misc.h"
#include "base/texts.h"
#include "platform/text_encoding.h"

namespace fs = std::filesystem;

namespace {

std::string Upper(std::string text) {
  for (char &c : text) c = char(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

}  // namespace

int LanguageIndex(const std::string &Code) {
  static const std::pair<const char *, int> kCodes[] = {{"EN", 0}, {"RU", 2}, {"LV", 3}, {"CS", 4},
                                                        {"FR", 5}, {"ES", 6}, {"HU", 7}};
  for (const auto &[code, index] : kCodes)
    if (Code == code) return index;
  return 0;
}

std::string LanguageFileName(int Index) {
  switch (Index) {
    case 0: return "english.lng";
    case 2: return "russian.lng";
    case 3: return "latvian.lng";
    case 4: return "czech.lng";
    case 5: return "french.lng";
    case 6: return "spanish.lng";
    case 7: return "hungarian.lng";
    default: throw EAssertFailed("Unknown language : " + std::to_string(Index));
  }
}

std::string LanguageFolder() {
  if (const char *folder = std::getenv("TONMILL_LANG_DIR"); folder && *folder) return folder;
  std::error_code ec;
  const fs::path program = fs::read_symlink("/proc/self/exe", ec).parent_path();
  for (const fs::path &candidate : {program / "lang", program / ".." / "share" / "tonmill" / "lang"})
    if (fs::is_directory(candidate, ec)) return candidate.lexically_normal().string();
  return (program / "lang").string();
}

void LoadLanguage(int Index, const std::function<void(const std::string &)> &OnMissing) {
  LoadLanguageFile(LanguageFolder() + "/" + LanguageFileName(Index), OnMissing);
}

void LoadLanguageFile(const std::string &FileName, const std::function<void(const std::string &)> &OnMissing) {
  std::ifstream file(FileName, std::ios::binary);
  if (!file) throw std::runtime_error("Cannot open the language file \"" + FileName + "\"");
  const std::string bytes((std::istreambuf_iterator<char>(file)), {});

  // The first usable definition of each identifier.
  std::unordered_map<std::string, std::string> definitions;
  for (const std::string &line : SplitLines(DecodeText(bytes))) {
    if (line.empty() || line[0] == '#' || line[0] == ';') continue;
    const size_t equals = line.find('=');
    if (equals == std::string::npos) continue;
    std::string identifier = line.substr(0, equals);
    while (!identifier.empty() && identifier.back() == ' ') identifier.pop_back();
    size_t start = equals + 1;
    while (start < line.size() && static_cast<unsigned char>(line[start]) <= ' ') ++start;
    definitions.emplace(Upper(identifier), line.substr(start));
  }
  for (const TTextEntry &entry : TextRegistry()) {
    const auto it = definitions.find(Upper(entry.Identifier));
    if (it != definitions.end())
      *entry.Variable = it->second;
    else if (OnMissing)
      OnMissing(entry.Identifier);
  }
}
