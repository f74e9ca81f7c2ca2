// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/name_pattern.h"

#include <fmt/printf.h>

#include <algorithm>
#include <cctype>
#include <stdexcept>
#include <vector>

#include "engine/partial_output.h"

namespace {

enum class TField { Artist, AlbumArtist, Album, Year, Track, Disc, Title, Genre, Name, Folder };

const struct {
  const char *Name;
  TField Field;
} kFields[] = {{"artist", TField::Artist}, {"albumartist", TField::AlbumArtist}, {"album", TField::Album},
               {"year", TField::Year},     {"track", TField::Track},             {"disc", TField::Disc},
               {"title", TField::Title},   {"genre", TField::Genre},             {"name", TField::Name},
               {"folder", TField::Folder}};

std::string Lower(std::string text) {
  for (char &c : text) c = char(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

bool FindField(const std::string &Name, TField &Field) {
  const std::string lower = Lower(Name);
  for (const auto &f : kFields)
    if (lower == f.Name) {
      Field = f.Field;
      return true;
    }
  return false;
}

// One piece of a pattern: literal text, or a field.
struct TPiece {
  bool IsField = false;
  TField Field = TField::Artist;
  std::string Text;
};
using TPatternPart = std::vector<TPiece>;

// The pattern's parts between "/"; false (Bad set) when a field is unknown or unclosed.
bool ParsePattern(const std::string &Pattern, std::vector<TPatternPart> &Parts, std::string &Bad) {
  Parts.assign(1, {});
  for (size_t i = 0; i < Pattern.size();) {
    const char c = Pattern[i];
    if (c == '/') {
      Parts.emplace_back();
      ++i;
    } else if (c == '<') {
      const size_t close = Pattern.find('>', i);
      const size_t nextOpen = Pattern.find('<', i + 1);
      if (close == std::string::npos || (nextOpen != std::string::npos && nextOpen < close)) {
        const size_t end = std::min({Pattern.size(), nextOpen, Pattern.find('/', i)});
        Bad = Pattern.substr(i, end - i);
        return false;
      }
      TPiece piece;
      piece.IsField = true;
      if (!FindField(Pattern.substr(i + 1, close - i - 1), piece.Field)) {
        Bad = Pattern.substr(i, close + 1 - i);
        return false;
      }
      Parts.back().push_back(piece);
      i = close + 1;
    } else {
      if (Parts.back().empty() || Parts.back().back().IsField) Parts.back().push_back({});
      Parts.back().back().Text += c;
      ++i;
    }
  }
  const bool anyField = std::any_of(Parts.begin(), Parts.end(), [](const TPatternPart &part) {
    return std::any_of(part.begin(), part.end(), [](const TPiece &p) {
      return p.IsField || p.Text.find_first_not_of(" ./") != std::string::npos;
    });
  });
  if (!anyField) {
    Bad.clear();
    return false;
  }
  return true;
}

bool Unsafe(unsigned char c) {
  return c < 0x20 || c == 0x7F || std::string_view("/\\:*?\"<>|").find(char(c)) != std::string_view::npos;
}

// Text with the characters no file system of Linux, FAT or NTFS takes made "_".
std::string SafeText(const std::string &Text) {
  std::string safe = Text;
  for (char &c : safe)
    if (Unsafe(static_cast<unsigned char>(c))) c = '_';
  return safe;
}

std::string Trimmed(const std::string &Text, const char *Chars) {
  const size_t first = Text.find_first_not_of(Chars);
  if (first == std::string::npos) return {};
  return Text.substr(first, Text.find_last_not_of(Chars) + 1 - first);
}

// A field's value made safe; "" when it says nothing (only spaces and dots).
std::string FieldValue(const std::string &Raw) {
  const std::string value = Trimmed(SafeText(Raw), " ");
  return value.find_first_not_of(". ") == std::string::npos ? std::string() : value;
}

// The number a value begins with ("3/12" for a track of twelve); -1 without one.
long LeadingNumber(const std::string &Value) {
  const std::string text = Trimmed(Value, " ");
  size_t digits = 0;
  while (digits < text.size() && digits < 9 && std::isdigit(static_cast<unsigned char>(text[digits]))) ++digits;
  return digits ? std::stol(text.substr(0, digits)) : -1;
}

std::string SourceName(const std::string &Source) { return FieldValue(GetFileNameWithoutExt(Source)); }

// The fixed words of empty fields are English in every language on purpose:
// the tree a library converts into must not move when the window's language
// changes (a second run, or skipping existing outputs, finds the same paths).
std::string Expand(TField Field, const TTagRec &Tags, const std::string &Source) {
  auto orWord = [](const std::string &value, const char *word) { return value.empty() ? std::string(word) : value; };
  switch (Field) {
    case TField::Artist: return orWord(FieldValue(Tags.Artist), "Unknown artist");
    case TField::AlbumArtist: {
      const std::string albumArtist = FieldValue(Tags.AlbumArtist);
      return albumArtist.empty() ? orWord(FieldValue(Tags.Artist), "Unknown artist") : albumArtist;
    }
    case TField::Album: return orWord(FieldValue(Tags.Album), "Unknown album");
    case TField::Year: {
      // A full date ("2019-05-01") names its year.
      const std::string year = FieldValue(Tags.Year);
      const bool dated = year.size() >= 4 && std::all_of(year.begin(), year.begin() + 4, [](char c) {
                           return std::isdigit(static_cast<unsigned char>(c));
                         });
      return dated ? year.substr(0, 4) : orWord(year, "Unknown year");
    }
    case TField::Track: {
      const long number = LeadingNumber(Tags.Track);
      if (number > 0) return fmt::sprintf("%.2d", number);
      const std::string value = FieldValue(Tags.Track);
      return value.empty() || number == 0 ? std::string("00") : value;  // "A1" of a record stays
    }
    case TField::Disc: {
      const long number = LeadingNumber(Tags.Disc);
      if (number > 0) return std::to_string(number);
      return orWord(number == 0 ? std::string() : FieldValue(Tags.Disc), "1");
    }
    case TField::Title: {
      const std::string title = FieldValue(Tags.Title);
      return title.empty() ? orWord(SourceName(Source), "Unknown title") : title;
    }
    case TField::Genre: return orWord(FieldValue(Tags.Genre), "Unknown genre");
    case TField::Name: return orWord(SourceName(Source), "Unknown name");
    case TField::Folder: {
      const size_t slash = Source.find_last_of('/');
      const size_t before = slash == std::string::npos || slash == 0 ? std::string::npos : Source.rfind('/', slash - 1);
      const std::string folder =
          before == std::string::npos ? std::string() : FieldValue(Source.substr(before + 1, slash - before - 1));
      return orWord(folder, "Unknown folder");
    }
  }
  return {};
}

// Device names FAT and NTFS keep for themselves, whatever follows a dot.
bool ReservedName(const std::string &Part) {
  const std::string stem = Lower(Trimmed(Part.substr(0, Part.find('.')), " "));
  if (stem == "con" || stem == "prn" || stem == "aux" || stem == "nul") return true;
  return stem.size() == 4 && (stem.rfind("com", 0) == 0 || stem.rfind("lpt", 0) == 0) && stem[3] >= '1' &&
         stem[3] <= '9';
}

// A part as every file system takes it: no leading dot (a hidden file, or
// "." and ".."), no trailing dot or space (FAT and NTFS drop them).
std::string SafePart(const std::string &Part) {
  std::string part = Part;
  const size_t first = part.find_first_not_of(". ");
  part = first == std::string::npos ? std::string() : part.substr(first);
  while (!part.empty() && (part.back() == '.' || part.back() == ' ')) part.pop_back();
  if (ReservedName(part)) part += '_';
  return part;
}

}  // namespace

bool CheckNamePattern(const std::string &Pattern, std::string &Bad) {
  std::vector<TPatternPart> parts;
  return ParsePattern(Pattern, parts, Bad);
}

std::string PatternPath(const std::string &Pattern, const TTagRec &Tags, const std::string &Source) {
  std::vector<TPatternPart> parts;
  std::string bad;
  if (!ParsePattern(Pattern, parts, bad)) throw std::runtime_error("Unknown field in the name pattern: " + bad);
  std::vector<std::string> made;
  for (const TPatternPart &pieces : parts) {
    std::string text;
    for (const TPiece &piece : pieces) text += piece.IsField ? Expand(piece.Field, Tags, Source) : SafeText(piece.Text);
    made.push_back(SafePart(text));
  }
  std::string name = made.back();
  made.pop_back();
  if (name.empty()) name = SafePart(Expand(TField::Name, Tags, Source));
  std::string path;
  for (const std::string &folder : made)
    if (!folder.empty()) path += FitFileName(folder, "", kFileNameMax) + "/";
  return path + name;
}
