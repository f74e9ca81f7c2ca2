// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/file_write.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

bool WriteAllAt(int fd, const void *data, size_t size, off_t offset) {
  const char *p = static_cast<const char *>(data);
  while (size > 0) {
    const ssize_t n = pwrite(fd, p, size, offset);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = EIO;
      return false;
    }
    p += n;
    size -= size_t(n);
    offset += n;
  }
  return true;
}

namespace {
thread_local int LastError = 0;
}

int LastFileError() { return LastError; }
void ClearLastFileError() { LastError = 0; }

std::string FileErrorText(const std::string &what, const std::string &FileName, int Errno) {
  LastError = Errno;
  return what + " \"" + FileName + "\". " + std::strerror(Errno);
}
