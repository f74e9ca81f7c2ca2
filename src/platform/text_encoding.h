// SPDX-License-Identifier: GPL-3.0-or-later
// Text files whose encoding nobody states (CUE sheets, language files):
// a byte-order mark first (UTF-8, UTF-16 LE/BE), else UTF-8 when the bytes
// are valid UTF-8, else the character set uchardet recognises, else
// Windows-1252. The result is UTF-8.
#pragma once

#include <string>
#include <vector>

std::string DecodeText(const std::string &Bytes);
// Splits at CR LF, LF or CR.
std::vector<std::string> SplitLines(const std::string &Text);
bool IsValidUtf8(const std::string &Bytes);
// Converts from a character set iconv knows to UTF-8; false when it cannot.
bool ConvertToUtf8(const std::string &Bytes, const char *Charset, std::string &Out);
