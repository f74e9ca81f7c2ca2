#include "tags/wma_tags.h"

#include <taglib/asffile.h>
#include <taglib/asftag.h>
#include <taglib/tbytevectorstream.h>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

#include "platform/file_write.h"

namespace {

TagLib::String Text(const std::string &utf8) { return TagLib::String(utf8, TagLib::String::UTF8); }

// The whole file, read into memory.
TagLib::ByteVector ReadAll(const std::string &FileName) {
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

// Puts `data` in place of the file's content; raises when it cannot all be written.
void WriteAll(const std::string &FileName, const TagLib::ByteVector &data) {
  int error = 0;
  const int fd = ::open(FileName.c_str(), O_WRONLY | O_CLOEXEC);
  if (fd < 0) {
    error = errno;
  } else {
    if (!WriteAllAt(fd, data.data(), data.size(), 0) || ftruncate(fd, off_t(data.size())) != 0) error = errno;
    if (::close(fd) != 0 && error == 0) error = errno;
  }
  if (error) throw std::runtime_error(FileErrorText("Could not write the attributes of", FileName, error));
}

}  // namespace

void WriteWMATags(const std::string &FileName, const TTagRec &Tags) {
  // TagLib does not report failed writes to files, so it edits a copy in
  // memory and the result is written here, where a full disk shows.
  TagLib::ByteVectorStream stream(ReadAll(FileName));
  TagLib::ASF::File file(&stream, false);
  if (!file.isValid() || !file.tag())
    throw std::runtime_error("Could not open \"" + FileName + "\" to write its attributes");
  TagLib::ASF::Tag *tag = file.tag();

  // Title, Author, Copyright and Description live in the content description object.
  tag->setTitle(Text(Tags.Title));
  tag->setArtist(Text(Tags.Artist));
  tag->setCopyright(TagLib::String());
  tag->setComment(Text(Tags.Comment));
  // The other attributes, with their values; those without one are removed.
  const std::pair<const char *, const std::string *> attributes[] = {
      {"WM/EncodedBy", nullptr}, {"WM/Genre", &Tags.Genre},      {"WM/Composer", nullptr},
      {"WM/AlbumTitle", &Tags.Album}, {"WM/Year", &Tags.Year}, {"WM/TrackNumber", &Tags.Track},
      {"WM/URL", nullptr},       {"WM/Lyrics", nullptr}};
  for (const auto &[name, value] : attributes) {
    const TagLib::String text = value ? Text(*value) : TagLib::String();
    if (text.isEmpty())
      tag->removeItem(name);
    else
      tag->setAttribute(name, TagLib::ASF::Attribute(text));
  }
  if (!file.save()) throw std::runtime_error("Could not write the attributes of \"" + FileName + "\"");
  WriteAll(FileName, *stream.data());
}
