#include "encoders/coders.h"

std::unique_ptr<TCustomCoder> CreateCoder(TDestinationFormat Format, const std::string &FileName,
                                          const TTagRec &Tags, const TAudioInfo &AudioInfo) {
  switch (Format) {
    case dfWAV: return std::make_unique<TWAVCoder>(FileName, Tags, AudioInfo);
    default: return nullptr;
  }
}

bool HasEncoder(TDestinationFormat Format) {
  return CreateCoder(Format, std::string(), TTagRec{}, TAudioInfo{}) != nullptr;
}
