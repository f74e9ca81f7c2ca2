#include "encoders/coders.h"

#include <FLAC/format.h>

#include "encoders/ape_coder.h"
#include "encoders/flac_coder.h"
#include "encoders/mp3_coder.h"

std::unique_ptr<TCustomCoder> CreateCoder(TDestinationFormat Format, const std::string &FileName,
                                          const TTagRec &Tags, const TAudioInfo &AudioInfo) {
  switch (Format) {
    case dfMP3: return std::make_unique<TMP3Coder>(FileName, Tags, AudioInfo);
    case dfAPE: return std::make_unique<TAPECoder>(FileName, Tags, AudioInfo);
    case dfFLAC: return std::make_unique<TFLACCoder>(FileName, Tags, AudioInfo);
    case dfWAV: return std::make_unique<TWAVCoder>(FileName, Tags, AudioInfo);
    default: return nullptr;
  }
}

bool HasEncoder(TDestinationFormat Format) {
  return CreateCoder(Format, std::string(), TTagRec{}, TAudioInfo{}) != nullptr;
}

void FillCoderVersions() {
  const TLameVersion lame = TLameCoder::Version();
  TCoderVersionRec &mp3 = DestinationFileTypes[dfMP3 - 1].CoderVersion;
  mp3.VersionText = lame.Text;
  mp3.MajorVersion = lame.EncoderMajor;
  mp3.MinorVersion = lame.EncoderMinor;
  mp3.LibraryName = "libmp3lame.so.0";

  TCoderVersionRec &ape = DestinationFileTypes[dfAPE - 1].CoderVersion;
  ape.VersionText = APECompressorVersion();
  ape.MajorVersion = 3;
  ape.MinorVersion = 99;
  ape.LibraryName = "MACDll (built in)";

  TCoderVersionRec &flac = DestinationFileTypes[dfFLAC - 1].CoderVersion;
  flac.VersionText = FLAC__VERSION_STRING;
  flac.LibraryName = "libFLAC.so.12";
}
