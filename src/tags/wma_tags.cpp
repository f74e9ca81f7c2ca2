// SPDX-License-Identifier: GPL-3.0-or-later
#include "tags/wma_tags.h"

#include <taglib/asffile.h>
#include <taglib/asftag.h>
#include <taglib/tbytevectorstream.h>

#include <stdexcept>

#include "tags/file_bytes.h"

namespace {

TagLib::String Text(const std::string &utf8) { return TagLib::String(utf8, TagLib::String::UTF8); }

}  // namespace

void WriteWMATags(const std::string &FileName, const TTagRec &Tags) {
  TagLib::ByteVectorStream stream(ReadWholeFile(FileName));
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
  ReplaceFileContent(FileName, *stream.data(), "attributes");
}
