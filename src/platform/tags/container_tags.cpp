// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/tags/container_tags.h"

extern "C" {
#include <libavformat/avformat.h>
}

TagLib::PropertyMap ContainerTags(const std::string &path) {
  TagLib::PropertyMap properties;
  AVFormatContext *format = nullptr;
  if (avformat_open_input(&format, path.c_str(), nullptr, nullptr) < 0) return properties;
  // Matroska keeps a track's own tags on its stream, the file's on the file.
  // The header has them all: no packet is read.
  const int index = av_find_best_stream(format, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
  const AVDictionary *stream = index >= 0 ? format->streams[index]->metadata : nullptr;
  // FFmpeg's common names (ID3 frames and Matroska tags are mapped to them); the
  // lookup ignores case.
  // AIFF's AUTH chunk is its artist.
  static const struct {
    const char *Key, *Property;
  } kKeys[] = {{"title", "TITLE"},     {"artist", "ARTIST"},    {"author", "ARTIST"}, {"album", "ALBUM"},
               {"date", "DATE"},       {"comment", "COMMENT"},  {"track", "TRACKNUMBER"}, {"genre", "GENRE"}};
  for (const auto &k : kKeys) {
    if (properties.contains(k.Property)) continue;
    const AVDictionaryEntry *entry = av_dict_get(format->metadata, k.Key, nullptr, 0);
    if (!entry && stream) entry = av_dict_get(stream, k.Key, nullptr, 0);
    if (entry && *entry->value) properties.insert(k.Property, TagLib::StringList(TagLib::String(entry->value, TagLib::String::UTF8)));
  }
  avformat_close_input(&format);
  return properties;
}
