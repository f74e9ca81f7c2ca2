// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/text_encoding.h"

#include <iconv.h>
#include <uchardet.h>

#include <cerrno>
#include <cstring>

bool IsValidUtf8(const std::string &Bytes) {
  const auto *p = reinterpret_cast<const unsigned char *>(Bytes.data());
  const auto *end = p + Bytes.size();
  while (p < end) {
    const unsigned char c = *p;
    int length;
    if (c < 0x80) length = 1;
    else if (c >= 0xC2 && c <= 0xDF) length = 2;
    else if (c >= 0xE0 && c <= 0xEF) length = 3;
    else if (c >= 0xF0 && c <= 0xF4) length = 4;
    else return false;
    if (end - p < length) return false;
    for (int i = 1; i < length; ++i)
      if ((p[i] & 0xC0) != 0x80) return false;
    // No overlong forms, no surrogates, nothing past U+10FFFF.
    if (length == 3 && ((c == 0xE0 && p[1] < 0xA0) || (c == 0xED && p[1] >= 0xA0))) return false;
    if (length == 4 && ((c == 0xF0 && p[1] < 0x90) || (c == 0xF4 && p[1] >= 0x90))) return false;
    p += length;
  }
  return true;
}

bool ConvertToUtf8(const std::string &Bytes, const char *Charset, std::string &Out) {
  iconv_t cd = iconv_open("UTF-8", Charset);
  if (cd == iconv_t(-1)) return false;
  Out.clear();
  std::string input = Bytes;
  char *in = input.data();
  size_t inLeft = input.size();
  char buffer[4096];
  bool ok = true;
  while (inLeft > 0) {
    char *out = buffer;
    size_t outLeft = sizeof buffer;
    const size_t r = iconv(cd, &in, &inLeft, &out, &outLeft);
    Out.append(buffer, sizeof buffer - outLeft);
    if (r == size_t(-1) && errno != E2BIG) {
      ok = false;
      break;
    }
  }
  iconv_close(cd);
  return ok;
}

namespace {

// Character sets of Latin script that uchardet often mistakes for each other
// on short texts such as CUE sheets.
bool IsLatinCharset(const std::string &name) {
  return name.rfind("ISO-8859-", 0) == 0 ? name != "ISO-8859-5" && name != "ISO-8859-6" &&
                                               name != "ISO-8859-7" && name != "ISO-8859-8"
                                         : name == "WINDOWS-1250" || name == "WINDOWS-1252" ||
                                               name == "WINDOWS-1254" || name == "WINDOWS-1257";
}

// How many of the text's characters beyond ASCII are letters that European
// languages use often: the better of two readings of the same bytes.
int PlausibleLetters(const std::string &utf8) {
  static const std::u32string common =
      U"àáâäãåæçèéêëìíîïñòóôöõøùúûüýÿßÀÁÂÄÃÅÆÇÈÉÊËÌÍÎÏÑÒÓÔÖÕØÙÚÛÜÝ"
      U"čďěňřšťůžČĎĚŇŘŠŤŮŽőűŐŰłśćźżąęńŁŚĆŹŻĄĘŃ";
  int score = 0;
  const auto *p = reinterpret_cast<const unsigned char *>(utf8.data());
  const auto *end = p + utf8.size();
  while (p < end) {
    char32_t c = *p;
    int length = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
    if (end - p < length) break;
    if (length > 1) {
      c &= 0x7F >> length;
      for (int i = 1; i < length; ++i) c = (c << 6) | (p[i] & 0x3F);
      score += common.find(c) != std::u32string::npos ? 1 : -1;
    }
    p += length;
  }
  return score;
}

// Windows-1252 as Windows reads it: the five bytes it leaves undefined
// become the control characters of the same number, so every byte reads.
std::string FromWindows1252(const std::string &Bytes) {
  static const char16_t high[32] = {
      0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
      0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
      0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
  std::string out;
  out.reserve(Bytes.size());
  for (const char byte : Bytes) {
    const unsigned char b = static_cast<unsigned char>(byte);
    const char32_t c = b >= 0x80 && b < 0xA0 ? high[b - 0x80] : b;
    if (c < 0x80) {
      out += char(c);
    } else if (c < 0x800) {
      out += char(0xC0 | c >> 6);
      out += char(0x80 | (c & 0x3F));
    } else {
      out += char(0xE0 | c >> 12);
      out += char(0x80 | (c >> 6 & 0x3F));
      out += char(0x80 | (c & 0x3F));
    }
  }
  return out;
}

}  // namespace

std::string DecodeText(const std::string &Bytes) {
  std::string text;
  // A mark that the bytes after it belie is read past, as though it were not there.
  if (Bytes.compare(0, 3, "\xEF\xBB\xBF") == 0)
    return IsValidUtf8(Bytes.substr(3)) ? Bytes.substr(3) : DecodeText(Bytes.substr(3));
  if (Bytes.compare(0, 2, "\xFF\xFE") == 0 && ConvertToUtf8(Bytes.substr(2), "UTF-16LE", text)) return text;
  if (Bytes.compare(0, 2, "\xFE\xFF") == 0 && ConvertToUtf8(Bytes.substr(2), "UTF-16BE", text)) return text;
  if (IsValidUtf8(Bytes)) return Bytes;

  uchardet_t detector = uchardet_new();
  std::string charset;
  if (uchardet_handle_data(detector, Bytes.data(), Bytes.size()) == 0) {
    uchardet_data_end(detector);
    charset = uchardet_get_charset(detector);
  }
  uchardet_delete(detector);
  const std::string western = FromWindows1252(Bytes);
  if (!charset.empty() && charset != "ASCII" && ConvertToUtf8(Bytes, charset.c_str(), text) && IsValidUtf8(text)) {
    // Between two Latin readings, keep the guess unless Windows-1252 reads better.
    if (IsLatinCharset(charset) && PlausibleLetters(western) > PlausibleLetters(text)) return western;
    return text;
  }
  return western;
}

std::vector<std::string> SplitLines(const std::string &Text) {
  std::vector<std::string> lines;
  std::string line;
  for (size_t i = 0; i < Text.size(); ++i) {
    const char c = Text[i];
    if (c == '\r' || c == '\n') {
      lines.push_back(line);
      line.clear();
      if (c == '\r' && i + 1 < Text.size() && Text[i + 1] == '\n') ++i;
    } else {
      line += c;
    }
  }
  if (!line.empty()) lines.push_back(line);
  return lines;
}
