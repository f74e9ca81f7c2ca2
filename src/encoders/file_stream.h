// SPDX-License-Identifier: GPL-3.0-or-later
// A file opened for writing, buffered, that raises on every failure: an
// output that could not be written completely must never pass for a good one.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

class TFileStream {
 public:
  // Creates (or replaces) the file; raises when it cannot.
  explicit TFileStream(const std::string &fileName);
  ~TFileStream();  // closes without reporting; call Close to learn of failures
  TFileStream(const TFileStream &) = delete;
  TFileStream &operator=(const TFileStream &) = delete;

  void Write(const void *data, size_t size);
  // Writes out what is buffered first.
  void Seek(int64_t position);
  int64_t Position();
  int64_t Size();
  // Writes out everything buffered and closes; raises on failure (disk full).
  void Close();

 private:
  [[noreturn]] void Fail(const char *what);
  void Flush();
  std::string Name;
  std::unique_ptr<char[]> Buffer;  // the FILE's, freed after the destructor closes it
  std::FILE *File = nullptr;
};
