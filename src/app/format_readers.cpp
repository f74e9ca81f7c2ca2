#include "app/format_readers.h"

std::string ReadFormatCommandLine(TDestinationFormat Format, const TCommandLine &,
                                  const TSettingsStore &, TCoder_engine &) {
  switch (Format) {
    case dfWAV: return "WAV Parameters = (none)";
    default: return {};
  }
}
