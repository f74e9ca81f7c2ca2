// SPDX-License-Identifier: GPL-3.0-or-later
#include "encoders/file_stream.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

#include "platform/file_write.h"

namespace {
// Writes of 64 to 128 KB cost the kernel least: from 256 KB on, copying
// into the page cache takes several times as long (what the cache holds).
constexpr size_t kBufferBytes = 64 * 1024;
}

TFileStream::TFileStream(const std::string &fileName) : Name(fileName) {
  // Outputs are regular files. Opening without waiting and truncating only
  // after a look at what was opened: a pipe must not hold the job up for a
  // reader, and nothing is ever written into a device.
  const int fd = ::open(fileName.c_str(), O_WRONLY | O_CREAT | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666);
  if (fd < 0 && errno != ENXIO) Fail("Cannot create file");  // ENXIO: a pipe nobody reads
  struct stat info;
  if (fd < 0 || fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    if (fd >= 0) ::close(fd);
    throw std::runtime_error("Cannot create file \"" + fileName + "\". Something that is not a regular file "
                             "(a pipe, a device) has that name.");
  }
  if (ftruncate(fd, 0) != 0 || fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0 ||
      !(File = fdopen(fd, "wb"))) {
    const int error = errno;
    ::close(fd);
    errno = error;
    Fail("Cannot create file");
  }
  // The C library takes no size from a call without a buffer: it keeps
  // its own of a disk block, and every few kilobytes become a write.
  Buffer = std::make_unique<char[]>(kBufferBytes);
  std::setvbuf(File, Buffer.get(), _IOFBF, kBufferBytes);
}

TFileStream::~TFileStream() {
  if (File) std::fclose(File);
}

void TFileStream::Fail(const char *what) {
  throw std::runtime_error(FileErrorText(what, Name, errno));
}

void TFileStream::Write(const void *data, size_t size) {
  if (size && std::fwrite(data, 1, size, File) != size) Fail("Cannot write to file");
}

void TFileStream::Flush() {
  if (std::fflush(File) != 0) Fail("Cannot write to file");
}

void TFileStream::Seek(int64_t position) {
  Flush();  // what is still buffered must reach the file; a full disk shows here
  if (fseeko(File, position, SEEK_SET) != 0) Fail("Cannot seek in file");
}

int64_t TFileStream::Position() {
  const int64_t position = ftello(File);
  if (position < 0) Fail("Cannot seek in file");
  return position;
}

int64_t TFileStream::Size() {
  const int64_t here = Position();
  Flush();
  if (fseeko(File, 0, SEEK_END) != 0) Fail("Cannot seek in file");
  const int64_t size = Position();
  Seek(here);
  return size;
}

void TFileStream::Close() {
  if (!File) return;
  const bool flushed = std::fflush(File) == 0;
  const int flushError = errno;
  const bool closed = std::fclose(File) == 0;
  File = nullptr;
  if (!flushed || !closed) {
    errno = flushed ? errno : flushError;
    Fail("Cannot write to file");
  }
}
