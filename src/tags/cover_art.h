// The front cover embedded in a source, to carry into its outputs.
#pragma once

#include <string>

struct TCoverArt {
  std::string MimeType;  // "image/jpeg", "image/png"
  std::string Data;      // the image file's bytes; empty: no cover
  bool Empty() const { return Data.empty(); }
};

// The source's front cover, or its first picture when none is marked front
// cover; empty when it has none or its type holds none TagLib knows.
TCoverArt ReadCoverArt(const std::string &FileName);
