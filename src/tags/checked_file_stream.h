// SPDX-License-Identifier: GPL-3.0-or-later
// A file TagLib edits in place, through which every failed read or write is
// kept: TagLib does not report them, and a tag cut short by a full disk must
// fail the job, not pass for a tagged file. Moving the audio to make room is
// done in blocks, so an output of any length costs little memory.
#pragma once

#include <taglib/tiostream.h>

#include <string>

class TCheckedFileStream : public TagLib::IOStream {
 public:
  // Opens the file for reading and writing; raises when it cannot.
  explicit TCheckedFileStream(const std::string &FileName);
  ~TCheckedFileStream() override;
  TCheckedFileStream(const TCheckedFileStream &) = delete;
  TCheckedFileStream &operator=(const TCheckedFileStream &) = delete;

  // Closes the file; raises "Could not write the tags of ..." with the reason
  // of the first failure, if any.
  void Close();

  TagLib::FileName name() const override { return Name.c_str(); }
  TagLib::ByteVector readBlock(unsigned long length) override;
  void writeBlock(const TagLib::ByteVector &data) override;
  void insert(const TagLib::ByteVector &data, unsigned long start = 0, unsigned long replace = 0) override;
  void removeBlock(unsigned long start = 0, unsigned long length = 0) override;
  bool readOnly() const override { return false; }
  bool isOpen() const override { return Fd >= 0; }
  void seek(long offset, Position p = Beginning) override;
  long tell() const override { return Offset; }
  long length() override;
  void truncate(long length) override;

 private:
  void Failed(int Errno);
  // Moves the bytes from From to the end by Shift (either way), in blocks.
  void MoveTail(long From, long Shift);
  std::string Name;
  int Fd = -1;
  long Offset = 0;
  int Error = 0;  // the first failure's errno
};
