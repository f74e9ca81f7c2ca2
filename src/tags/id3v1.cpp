// SPDX-License-Identifier: GPL-3.0-or-later
#include "tags/id3v1.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <strings.h>

#include "platform/file_write.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cctype>
#include <cstring>

namespace {

const char *const kGenres[ID3v1GenreCount] = {
    "Blues", "Classic Rock", "Country", "Dance", "Disco", "Funk", "Grunge", "Hip-Hop", "Jazz",
    "Metal", "New Age", "Oldies", "Other", "Pop", "R&B", "Rap", "Reggae", "Rock", "Techno",
    "Industrial", "Alternative", "Ska", "Death Metal", "Pranks", "Soundtrack", "Euro-Techno",
    "Ambient", "Trip-Hop", "Vocal", "Jazz+Funk", "Fusion", "Trance", "Classical", "Instrumental",
    "Acid", "House", "Game", "Sound Clip", "Gospel", "Noise", "AlternRock", "Bass", "Soul", "Punk",
    "Space", "Meditative", "Instrumental Pop", "Instrumental Rock", "Ethnic", "Gothic", "Darkwave",
    "Techno-Industrial", "Electronic", "Pop-Folk", "Eurodance", "Dream", "Southern Rock", "Comedy",
    "Cult", "Gangsta", "Top 40", "Christian Rap", "Pop/Funk", "Jungle", "Native American",
    "Cabaret", "New Wave", "Psychedelic", "Rave", "Showtunes", "Trailer", "Lo-Fi", "Tribal",
    "Acid Punk", "Acid Jazz", "Polka", "Retro", "Musical", "Rock & Roll", "Hard Rock", "Folk",
    "Folk-Rock", "National Folk", "Swing", "Fast Fusion", "Bebob", "Latin", "Revival", "Celtic",
    "Bluegrass", "Avantgarde", "Gothic Rock", "Progressive Rock", "Psychedelic Rock",
    "Symphonic Rock", "Slow Rock", "Big Band", "Chorus", "Easy Listening", "Acoustic", "Humour",
    "Speech", "Chanson", "Opera", "Chamber Music", "Sonata", "Symphony", "Booty Bass", "Primus",
    "Porn Groove", "Satire", "Slow Jam", "Club", "Tango", "Samba", "Folklore", "Ballad",
    "Power Ballad", "Rhythmic Soul", "Freestyle", "Duet", "Punk Rock", "Drum Solo", "A capella",
    "Euro-House", "Dance Hall", "Goa", "Drum & Bass", "Club-House", "Hardcore", "Terror", "Indie",
    "BritPop", "Negerpunk", "Polsk Punk", "Beat", "Christian Gangsta Rap", "Heavy Metal",
    "Black Metal", "Crossover", "Contemporary Christian", "Christian Rock", "Merengue", "Salsa",
    "Trash Metal", "Anime", "JPop", "SynthPop"};

constexpr size_t kBlockSize = 128;

void PutField(std::string &block, size_t offset, size_t width, const std::string &text) {
  std::memcpy(&block[offset], text.data(), std::min(width, text.size()));
}

std::string GetField(const char *data, size_t width) {
  return std::string(data, strnlen(data, width));
}

}  // namespace

const char *ID3v1GenreName(int Number) {
  return Number >= 0 && Number < ID3v1GenreCount ? kGenres[Number] : "";
}

int ID3v1GenreNumber(const std::string &Name) {
  // The names are ASCII, so an ASCII comparison without regard to case serves.
  const char *name = strcasecmp(Name.c_str(), "psychadelic") == 0 ? "Psychedelic" : Name.c_str();
  for (int i = 0; i < ID3v1GenreCount; ++i)
    if (strcasecmp(name, kGenres[i]) == 0) return i;
  return 255;
}

