// SPDX-License-Identifier: GPL-3.0-or-later
#include "tags/cover_art.h"

#include <taglib/apefile.h>
#include <taglib/apetag.h>
#include <taglib/asffile.h>
#include <taglib/asftag.h>
#include <taglib/attachedpictureframe.h>
#include <taglib/fileref.h>
#include <taglib/flacfile.h>
#include <taglib/id3v2tag.h>
#include <taglib/mp4file.h>
#include <taglib/mp4tag.h>
#include <taglib/mpegfile.h>
#include <taglib/opusfile.h>
#include <taglib/vorbisfile.h>
#include <taglib/wavfile.h>
#include <taglib/wavpackfile.h>
#include <taglib/xiphcomment.h>

#include <cstring>

namespace {

TCoverArt Cover(const TagLib::String &Mime, const TagLib::ByteVector &Data) {
  return {Mime.to8Bit(), std::string(Data.data(), Data.size())};
}

// What the image's first bytes say it is (for tags that do not store a type).
std::string MimeOf(const TagLib::ByteVector &Data) {
  if (Data.startsWith("\x89PNG")) return "image/png";
  if (Data.startsWith("GIF8")) return "image/gif";
  if (Data.startsWith("BM")) return "image/bmp";
  if (Data.startsWith("RIFF") && Data.containsAt("WEBP", 8)) return "image/webp";
  return "image/jpeg";
}

// Reads the bytes of an image, never past its end.
struct TImageBytes {
  const std::string &Data;
  uint32_t At(size_t i) const { return uint8_t(Data[i]); }
  uint32_t Big16(size_t i) const { return At(i) << 8 | At(i + 1); }
  uint32_t Big32(size_t i) const { return Big16(i) << 16 | Big16(i + 2); }
  uint32_t Little16(size_t i) const { return At(i) | At(i + 1) << 8; }
  uint32_t Little32(size_t i) const { return Little16(i) | Little16(i + 2) << 16; }
  bool Is(size_t i, const char *Text) const {
    const size_t n = std::strlen(Text);
    return i <= Data.size() && n <= Data.size() - i && Data.compare(i, n, Text) == 0;
  }
};

// The signature, a first IHDR chunk, then chunks within the bytes up to IEND.
bool WholePng(const TImageBytes &b) {
  const size_t size = b.Data.size();
  if (size < 8 || b.Data.compare(0, 8, "\x89PNG\r\n\x1a\n", 8) != 0) return false;
  for (size_t at = 8; size - at >= 12;) {
    const uint64_t length = b.Big32(at);
    if (length > size - at - 12) return false;
    if (at == 8 && (!b.Is(at + 4, "IHDR") || length != 13)) return false;
    if (b.Is(at + 4, "IEND")) return true;
    at += 12 + length;
  }
  return false;
}

// Start of image, segments of their stated lengths, a frame header, the coded
// data after each scan header, up to the end-of-image marker.
bool WholeJpeg(const TImageBytes &b) {
  const size_t size = b.Data.size();
  if (size < 4 || b.At(0) != 0xFF || b.At(1) != 0xD8) return false;
  auto restart = [](uint32_t m) { return m >= 0xD0 && m <= 0xD7; };
  bool frame = false;
  for (size_t at = 2; at < size;) {
    if (b.At(at) != 0xFF) return false;
    while (at < size && b.At(at) == 0xFF) ++at;  // fill bytes
    if (at == size) return false;
    const uint32_t marker = b.At(at++);
    if (marker == 0xD9) return frame;
    if (marker == 0x01 || restart(marker)) continue;  // markers without a length
    if (marker == 0x00 || marker == 0xD8 || size - at < 2) return false;
    const size_t length = b.Big16(at);
    if (length < 2 || length > size - at) return false;
    if (marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC) frame = true;
    at += length;
    if (marker == 0xDA) {
      if (!frame) return false;
      // Coded data runs to the next marker: not a stuffed zero, not a restart.
      while (at + 1 < size && !(b.At(at) == 0xFF && b.At(at + 1) != 0 && !restart(b.At(at + 1)))) ++at;
      if (at + 1 >= size) return false;
    }
  }
  return false;
}

// Header, screen descriptor, colour tables, extensions and images as
// chains of sub-blocks, up to the trailer.
bool WholeGif(const TImageBytes &b) {
  const size_t size = b.Data.size();
  if (size < 13 || !(b.Is(0, "GIF87a") || b.Is(0, "GIF89a"))) return false;
  auto table = [](uint32_t flags) { return flags & 0x80 ? size_t(3) << ((flags & 7) + 1) : size_t(0); };
  size_t at = 13 + table(b.At(10));
  auto subBlocks = [&] {
    while (at < size) {
      const size_t n = b.At(at++);
      if (n == 0) return true;
      at += n;
    }
    return false;
  };
  int images = 0;
  while (at < size) {
    const uint32_t kind = b.At(at++);
    if (kind == 0x3B) return images > 0;
    if (kind == 0x21) {  // extension: its label, then its sub-blocks
      if (++at > size || !subBlocks()) return false;
    } else if (kind == 0x2C) {  // image: descriptor, colour table, code size, data
      if (size - at < 10) return false;
      at += 9 + table(b.At(at + 8)) + 1;
      if (at > size || !subBlocks()) return false;
      ++images;
    } else {
      return false;
    }
  }
  return false;
}

// File header and info header, the stated file size within the bytes, the
// pixels (uncompressed: every row) within the file.
bool WholeBmp(const TImageBytes &b) {
  const size_t size = b.Data.size();
  if (size < 26 || !b.Is(0, "BM")) return false;
  const uint64_t fileSize = b.Little32(2), offset = b.Little32(10), header = b.Little32(14);
  if (fileSize > size || header < 12 || 14 + header > offset || offset >= fileSize) return false;
  if (header < 40 || size < 54) return true;
  const int64_t width = int32_t(b.Little32(18)), height = int32_t(b.Little32(22));
  const uint32_t bits = b.Little16(28), compression = b.Little32(30);
  if (width <= 0 || height == 0 || width > 1 << 16 || height > 1 << 16 || height < -(1 << 16) || bits == 0)
    return false;
  if (compression != 0 && compression != 3) return true;  // run-length coded: no size to check
  const uint64_t row = (uint64_t(width) * bits + 31) / 32 * 4;
  return row * uint64_t(height < 0 ? -height : height) <= fileSize - offset;
}

// The RIFF size within the bytes, chunks within it, one of them an image.
bool WholeWebp(const TImageBytes &b) {
  const size_t size = b.Data.size();
  if (size < 20 || !b.Is(0, "RIFF") || !b.Is(8, "WEBP")) return false;
  const uint64_t end = uint64_t(b.Little32(4)) + 8;
  if (end > size) return false;
  bool image = false;
  for (uint64_t at = 12; at + 8 <= end;) {
    const uint64_t length = b.Little32(size_t(at) + 4);
    if (length > end - at - 8) return false;
    if ((b.Is(size_t(at), "VP8 ") || b.Is(size_t(at), "VP8L") || b.Is(size_t(at), "ANMF")) && length > 0)
      image = true;
    at += 8 + length + (length & 1);
  }
  return image;
}

TCoverArt FromID3v2(TagLib::ID3v2::Tag *Tag) {
  if (!Tag) return {};
  const TagLib::ID3v2::FrameList &frames = Tag->frameListMap()["APIC"];
  TagLib::ID3v2::AttachedPictureFrame *first = nullptr;
  for (TagLib::ID3v2::Frame *frame : frames) {
    auto *picture = dynamic_cast<TagLib::ID3v2::AttachedPictureFrame *>(frame);
    if (!picture) continue;
    if (picture->type() == TagLib::ID3v2::AttachedPictureFrame::FrontCover)
      return Cover(picture->mimeType(), picture->picture());
    if (!first) first = picture;
  }
  return first ? Cover(first->mimeType(), first->picture()) : TCoverArt{};
}

TCoverArt FromPictures(const TagLib::List<TagLib::FLAC::Picture *> &Pictures) {
  for (TagLib::FLAC::Picture *picture : Pictures)
    if (picture->type() == TagLib::FLAC::Picture::FrontCover) return Cover(picture->mimeType(), picture->data());
  if (Pictures.isEmpty()) return {};
  return Cover(Pictures.front()->mimeType(), Pictures.front()->data());
}

TCoverArt FromXiph(TagLib::Ogg::XiphComment *Tag) { return Tag ? FromPictures(Tag->pictureList()) : TCoverArt{}; }

// The picture blocks a FLAC file's metadata holds, by their headers: TagLib
// leaves out one whose image is stated longer than the block.
unsigned FlacPictureBlocks(TagLib::File &File) {
  File.seek(0);
  const TagLib::ByteVector id3 = File.readBlock(10);
  long at = 0;
  if (id3.size() == 10 && id3.startsWith("ID3"))  // a tag in front, of a syncsafe size
    at = 10 + long((id3[6] & 0x7f) << 21 | (id3[7] & 0x7f) << 14 | (id3[8] & 0x7f) << 7 | (id3[9] & 0x7f)) +
         (id3[5] & 0x10 ? 10 : 0);
  File.seek(at);
  if (File.readBlock(4) != TagLib::ByteVector("fLaC", 4)) return 0;
  at += 4;
  unsigned pictures = 0;
  for (int blocks = 0; blocks < 4096; ++blocks) {
    File.seek(at);
    const TagLib::ByteVector header = File.readBlock(4);
    if (header.size() < 4) break;
    if ((header[0] & 0x7f) == 6) ++pictures;
    if (header[0] & 0x80) break;  // the last block
    at += 4 + long(header.toUInt(1U, 3U));
  }
  return pictures;
}

// An APEv2 cover item holds a file name, a zero byte, then the image.
TCoverArt FromAPE(TagLib::APE::Tag *Tag) {
  if (!Tag) return {};
  const TagLib::APE::ItemListMap &items = Tag->itemListMap();
  const auto it = items.find("COVER ART (FRONT)");
  if (it == items.end()) return {};
  const TagLib::ByteVector value = it->second.binaryData();
  const int zero = value.find('\0');
  if (zero < 0) return {};
  const TagLib::ByteVector image = value.mid(unsigned(zero) + 1);
  return image.isEmpty() ? TCoverArt{} : Cover(MimeOf(image), image);
}

TCoverArt FromMP4(TagLib::MP4::Tag *Tag) {
  if (!Tag || !Tag->contains("covr")) return {};
  const TagLib::MP4::CoverArtList covers = Tag->item("covr").toCoverArtList();
  if (covers.isEmpty()) return {};
  const TagLib::MP4::CoverArt &cover = covers.front();
  const char *mime = cover.format() == TagLib::MP4::CoverArt::PNG   ? "image/png"
                     : cover.format() == TagLib::MP4::CoverArt::BMP ? "image/bmp"
                     : cover.format() == TagLib::MP4::CoverArt::GIF ? "image/gif"
                                                                     : "image/jpeg";
  return Cover(mime, cover.data());
}

TCoverArt FromASF(TagLib::ASF::Tag *Tag) {
  if (!Tag || !Tag->contains("WM/Picture")) return {};
  for (const TagLib::ASF::Attribute &attribute : Tag->attribute("WM/Picture")) {
    const TagLib::ASF::Picture picture = attribute.toPicture();
    if (picture.isValid()) return Cover(picture.mimeType(), picture.picture());
  }
  return {};
}

TCoverArt ReadAnyCover(const std::string &FileName) {
  TagLib::FileRef ref(FileName.c_str(), false);
  TagLib::File *file = ref.file();
  if (!file) return {};
  if (auto *f = dynamic_cast<TagLib::MPEG::File *>(file)) return FromID3v2(f->ID3v2Tag());
  if (auto *f = dynamic_cast<TagLib::FLAC::File *>(file)) {
    TCoverArt cover = FromPictures(f->pictureList());
    if (cover.Empty()) cover = FromXiph(f->xiphComment());
    if (cover.Empty() && FlacPictureBlocks(*f) > f->pictureList().size()) cover.Damaged = true;
    return cover;
  }
  if (auto *f = dynamic_cast<TagLib::Ogg::Vorbis::File *>(file)) return FromXiph(f->tag());
  if (auto *f = dynamic_cast<TagLib::Ogg::Opus::File *>(file)) return FromXiph(f->tag());
  if (auto *f = dynamic_cast<TagLib::MP4::File *>(file)) return FromMP4(f->tag());
  if (auto *f = dynamic_cast<TagLib::APE::File *>(file)) return FromAPE(f->APETag());
  if (auto *f = dynamic_cast<TagLib::WavPack::File *>(file)) return FromAPE(f->APETag());
  if (auto *f = dynamic_cast<TagLib::ASF::File *>(file)) return FromASF(f->tag());
  if (auto *f = dynamic_cast<TagLib::RIFF::WAV::File *>(file)) return FromID3v2(f->ID3v2Tag());
  return {};
}

}  // namespace

bool ReadsAsImage(const std::string &Data) {
  const TImageBytes b{Data};
  return WholeJpeg(b) || WholePng(b) || WholeGif(b) || WholeBmp(b) || WholeWebp(b);
}

// A damaged picture would be copied into every output as it is.
TCoverArt ReadCoverArt(const std::string &FileName) {
  TCoverArt cover = ReadAnyCover(FileName);
  if (!cover.Empty() && !ReadsAsImage(cover.Data)) return {.MimeType = {}, .Data = {}, .Damaged = true};
  return cover;  // Damaged too when the file holds a picture that could not be read at all
}
