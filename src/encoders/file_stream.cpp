#include "encoders/file_stream.h"

#include <cerrno>
#include <stdexcept>

#include "platform/file_write.h"

namespace {
constexpr size_t kBufferBytes = 256 * 1024;
}

TFileStream::TFileStream(const std::string &fileName) : Name(fileName) {
  File = std::fopen(fileName.c_str(), "wb");
  if (!File)
    throw std::runtime_error(FileErrorText("Cannot create file", fileName, errno));
  std::setvbuf(File, nullptr, _IOFBF, kBufferBytes);
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