std::string ToLatin1(const std::string &Utf8) {
  std::string out;
  const auto *p = reinterpret_cast<const unsigned char *>(Utf8.data());
  const auto *end = p + Utf8.size();
  while (p < end) {
    const unsigned char lead = *p;
    const int length = lead < 0x80 ? 1 : (lead >> 5) == 6 ? 2 : (lead >> 4) == 14 ? 3 : (lead >> 3) == 30 ? 4 : 0;
    if (length == 0 || end - p < length) {  // not UTF-8: one unknown character
      out += '?';
      ++p;
      continue;
    }
    char32_t c = length == 1 ? lead : lead & (0x7F >> length);
    bool valid = true;
    for (int i = 1; i < length; ++i) {
      valid &= (p[i] & 0xC0) == 0x80;
      c = (c << 6) | (p[i] & 0x3F);
    }
    out += valid && c <= 0xFF ? char(c) : '?';
    p += valid ? length : 1;
  }
  return out;
}

namespace {

// A whole decimal number, as the track field must be; false otherwise.
bool ParseInteger(const std::string &text, long &value) {
  if (text.empty()) return false;
  char *end = nullptr;
  value = std::strtol(text.c_str(), &end, 10);
  return *end == '\0' && !std::isspace(static_cast<unsigned char>(text[0]));
}

}  // namespace

void TJvID3v1::SetActive(bool Active) {
  IsActive = Active;
  if (!Active) return;
  SongName.clear(), Artist.clear(), Album.clear(), Year.clear(), Comment.clear();
  Genre = 255;
  AlbumTrack = 0;
  const int fd = ::open(FileName.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return;
  char block[kBlockSize];
  const off_t size = lseek(fd, 0, SEEK_END);
  const bool read = size >= off_t(kBlockSize) &&
                    pread(fd, block, kBlockSize, size - off_t(kBlockSize)) == ssize_t(kBlockSize);
  ::close(fd);
  if (!read || std::memcmp(block, "TAG", 3) != 0) return;
  SongName = GetField(block + 3, 30);
  Artist = GetField(block + 33, 30);
  Album = GetField(block + 63, 30);
  Year = GetField(block + 93, 4);
  const bool hasTrack = block[125] == 0;
  Comment = GetField(block + 97, hasTrack ? 28 : 30);
  AlbumTrack = hasTrack ? uint8_t(block[126]) : 0;
  Genre = uint8_t(block[127]);
}

std::string TJvID3v1::Block() const {
  std::string block(kBlockSize, '\0');
  PutField(block, 0, 3, "TAG");
  PutField(block, 3, 30, SongName);
  PutField(block, 33, 30, Artist);
  PutField(block, 63, 30, Album);
  PutField(block, 93, 4, Year);
  PutField(block, 97, 30, Comment);
  if (block[125] == 0) block[126] = char(AlbumTrack);  // room for the track number
  block[127] = char(Genre);
  return block;
}

bool TJvID3v1::Commit() const {
  const int fd = ::open(FileName.c_str(), O_RDWR | O_CLOEXEC);
  if (fd < 0) return false;
  flock(fd, LOCK_EX);
  const off_t size = lseek(fd, 0, SEEK_END);
  char head[3] = {};
  const bool hasTag = size >= off_t(kBlockSize) &&
                      pread(fd, head, 3, size - off_t(kBlockSize)) == 3 &&
                      std::memcmp(head, "TAG", 3) == 0;
  const std::string block = Block();
  const off_t at = hasTag ? size - off_t(kBlockSize) : size;
  const bool written = WriteAllAt(fd, block.data(), kBlockSize, at);
  const int writeError = errno;
  const bool closed = ::close(fd) == 0;
  if (!written) errno = writeError;
  return written && closed;
}

bool WriteID3v1Tag(const std::string &FileName, const TTagRec &Tags) {
  TJvID3v1 tag;
  tag.FileName = FileName;
  tag.SetActive(true);
  tag.Album = ToLatin1(Tags.Album);
  tag.Artist = ToLatin1(Tags.Artist);
  tag.Comment = ToLatin1(Tags.Comment);
  tag.SongName = ToLatin1(Tags.Title);
  tag.Year = ToLatin1(Tags.Year);
  tag.SetGenreAsString(Tags.Genre);
  long track = 0;
  tag.AlbumTrack = ParseInteger(Tags.Track, track) ? uint8_t(track & 0xFF) : 0;
  return tag.Commit();
}
