// SPDX-License-Identifier: GPL-3.0-or-later
#include "tags/file_bytes.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

#include "platform/file_write.h"

TagLib::ByteVector ReadWholeFile(const std::string &FileName) {
  const int fd = ::open(FileName.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) throw std::runtime_error(FileErrorText("Could not open", FileName, errno));
  TagLib::ByteVector data;
  char chunk[65536];
  ssize_t n;
  while ((n = ::read(fd, chunk, sizeof chunk)) > 0) data.append(TagLib::ByteVector(chunk, unsigned(n)));
  const int readError = errno;
  ::close(fd);
  if (n < 0) throw std::runtime_error(FileErrorText("Could not read", FileName, readError));
  return data;
}

void ReplaceFileContent(const std::string &FileName, const TagLib::ByteVector &Data, const std::string &What) {
  int error = 0;
  const int fd = ::open(FileName.c_str(), O_WRONLY | O_CLOEXEC);
  if (fd < 0) {
    error = errno;
  } else {
    if (!WriteAllAt(fd, Data.data(), Data.size(), 0) || ftruncate(fd, off_t(Data.size())) != 0) error = errno;
    if (::close(fd) != 0 && error == 0) error = errno;
  }
  if (error) throw std::runtime_error(FileErrorText("Could not write the " + What + " of", FileName, error));
}
