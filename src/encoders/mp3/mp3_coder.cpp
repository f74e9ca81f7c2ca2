// SPDX-License-Identifier: GPL-3.0-or-later
#include "encoders/mp3/mp3_coder.h"

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "platform/file_write.h"
#include "tags/id3v1.h"

TMP3Coder::TMP3Coder(const std::string &FileName, const TTagRec &Tags, const TAudioInfo &AudioInfo,
                     const TMP3Options &Options)
    : TCustomCoder(FileName, Tags, AudioInfo), Coder(std::make_unique<TLameCoder>()), Options(Options) {}

void ConfigureLame(TLameCoder &c, const TMP3Options &Options, const TAudioInfoRec &s) {
  if (s.Channels == 1) c.Mode = TLameMode::MONO;
  c.InputChannels = s.Channels;
  // The options, as the library takes them.
  c.Preset = Options.BitrateType == btPRESET ? int8_t(Options.Preset) : int8_t(-1);
  if (Options.BitrateType == btPRESET) c.SetEnableVBR(true);
  if (c.Mode != TLameMode::MONO) c.Mode = Options.StereoMode != 0 ? TLameMode::JSTEREO : TLameMode::STEREO;
  if (Options.BitrateType == btVBR || Options.BitrateType == btPRESET) {
    c.Bitrate = uint32_t(Options.MinBitrate);
    c.MaxBitrate = uint32_t(Options.MaxBitrate);
    c.SetEnableVBR(true);
    c.VBRQuality = Options.Quality;
    c.VBRMethod = Options.VBRMethod;
  } else if (Options.BitrateType == btCBR) {
    c.Bitrate = uint32_t(Options.Bitrate);
    c.EnableVBR = false;
    c.EnableABR = false;
    c.WriteVBRHeader = false;
  }
  c.SampleRate = uint32_t(s.SampleRate);
}

int StartLameStream(TLameCoder &c, const TMP3Options &Options) {
  int result = c.InitStream();
  if (result != LameRejectedParameters || !Options.AutoFindBitrate) return result;
  // Lowers the (minimum) bitrate from `from` one kbit/s at a time until accepted.
  auto lowerBitrateFrom = [&](int32_t from) {
    for (c.Bitrate = uint32_t(from); result < 0 && c.Bitrate > 0;) {
      --c.Bitrate;
      result = c.InitStream();
    }
  };
  if (Options.BitrateType == btCBR) {
    lowerBitrateFrom(Options.Bitrate);
    return result;
  }
  lowerBitrateFrom(Options.MinBitrate);
  if (result < 0) {
    c.Bitrate = uint32_t(Options.MinBitrate);
    for (c.MaxBitrate = uint32_t(Options.MaxBitrate); result < 0 && c.MaxBitrate > 0;) {
      --c.MaxBitrate;
      if (c.Bitrate > c.MaxBitrate) c.Bitrate = c.MaxBitrate;
      result = c.InitStream();
    }
  }
  return result;
}

int TMP3Coder::Init(std::string &ErrorText) {
  ErrorText.clear();
  try {
    const TAudioInfoRec &s = Stream();
    ConfigureLame(*Coder, Options, s);
    int result;
    if (s.Channels < 1 || s.Channels > 2) {
      result = 1;
      ErrorText = "MP3 holds one or two channels; the source has " + std::to_string(s.Channels);
    } else {
      result = StartLameStream(*Coder, Options);
      if (result != 0)
        ErrorText = "The MP3 encoder refuses these settings (code " + std::to_string(result) + ")";
    }
    CreateOutput();  // also after a refusal, as Finish expects
    return result;
  } catch (const std::exception &e) {
    ErrorText = e.what();
    return 1;
  }
}

int TMP3Coder::GetBufferSize() {
  const TAudioInfoRec &s = Stream();
  return s.Channels * s.BitsPerSample / 8 * int(Coder->SamplesPerChunk);
}

void TMP3Coder::DoOutput(const void *Buffer, int Size, bool) {
  if (Size <= 0) return;
  WriteEncoded(*OutStream, EncodeMP3Samples(*Coder, Buffer, Size, Stream().BitsPerSample));
}

uint32_t EncodeMP3Samples(TLameCoder &Coder, const void *Buffer, int Size, int BitsPerSample) {
  uint32_t bytes = 0;
  // 24-bit and float sources come as floats, the others as 16-bit integers.
  const int result = BitsPerSample == 32
                         ? Coder.EncodeChunk(static_cast<const float *>(Buffer), uint32_t(Size / 4), bytes)
                         : Coder.EncodeChunk(static_cast<const int16_t *>(Buffer), uint32_t(Size / 2), bytes);
  if (result != 0) throw std::runtime_error("TLameCoder.beEncodeChunk failed " + std::to_string(result));
  return bytes;
}

void TMP3Coder::WriteEncoded(TFileStream &To, uint32_t Bytes) {
  try {
    To.Write(Coder->OutputBuffer.data(), Bytes);
  } catch (const std::exception &e) {
    throw std::runtime_error(std::string("TLameCoder.ProcessBuffer: Write error. ") + e.what());
  }
}

void TMP3Coder::Finish() {
  if (!OutStream) {
    Coder->CloseStream();
    return;
  }
  std::unique_ptr<TFileStream> stream = std::move(OutStream);
  // The library's own errors while flushing leave the frames it has; a
  // failed write of them fails the file.
  uint32_t bytes = 0;
  const bool flushed = Coder->StreamStarted() && Coder->DeinitStream(bytes) == 0;
  Coder->CloseStream();
  if (flushed && bytes > 0) WriteEncoded(*stream, bytes);
  stream->Close();

  if ((Options.BitrateType == btVBR || Options.BitrateType == btPRESET) && !Aborted) {
    const int result = Coder->WriteVBRFrame(FileName);
    if (result != 0) {
      std::string message = "beWriteVBRHeader2 " + std::to_string(result);
      if (result != LameNoTagFrame) message += ". " + FileErrorText("Cannot write to file", FileName, errno);
      throw std::runtime_error(message);
    }
  }
  if (!Aborted) AppendID3v1(FileName, Tags);
}

void AppendID3v1(const std::string &FileName, const TTagRec &Tags) {
  if (Tags.Carried && !WriteID3v1Tag(FileName, Tags))
    throw std::runtime_error("WriteID3v1Tag: " + FileErrorText("Cannot write to file", FileName, errno));
}
