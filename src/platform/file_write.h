// SPDX-License-Identifier: GPL-3.0-or-later
// Writing whole blocks into files, and saying plainly why a write failed.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <string>

// Writes all `size` bytes at `offset`, going on after partial writes; false
// with errno set when the file cannot take them (disk full, file too large).
bool WriteAllAt(int fd, const void *data, size_t size, off_t offset);

// `what` "<file name>". <the system's words for Errno>, for example:
// Cannot write to file "/music/a.mp3". No space left on device
// Errno is kept for LastFileError.
std::string FileErrorText(const std::string &what, const std::string &FileName, int Errno);

// The Errno of this thread's last FileErrorText; 0 when there was none. A
// failure's report tells by it why the file could not be written.
int LastFileError();
void ClearLastFileError();
