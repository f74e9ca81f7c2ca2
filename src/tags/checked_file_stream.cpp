// SPDX-License-Identifier: GPL-3.0-or-later
#include "tags/checked_file_stream.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <stdexcept>
#include <vector>

#include "platform/file_write.h"

namespace {
constexpr long kBlock = 1 << 20;
}

TCheckedFileStream::TCheckedFileStream(const std::string &FileName) : Name(FileName) {
  Fd = ::open(FileName.c_str(), O_RDWR | O_CLOEXEC);
  if (Fd < 0) throw std::runtime_error(FileErrorText("Could not open", FileName, errno));
}

TCheckedFileStream::~TCheckedFileStream() {
  if (Fd >= 0) ::close(Fd);
}

void TCheckedFileStream::Close() {
  if (Fd >= 0 && ::close(Fd) != 0) Failed(errno);
  Fd = -1;
  if (Error) throw std::runtime_error(FileErrorText("Could not write the tags of", Name, Error));
}

void TCheckedFileStream::Failed(int Errno) {
  if (!Error) Error = Errno ? Errno : EIO;
}

TagLib::ByteVector TCheckedFileStream::readBlock(unsigned long length) {
  TagLib::ByteVector data(unsigned(length), 0);
  size_t got = 0;
  while (got < length) {
    const ssize_t n = ::pread(Fd, data.data() + got, length - got, Offset + long(got));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) Failed(errno);
    if (n <= 0) break;
    got += size_t(n);
  }
  data.resize(unsigned(got));
  Offset += long(got);
  return data;
}

void TCheckedFileStream::writeBlock(const TagLib::ByteVector &data) {
  if (!WriteAllAt(Fd, data.data(), data.size(), Offset)) Failed(errno);
  Offset += long(data.size());
}

void TCheckedFileStream::MoveTail(long From, long Shift) {
  const long end = length();
  std::vector<char> block(size_t(std::min(kBlock, std::max(1L, end - From))));
  // Growing, the last block moves first; shrinking, the first.
  for (long done = 0; done < end - From && !Error;) {
    const long n = std::min(long(block.size()), end - From - done);
    const long at = Shift > 0 ? end - done - n : From + done;
    if (::pread(Fd, block.data(), size_t(n), at) != n) {
      Failed(errno);
      break;
    }
    if (!WriteAllAt(Fd, block.data(), size_t(n), at + Shift)) Failed(errno);
    done += n;
  }
}

void TCheckedFileStream::insert(const TagLib::ByteVector &data, unsigned long start, unsigned long replace) {
  const long grow = long(data.size()) - long(replace);
  if (grow > 0) MoveTail(long(start + replace), grow);
  if (grow < 0) removeBlock(start + data.size(), static_cast<unsigned long>(-grow));
  Offset = long(start);
  writeBlock(data);
}

void TCheckedFileStream::removeBlock(unsigned long start, unsigned long length) {
  const long end = this->length();
  MoveTail(long(start + length), -long(length));
  truncate(end - long(length));
  Offset = long(start);
}

void TCheckedFileStream::seek(long offset, Position p) {
  if (p == Current) offset += Offset;
  if (p == End) offset += length();
  Offset = std::max(0L, offset);
}

long TCheckedFileStream::length() {
  struct stat s;
  if (fstat(Fd, &s) != 0) {
    Failed(errno);
    return 0;
  }
  return long(s.st_size);
}

void TCheckedFileStream::truncate(long length) {
  if (ftruncate(Fd, std::max(0L, length)) != 0) Failed(errno);
}
