// SPDX-License-Identifier: GPL-3.0-or-later
// A whole output file read into memory and written back. TagLib does not
// report failed writes to files, so the WMA attribute writer edits a copy in
// memory and writes the result here, where a full disk shows.
#pragma once

#include <taglib/tbytevector.h>

#include <string>

// The whole file; raises when it cannot be opened or read.
TagLib::ByteVector ReadWholeFile(const std::string &FileName);
// Puts Data in place of the file's content (same file, so a lock held on it
// stays); raises "Could not write the <What> of ..." when it cannot all be written.
void ReplaceFileContent(const std::string &FileName, const TagLib::ByteVector &Data, const std::string &What);
