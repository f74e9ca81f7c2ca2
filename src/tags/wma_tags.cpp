#include "tags/wma_tags.h"

#include <taglib/asffile.h>
#include <taglib/asftag.h>

#include <stdexcept>

namespace {

TagLib::String Text(const std::string &utf8) { return TagLib::String(utf8, TagLib::String::UTF8); }

}  // namespace

void WriteWMATags(const std::string &FileName, const TTagRec &Tags) {
  TagLib::ASF::File file(FileName.c_str(), false);
  if (!file.isValid() || !file.tag())
    throw std::runtime_error("Could not open \"" + FileName + "\" to write its attributes");
  TagLib::ASF::Tag *tag = file.tag();

  // Attributes in the order they are processed, with their values.
  const std::pair<const char *, const std::string *> attributes[] = {
      {"WM/EncodedBy", nullptr},   {"WM/Genre", &Tags.Genre},  {"Author", &Tags.Artist},
      {"WM/Composer", nullptr},    {"Title", &Tags.Title},     {"WM/AlbumTitle", &Tags.Album},
      {"WM/Year", &Tags.Year},     {"WM/TrackNumber", &Tags.Track}, {"WM/URL", nullptr},
      {"Copyright", nullptr},      {"Description", &Tags.Comment}, {"WM/Lyrics", nullptr}};
  for (const auto &[name, value] : attributes) {
    const TagLib::String text = value ? Text(*value) : TagLib::String();
    // Title, Author, Copyright and Description live in the content description object.
    const std::string attribute = name;
    if (attribute == "Title") {
      tag->setTitle(text);
    } else if (attribute == "Author") {
      tag->setArtist(text);
    } else if (attribute == "Copyright") {
      tag->setCopyright(text);
    } else if (attribute == "Description") {
      tag->setComment(text);
    } else if (text.isEmpty()) {
      tag->removeItem(name);
    } else {
      tag->setAttribute(name, TagLib::ASF::Attribute(text));
    }
  }
  if (!file.save()) throw std::runtime_error("Could not write the attributes of \"" + FileName + "\"");
}
