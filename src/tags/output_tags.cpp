// SPDX-License-Identifier: GPL-3.0-or-later
#include "tags/output_tags.h"

#include <taglib/apefile.h>
#include <taglib/apeitem.h>
#include <taglib/apetag.h>
#include <taglib/asffile.h>
#include <taglib/asfpicture.h>
#include <taglib/asftag.h>
#include <taglib/attachedpictureframe.h>
#include <taglib/flacfile.h>
#include <taglib/flacpicture.h>
#include <taglib/id3v2framefactory.h>
#include <taglib/id3v2tag.h>
#include <taglib/infotag.h>
#include <taglib/mp4coverart.h>
#include <taglib/mp4file.h>
#include <taglib/mp4tag.h>
#include <taglib/mpegfile.h>
#include <taglib/opusfile.h>
#include <taglib/textidentificationframe.h>
#include <taglib/tpropertymap.h>
#include <taglib/vorbisfile.h>
#include <taglib/wavfile.h>
#include <taglib/wavpackfile.h>
#include <taglib/xiphcomment.h>

#include <fmt/format.h>

#include <stdexcept>
#include <utility>
#include <vector>

#include "tags/checked_file_stream.h"

namespace {

TagLib::ByteVector Bytes(const std::string &Data) { return TagLib::ByteVector(Data.data(), unsigned(Data.size())); }

// The tag's own fields with ours set over them.
TagLib::PropertyMap Merged(TagLib::PropertyMap Properties, const TTagRec &Tags) {
  const std::pair<const char *, const std::string *> fields[] = {
      {"TITLE", &Tags.Title}, {"ARTIST", &Tags.Artist}, {"ALBUM", &Tags.Album}, {"DATE", &Tags.Year},
      {"TRACKNUMBER", &Tags.Track}, {"GENRE", &Tags.Genre}, {"COMMENT", &Tags.Comment}};
  for (const auto &[key, value] : fields) {
    if (value->empty() || (value == &Tags.Track && *value == "0")) continue;
    Properties.replace(key, TagLib::StringList(TagLib::String(*value, TagLib::String::UTF8)));
  }
  return Properties;
}

void SetFields(TagLib::Tag &Tag, const TTagRec &Tags) { Tag.setProperties(Merged(Tag.properties(), Tags)); }

// The loudness fields as players read them: "-6.52 dB" and "0.988547"; Opus
// has its own integer gains and no peaks.
using TFieldList = std::vector<std::pair<std::string, std::string>>;
TFieldList ReplayGainFields(const TReplayGainRec &Gain, bool Opus = false) {
  TFieldList fields;
  if (Opus) {
    if (Gain.HasTrack) fields.emplace_back("R128_TRACK_GAIN", std::to_string(Gain.R128TrackGain));
    if (Gain.HasAlbum) fields.emplace_back("R128_ALBUM_GAIN", std::to_string(Gain.R128AlbumGain));
    return fields;
  }
  if (Gain.HasTrack) {
    fields.emplace_back("REPLAYGAIN_TRACK_GAIN", fmt::format("{:.2f} dB", Gain.TrackGain));
    fields.emplace_back("REPLAYGAIN_TRACK_PEAK", fmt::format("{:.6f}", Gain.TrackPeak));
  }
  if (Gain.HasAlbum) {
    fields.emplace_back("REPLAYGAIN_ALBUM_GAIN", fmt::format("{:.2f} dB", Gain.AlbumGain));
    fields.emplace_back("REPLAYGAIN_ALBUM_PEAK", fmt::format("{:.6f}", Gain.AlbumPeak));
  }
  return fields;
}

TagLib::String Utf8(const std::string &Text) { return TagLib::String(Text, TagLib::String::UTF8); }

void AddReplayGain(TagLib::Ogg::XiphComment &Tag, const TReplayGainRec &Gain, bool Opus = false) {
  for (const auto &[key, value] : ReplayGainFields(Gain, Opus)) Tag.addField(key, Utf8(value), true);
}

void AddReplayGain(TagLib::APE::Tag &Tag, const TReplayGainRec &Gain) {
  for (const auto &[key, value] : ReplayGainFields(Gain)) Tag.addValue(key, Utf8(value), true);
}

// TXXX frames named after the field.
void AddReplayGain(TagLib::ID3v2::Tag &Tag, const TReplayGainRec &Gain) {
  for (const auto &[key, value] : ReplayGainFields(Gain)) {
    while (auto *old = TagLib::ID3v2::UserTextIdentificationFrame::find(&Tag, key)) Tag.removeFrame(old);
    auto *frame = new TagLib::ID3v2::UserTextIdentificationFrame(TagLib::String::UTF8);
    frame->setDescription(key);
    frame->setText(Utf8(value));
    Tag.addFrame(frame);
  }
}

// iTunes freeform atoms.
void AddReplayGain(TagLib::MP4::Tag &Tag, const TReplayGainRec &Gain) {
  for (const auto &[key, value] : ReplayGainFields(Gain))
    Tag.setItem("----:com.apple.iTunes:" + key, TagLib::MP4::Item(TagLib::StringList(Utf8(value))));
}

void AddReplayGain(TagLib::ASF::Tag &Tag, const TReplayGainRec &Gain) {
  for (const auto &[key, value] : ReplayGainFields(Gain)) Tag.setAttribute(key, TagLib::ASF::Attribute(Utf8(value)));
}

void AddPicture(TagLib::ID3v2::Tag &Tag, const TCoverArt &Cover) {
  if (Cover.Empty()) return;
  auto *frame = new TagLib::ID3v2::AttachedPictureFrame;
  frame->setTextEncoding(TagLib::String::UTF8);
  frame->setMimeType(Cover.MimeType);
  frame->setType(TagLib::ID3v2::AttachedPictureFrame::FrontCover);
  frame->setPicture(Bytes(Cover.Data));
  Tag.removeFrames("APIC");
  Tag.addFrame(frame);
}

TagLib::FLAC::Picture *FlacPicture(const TCoverArt &Cover) {
  auto *picture = new TagLib::FLAC::Picture;
  picture->setMimeType(Cover.MimeType);
  picture->setType(TagLib::FLAC::Picture::FrontCover);
  picture->setData(Bytes(Cover.Data));
  return picture;
}

// APEv2 keeps a cover as a file name, a zero byte and the image.
void AddPicture(TagLib::APE::Tag &Tag, const TCoverArt &Cover) {
  if (Cover.Empty()) return;
  const std::string name = Cover.MimeType == "image/png" ? "cover.png" : "cover.jpg";
  TagLib::ByteVector value(name.c_str(), unsigned(name.size() + 1));
  value.append(Bytes(Cover.Data));
  Tag.setItem("Cover Art (Front)", TagLib::APE::Item("Cover Art (Front)", value, true));
}

template <class TFile>
bool SaveAPEv2(TagLib::IOStream &Stream, const TTagRec &Tags, const TCoverArt &Cover) {
  TFile file(&Stream, false);
  if (!file.isValid()) return false;
  SetFields(*file.APETag(true), Tags);
  AddPicture(*file.APETag(), Cover);
  AddReplayGain(*file.APETag(), Tags.ReplayGain);
  return file.save();
}

// Vorbis comments in an Ogg stream, the cover as a picture block in them.
template <class TFile>
bool SaveXiph(TagLib::IOStream &Stream, const TTagRec &Tags, const TCoverArt &Cover, bool Opus) {
  TFile file(&Stream, false);
  if (!file.isValid() || !file.tag()) return false;
  SetFields(*file.tag(), Tags);
  AddReplayGain(*file.tag(), Tags.ReplayGain, Opus);
  if (!Cover.Empty()) {
    file.tag()->removeAllPictures();
    file.tag()->addPicture(FlacPicture(Cover));
  }
  return file.save();
}

}  // namespace

