// The encoder of each destination format.
#pragma once

#include <memory>
#include <string>

#include "encoders/coder.h"

// The encoder for `Format`, or null when Tonmill has none for it.
std::unique_ptr<TCustomCoder> CreateCoder(TDestinationFormat Format, const std::string &FileName,
                                          const TTagRec &Tags, const TAudioInfo &AudioInfo);

// True when this build has an encoder for `Format`.
bool HasEncoder(TDestinationFormat Format);

// Fills the library name and version of every destination format's encoder.
void FillCoderVersions();
