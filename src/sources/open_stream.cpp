// SPDX-License-Identifier: GPL-3.0-or-later
#include "sources/open_stream.h"

bool HasSourceStream(const std::string &FileName) {
  return GetBASSStreamFunc(GetFileExtension(FileName)) != nullptr;
}

HSTREAM OpenSourceStream(const std::string &FileName, DWORD Flags, QWORD Length, bool Mem) {
  const TBASSStreamCreateFunc create = GetBASSStreamFunc(GetFileExtension(FileName));
  return create ? create(Mem, FileName.c_str(), 0, Length, Flags) : 0;
}
