// SPDX-License-Identifier: GPL-3.0-or-later
#include "encoders/wma/wma_coder.h"

#include <stdexcept>
#include <vector>

#include "tags/wma_tags.h"

TWMACoder::~TWMACoder() {
  if (Handle) BASS_WMA_EncodeClose(Handle);
}

HWMENCODE TWMACoder::Open(DWORD Flags, DWORD Argument) {
  const TAudioInfoRec &s = Stream();
  return BASS_WMA_EncodeOpenFile(DWORD(s.SampleRate), DWORD(s.Channels), Flags, Argument, FileName.c_str());
}

int TWMACoder::Init(std::string &ErrorText) {
  ErrorText.clear();
  try {
    // Every path here is UTF-8, which the library takes as its wide form.
    DWORD flags = IsWideFileNamePlatform ? BASS_UNICODE : 0;
    if (Options.UseProCodec) flags |= BASS_WMA_ENCODE_PRO;
    const DWORD argument = Options.BitrateType == 0 ? DWORD(Options.Bitrate) * 1000
                           : Options.Lossless       ? 100
                                                    : DWORD(Options.Quality);
    Handle = Open(flags, argument);
    if (!Handle && Options.AutoFindBitrate) {
      if (argument <= 100) {
        for (DWORD q = argument; q <= 100 && !Handle; ++q) Handle = Open(flags, q);
      } else if (const DWORD *rates =
                     BASS_WMA_EncodeGetRates(DWORD(Stream().SampleRate), DWORD(Stream().Channels), flags)) {
        std::vector<int32_t> list;
        for (; *rates; ++rates) list.push_back(int32_t(*rates));
        SortIntegers(list, 0, int(list.size()) - 1);
        int32_t chosen = list.back();  // none as high: the highest
        for (int32_t rate : list)
          if (rate >= int32_t(argument)) {
            chosen = rate;
            break;
          }
        Handle = Open(flags, DWORD(chosen));
      }
    }
    if (!Handle) ErrorText = BASS_WMA_ErrorText();
  } catch (const std::exception &e) {
    ErrorText = e.what();
    Handle = 0;
  }
  if (Handle) return 0;
  const int code = BASS_ErrorGetCode();
  return code != BASS_OK ? code : BASS_ERROR_UNKNOWN;  // never a success without an encoder
}

void TWMACoder::DoOutput(const void *Buffer, int Size, bool) {
  if (!BASS_WMA_EncodeWrite(Handle, Buffer, DWORD(Size)))
    throw std::runtime_error("TWMACoder.DoOutput Write Error : " + std::to_string(BASS_ErrorGetCode()) + " (" +
                             BASS_WMA_ErrorText() + ")");
}

void TWMACoder::Finish() {
  if (!Handle) return;
  const HWMENCODE handle = Handle;
  Handle = 0;
  if (!BASS_WMA_EncodeClose(handle)) throw std::runtime_error(BASS_WMA_ErrorText());
  if (!Aborted && Tags.Carried) WriteWMATags(FileName, Tags);
}