namespace tag_writers {

bool MP3(TagLib::IOStream &Stream, const TTagRec &Tags, const TCoverArt &Cover) {
  TagLib::MPEG::File file(&Stream, TagLib::ID3v2::FrameFactory::instance(), false);
  if (!file.isValid()) return false;
  SetFields(*file.ID3v2Tag(true), Tags);
  AddPicture(*file.ID3v2Tag(), Cover);
  AddReplayGain(*file.ID3v2Tag(), Tags.ReplayGain);
  // The ID3v1 block the encoder wrote stays as it is.
  return file.save(TagLib::MPEG::File::ID3v2, TagLib::File::StripNone, TagLib::ID3v2::v4,
                   TagLib::File::DoNotDuplicate);
}

bool Ogg(TagLib::IOStream &Stream, const TTagRec &Tags, const TCoverArt &Cover) {
  return SaveXiph<TagLib::Ogg::Vorbis::File>(Stream, Tags, Cover, false);
}

bool Opus(TagLib::IOStream &Stream, const TTagRec &Tags, const TCoverArt &Cover) {
  return SaveXiph<TagLib::Ogg::Opus::File>(Stream, Tags, Cover, true);
}

bool FLAC(TagLib::IOStream &Stream, const TTagRec &Tags, const TCoverArt &Cover) {
  TagLib::FLAC::File file(&Stream, TagLib::ID3v2::FrameFactory::instance(), false);
  if (!file.isValid()) return false;
  SetFields(*file.xiphComment(true), Tags);
  AddReplayGain(*file.xiphComment(), Tags.ReplayGain);
  if (!Cover.Empty()) {
    file.removePictures();
    file.addPicture(FlacPicture(Cover));
  }
  return file.save();
}

bool APE(TagLib::IOStream &Stream, const TTagRec &Tags, const TCoverArt &Cover) {
  return SaveAPEv2<TagLib::APE::File>(Stream, Tags, Cover);
}

bool WavPack(TagLib::IOStream &Stream, const TTagRec &Tags, const TCoverArt &Cover) {
  return SaveAPEv2<TagLib::WavPack::File>(Stream, Tags, Cover);
}

bool WMA(TagLib::IOStream &Stream, const TTagRec &Tags, const TCoverArt &Cover) {
  const TReplayGainRec &gain = Tags.ReplayGain;
  if (Cover.Empty() && !gain.HasTrack && !gain.HasAlbum) return true;  // its encoder wrote the rest
  TagLib::ASF::File file(&Stream, false);
  if (!file.isValid() || !file.tag()) return false;
  AddReplayGain(*file.tag(), gain);
  if (Cover.Empty()) return file.save();
  TagLib::ASF::Picture picture;
  picture.setMimeType(Cover.MimeType);
  picture.setType(TagLib::ASF::Picture::FrontCover);
  picture.setPicture(Bytes(Cover.Data));
  file.tag()->setAttribute("WM/Picture", TagLib::ASF::Attribute(picture));
  return file.save();
}

bool WAV(TagLib::IOStream &Stream, const TTagRec &Tags, const TCoverArt &Cover) {
  TagLib::RIFF::WAV::File file(&Stream, false);
  if (!file.isValid()) return false;
  SetFields(*file.InfoTag(), Tags);
  SetFields(*file.ID3v2Tag(), Tags);
  AddPicture(*file.ID3v2Tag(), Cover);
  AddReplayGain(*file.ID3v2Tag(), Tags.ReplayGain);
  return file.save(TagLib::RIFF::WAV::File::AllTags, TagLib::File::StripNone, TagLib::ID3v2::v4);
}

bool MP4(TagLib::IOStream &Stream, const TTagRec &Tags, const TCoverArt &Cover) {
  TagLib::MP4::File file(&Stream, false);
  if (!file.isValid() || !file.tag()) return false;
  SetFields(*file.tag(), Tags);
  AddReplayGain(*file.tag(), Tags.ReplayGain);
  if (!Cover.Empty())
    file.tag()->setItem("covr", TagLib::MP4::CoverArtList().append(TagLib::MP4::CoverArt(
                                    Cover.MimeType == "image/png" ? TagLib::MP4::CoverArt::PNG : TagLib::MP4::CoverArt::JPEG,
                                    Bytes(Cover.Data))));
  return file.save();
}

// A raw stream has no place for tags of its own; players and FFmpeg read an
// ID3v2 tag before the first frame. Written again (the album's loudness
// added), the new tag takes the old one's place: it carries all of it.
bool ID3Head(TagLib::IOStream &Stream, const TTagRec &Tags, const TCoverArt &Cover) {
  TagLib::ID3v2::Tag tag;
  SetFields(tag, Tags);
  AddPicture(tag, Cover);
  AddReplayGain(tag, Tags.ReplayGain);
  Stream.seek(0);
  const TagLib::ByteVector head = Stream.readBlock(10);
  Stream.seek(0);
  if (head.size() == 10 && head.startsWith("ID3")) {
    unsigned long size = 10 + (head[6] & 0x7fUL) * 2097152 + (head[7] & 0x7fUL) * 16384 + (head[8] & 0x7fUL) * 128 +
                         (head[9] & 0x7fUL);
    if (head[5] & 0x10) size += 10;  // a footer
    Stream.removeBlock(0, size);
  }
  if (!tag.isEmpty()) Stream.insert(tag.render(TagLib::ID3v2::v4), 0, 0);
  return true;
}

bool MP4OrID3Head(TagLib::IOStream &Stream, const TTagRec &Tags, const TCoverArt &Cover) {
  Stream.seek(4);
  const bool mp4 = Stream.readBlock(4) == "ftyp";
  Stream.seek(0);
  return mp4 ? MP4(Stream, Tags, Cover) : ID3Head(Stream, Tags, Cover);
}

}  // namespace tag_writers

void WriteOutputTags(const std::string &FileName, TTagWriter Writer, const TTagRec &Tags, const TCoverArt &Cover) {
  if (!Writer) throw EAssertFailed("Assert failed : no tag writer for \"" + FileName + "\"");
  TCheckedFileStream stream(FileName);
  const bool saved = Writer(stream, Tags, Cover);
  stream.Close();  // a failed write is reported first: it may be why saving failed
  if (!saved) throw std::runtime_error("Could not write the tags of \"" + FileName + "\"");
}
