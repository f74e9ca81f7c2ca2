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
  return "image/jpeg";
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

}  // namespace

TCoverArt ReadCoverArt(const std::string &FileName) {
  TagLib::FileRef ref(FileName.c_str(), false);
  TagLib::File *file = ref.file();
  if (!file) return {};
  if (auto *f = dynamic_cast<TagLib::MPEG::File *>(file)) return FromID3v2(f->ID3v2Tag());
  if (auto *f = dynamic_cast<TagLib::FLAC::File *>(file)) {
    const TCoverArt own = FromPictures(f->pictureList());
    return own.Empty() ? FromXiph(f->xiphComment()) : own;
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
