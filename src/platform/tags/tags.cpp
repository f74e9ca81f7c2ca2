// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/tags/tags.h"

#include <taglib/fileref.h>
#include <taglib/tpropertymap.h>

#include <cstring>
#include <string>

#include "platform/tags/container_tags.h"

namespace {

// Reading a file's tags once serves the seven calls that usually follow.
struct TTagCache {
  DWORD Handle = 0;
  TagLib::PropertyMap Properties;
  std::string Text;
};
thread_local TTagCache Cache;

const char *PropertyOf(const char *format) {
  static const struct {
    const char *Key, *Property;
  } kKeys[] = {{"%TITL", "TITLE"},   {"%ARTI", "ARTIST"},      {"%ALBM", "ALBUM"},
               {"%YEAR", "DATE"},    {"%CMNT", "COMMENT"},     {"%TRCK", "TRACKNUMBER"},
               {"%GNRE", "GENRE"},   {"%AART", "ALBUMARTIST"}, {"%DISC", "DISCNUMBER"}};
  for (const auto &k : kKeys)
    if (std::strcmp(format, k.Key) == 0) return k.Property;
  return nullptr;
}

}  // namespace

const char *TAGS_Read(DWORD handle, const char *format) {
  Cache.Text.clear();
  BASS_CHANNELINFO info;
  const char *property = format ? PropertyOf(format) : nullptr;
  if (!property || !BASS_ChannelGetInfo(handle, &info) || !info.filename) return "";
  if (Cache.Handle != handle) {
    Cache.Handle = handle;
    Cache.Properties = TagLib::PropertyMap();
    TagLib::FileRef file(info.filename, false);
    if (!file.isNull()) Cache.Properties = file.file()->properties();
    if (Cache.Properties.isEmpty()) Cache.Properties = ContainerTags(info.filename);
  }
  const auto it = Cache.Properties.find(property);
  if (it != Cache.Properties.end() && !it->second.isEmpty())
    Cache.Text = it->second.front().to8Bit(true);
  return Cache.Text.c_str();
}
